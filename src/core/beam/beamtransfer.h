// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "beamfailure.h"

#include <QObject>
#include <QString>
#include <QTimer>

// One file on its way to one receiving device, by whichever link. It ends exactly once, in success or in a failure
// that says why; a transfer that makes no progress for the stall limit (a phone's owner must accept the file) ends
// as a failure too.
class BeamTransfer : public QObject
{
    Q_OBJECT
public:
    // device: the receiver as the operator knows it, for the reasons of a failure.
    BeamTransfer(const QString &device, QObject *parent);

    virtual void start(const QString &fileName) = 0;

    static int stallLimitMs();
    // Tests shorten the two minutes a transfer may go without progress.
    static void setStallLimitForTesting(int milliseconds);

Q_SIGNALS:
    void ended(const BeamFailure &failure);
    // How much of the file has arrived, in per cent.
    void progressed(int percent);

protected:
    // Restarts the stall watch; start() calls it once too.
    void madeProgress();
    void end(const BeamFailure &failure);
    QString device() const { return m_device; }
    bool hasEnded() const { return m_ended; }
    // Stops the transfer after a stall; end() follows.
    virtual void abort() = 0;

private:
    QString m_device;
    QTimer m_stallWatch;
    bool m_ended = false;
};

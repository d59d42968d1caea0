// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

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
    explicit BeamTransfer(QObject *parent);

    virtual void start(const QString &fileName) = 0;

    static int stallLimitMs();
    // Tests shorten the two minutes a transfer may go without progress.
    static void setStallLimitForTesting(int milliseconds);

Q_SIGNALS:
    // failure is empty when the file arrived.
    void ended(const QString &failure);

protected:
    // Restarts the stall watch; start() calls it once too.
    void madeProgress();
    void end(const QString &failure);
    bool hasEnded() const { return m_ended; }
    // Stops the transfer after a stall; end() follows.
    virtual void abort() = 0;

private:
    QTimer m_stallWatch;
    bool m_ended = false;
};

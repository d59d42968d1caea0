// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "beamtransfer.h"

#include <QDBusObjectPath>
#include <QList>
#include <QPair>
#include <QVariantMap>

class QDBusMessage;
class QDBusPendingCallWatcher;

// An OBEX Object Push to one Bluetooth device through BlueZ's obexd on the session bus: a session for the device,
// the file sent in it, the transfer's status followed to its end, and the session removed again.
class BluetoothBeam : public BeamTransfer
{
    Q_OBJECT
public:
    BluetoothBeam(const QString &address, QObject *parent);
    // A beam still running is cancelled with its owner.
    ~BluetoothBeam() override;

    void start(const QString &fileName) override;

protected:
    void abort() override;

private Q_SLOTS:
    void transferChanged(const QDBusMessage &message);

private:
    void sessionCreated(QDBusPendingCallWatcher *call);
    void fileSent(QDBusPendingCallWatcher *call);
    void follow(const QVariantMap &changed);
    void finish(const QString &failure);
    void removeSession();

    QString m_address;
    QString m_fileName;
    QDBusObjectPath m_session;
    QDBusObjectPath m_transfer;
    // Status changes that arrive before SendFile's reply names the transfer.
    QList<QPair<QString, QVariantMap>> m_early;
};

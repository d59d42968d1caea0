// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "beamtransfer.h"

#include <QDBusObjectPath>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QVariantMap>

class QDBusMessage;
class QDBusPendingCallWatcher;

// An OBEX Object Push to one Bluetooth device through BlueZ's obexd on the session bus: a session for the device,
// the file sent in it, the transfer's status followed to its end, and the session removed again.
class BluetoothBeam : public BeamTransfer
{
    Q_OBJECT
public:
    // name: the device's, for the operator.
    BluetoothBeam(const QString &address, const QString &name, QObject *parent);
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
    void finish(const BeamFailure &failure);
    void removeSession();
    void callObexd(const QDBusMessage &message, void (BluetoothBeam::*answered)(QDBusPendingCallWatcher *));
    // What a call still on its way opens is closed again when it answers, after this object has gone.
    void closeWhatCallOpens();

    QPointer<QDBusPendingCallWatcher> m_call;
    QString m_address;
    QString m_fileName;
    QDBusObjectPath m_session;
    QDBusObjectPath m_transfer;
    // The file's size, from SendFile's reply; 0 until then.
    qulonglong m_size = 0;
    // Status changes that arrive before SendFile's reply names the transfer.
    QList<QPair<QString, QVariantMap>> m_early;
};

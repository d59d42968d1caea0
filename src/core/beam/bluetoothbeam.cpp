// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "bluetoothbeam.h"

#include "obex.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString propertiesChanged = QStringLiteral("PropertiesChanged");

QDBusConnection bus()
{
    return QDBusConnection::sessionBus();
}

} // namespace

BluetoothBeam::BluetoothBeam(const QString &address, QObject *parent) : BeamTransfer(parent), m_address(address) { }

BluetoothBeam::~BluetoothBeam()
{
    if (!hasEnded())
        abort();
}

void BluetoothBeam::start(const QString &fileName)
{
    m_fileName = fileName;
    // Subscribed before anything is sent: a transfer's first changes can overtake SendFile's reply.
    bus().connect(Obex::service, QString(), propertiesInterface, propertiesChanged, {Obex::transferInterface},
        QString(), this, SLOT(transferChanged(QDBusMessage)));
    madeProgress();
    QDBusMessage create = QDBusMessage::createMethodCall(
        Obex::service, Obex::clientPath, Obex::clientInterface, QStringLiteral("CreateSession"));
    create << m_address << QVariantMap {{QStringLiteral("Target"), QStringLiteral("opp")}};
    // The stall watch ends a call that takes too long; the bus must not end it sooner.
    auto *call = new QDBusPendingCallWatcher(bus().asyncCall(create, stallLimitMs() * 2), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &BluetoothBeam::sessionCreated);
}

void BluetoothBeam::abort()
{
    if (!m_transfer.path().isEmpty()) {
        bus().send(QDBusMessage::createMethodCall(
            Obex::service, m_transfer.path(), Obex::transferInterface, QStringLiteral("Cancel")));
    }
    removeSession();
}

void BluetoothBeam::sessionCreated(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    if (reply.isError()) {
        finish(QStringLiteral("the device refused the session: %1").arg(reply.error().message()));
        return;
    }
    m_session = reply.value();
    madeProgress();
    QDBusMessage send = QDBusMessage::createMethodCall(
        Obex::service, m_session.path(), Obex::objectPushInterface, QStringLiteral("SendFile"));
    send << m_fileName;
    auto *sent = new QDBusPendingCallWatcher(bus().asyncCall(send, stallLimitMs() * 2), this);
    connect(sent, &QDBusPendingCallWatcher::finished, this, &BluetoothBeam::fileSent);
}

void BluetoothBeam::fileSent(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusObjectPath, QVariantMap> reply = *call;
    if (reply.isError()) {
        finish(QStringLiteral("the file was not sent: %1").arg(reply.error().message()));
        return;
    }
    m_transfer = reply.argumentAt<0>();
    follow(reply.argumentAt<1>());
    const QList<QPair<QString, QVariantMap>> early = std::exchange(m_early, {});
    for (const auto &[path, changed] : early) {
        if (path == m_transfer.path())
            follow(changed);
    }
}

void BluetoothBeam::transferChanged(const QDBusMessage &message)
{
    if (message.arguments().size() < 2)
        return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(message.arguments().at(1));
    if (m_transfer.path().isEmpty())
        m_early.append({message.path(), changed});
    else if (message.path() == m_transfer.path())
        follow(changed);
}

void BluetoothBeam::follow(const QVariantMap &changed)
{
    if (hasEnded())
        return;
    // "complete" and "error" are final, whatever arrives after them.
    const QString status = changed.value(QStringLiteral("Status")).toString();
    if (status == QLatin1String("complete"))
        finish(QString());
    else if (status == QLatin1String("error"))
        finish(QStringLiteral("the transfer failed"));
    else if (!changed.isEmpty())
        madeProgress();
}

void BluetoothBeam::finish(const QString &failure)
{
    removeSession();
    end(failure);
}

void BluetoothBeam::removeSession()
{
    if (m_session.path().isEmpty())
        return;
    QDBusMessage remove = QDBusMessage::createMethodCall(
        Obex::service, Obex::clientPath, Obex::clientInterface, QStringLiteral("RemoveSession"));
    remove << QVariant::fromValue(std::exchange(m_session, {}));
    bus().send(remove);
}

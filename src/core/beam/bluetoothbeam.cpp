// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "bluetoothbeam.h"

#include "obex.h"

#include <QCoreApplication>
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

BluetoothBeam::BluetoothBeam(const QString &address, const QString &name, QObject *parent)
    : BeamTransfer(name, parent), m_address(address)
{ }

BluetoothBeam::~BluetoothBeam()
{
    if (!hasEnded())
        abort();
    closeWhatCallOpens();
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
    callObexd(create, &BluetoothBeam::sessionCreated);
}

void BluetoothBeam::callObexd(const QDBusMessage &message, void (BluetoothBeam::*answered)(QDBusPendingCallWatcher *))
{
    // The stall watch ends a call that takes too long; the bus must not end it sooner.
    m_call = new QDBusPendingCallWatcher(bus().asyncCall(message, stallLimitMs() * 2), this);
    connect(m_call, &QDBusPendingCallWatcher::finished, this, answered);
}

void BluetoothBeam::closeWhatCallOpens()
{
    if (!m_call)
        return;
    // A withdrawn key must not reach the phone once a late answer has opened the way. The application keeps the
    // call until then.
    QDBusPendingCallWatcher *late = m_call;
    late->disconnect(this);
    late->setParent(QCoreApplication::instance());
    connect(late, &QDBusPendingCallWatcher::finished, late, [](QDBusPendingCallWatcher *answer) {
        answer->deleteLater();
        const QDBusMessage reply = answer->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return;
        const QDBusObjectPath opened = qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst());
        // SendFile answers with the transfer and its properties, CreateSession with the session alone.
        if (reply.arguments().size() > 1) {
            bus().send(QDBusMessage::createMethodCall(
                Obex::service, opened.path(), Obex::transferInterface, QStringLiteral("Cancel")));
            return;
        }
        QDBusMessage remove = QDBusMessage::createMethodCall(
            Obex::service, Obex::clientPath, Obex::clientInterface, QStringLiteral("RemoveSession"));
        remove << QVariant::fromValue(opened);
        bus().send(remove);
    });
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
        finish(BeamFailure::sessionNotOpened(device(), reply.error()));
        return;
    }
    m_session = reply.value();
    madeProgress();
    QDBusMessage send = QDBusMessage::createMethodCall(
        Obex::service, m_session.path(), Obex::objectPushInterface, QStringLiteral("SendFile"));
    send << m_fileName;
    callObexd(send, &BluetoothBeam::fileSent);
}

void BluetoothBeam::fileSent(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusObjectPath, QVariantMap> reply = *call;
    if (reply.isError()) {
        finish(BeamFailure::fileNotSent(device(), reply.error()));
        return;
    }
    m_transfer = reply.argumentAt<0>();
    const QVariantMap properties = reply.argumentAt<1>();
    m_size = properties.value(QStringLiteral("Size")).toULongLong();
    follow(properties);
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
    if (status == QLatin1String("complete")) {
        finish({});
        return;
    }
    if (status == QLatin1String("error")) {
        finish(BeamFailure::notTaken(device()));
        return;
    }
    if (changed.isEmpty())
        return;
    madeProgress();
    if (const auto transferred = changed.constFind(QStringLiteral("Transferred"));
        transferred != changed.cend() && m_size > 0)
        Q_EMIT progressed(int(qMin<qulonglong>(100, transferred->toULongLong() * 100 / m_size)));
}

void BluetoothBeam::finish(const BeamFailure &failure)
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

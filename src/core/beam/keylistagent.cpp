// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keylistagent.h"

#include "bluetoothdevices.h"
#include "incomingfolder.h"
#include "keylistcheck.h"
#include "keystore.h"
#include "obex.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QVariantMap>

namespace {

const QString agentManagerInterface = QStringLiteral("org.bluez.obex.AgentManager1");
const QString sessionInterface = QStringLiteral("org.bluez.obex.Session1");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString rejected = QStringLiteral("org.bluez.obex.Error.Rejected");
// obexd waits for the agent's answer, and is there to give its own at once.
constexpr int answerTimeoutMs = 5000;

QDBusConnection bus()
{
    return QDBusConnection::sessionBus();
}

QVariantMap propertiesOf(const QString &path, const QString &interface)
{
    QDBusMessage getAll =
        QDBusMessage::createMethodCall(Obex::service, path, propertiesInterface, QStringLiteral("GetAll"));
    getAll << interface;
    const QDBusReply<QVariantMap> reply = bus().call(getAll, QDBus::Block, answerTimeoutMs);
    return reply.isValid() ? reply.value() : QVariantMap();
}

QDBusMessage agentManagerCall(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Obex::service, Obex::clientPath, agentManagerInterface, method);
    call << QVariant::fromValue(QDBusObjectPath(KeyListAgent::objectPath()));
    return call;
}

// The device's name as BlueZ knows it, else its address.
QString senderOf(const QString &session)
{
    const QString address = propertiesOf(session, sessionInterface).value(QStringLiteral("Destination")).toString();
    const QList<BluetoothDevice> devices = BluetoothDevices::known();
    for (const BluetoothDevice &device : devices) {
        if (device.address.compare(address, Qt::CaseInsensitive) == 0)
            return device.name;
    }
    return address.isEmpty() ? QStringLiteral("an unknown device") : address;
}

void tell(const QString &line)
{
    qInfo("zrk-server: %s", qPrintable(line));
}

} // namespace

KeyListAgent::KeyListAgent(QObject *parent) : QObject(parent)
{
    if (!bus().isConnected()) {
        tell(QStringLiteral("no session bus, so key lists cannot arrive over Bluetooth"));
        return;
    }
    bus().registerObject(objectPath(), this, QDBusConnection::ExportScriptableSlots);
    bus().connect(Obex::service, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"),
        {Obex::transferInterface}, QString(), this, SLOT(transferChanged(QDBusMessage)));
    auto *watcher = new QDBusServiceWatcher(Obex::service, bus(),
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &KeyListAgent::registerAgent);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &KeyListAgent::obexdGone);
    registerAgent();
}

KeyListAgent::~KeyListAgent()
{
    const QList<QString> transfers = m_incoming.keys();
    for (const QString &transfer : transfers)
        discard(transfer);
    if (m_registered)
        bus().call(agentManagerCall(QStringLiteral("UnregisterAgent")), QDBus::Block, answerTimeoutMs);
    bus().unregisterObject(objectPath());
}

QString KeyListAgent::objectPath()
{
    return QStringLiteral("/org/zrkserver/keylistagent");
}

void KeyListAgent::registerAgent()
{
    // Until obexd answers, it may have taken the agent: a window that goes meanwhile unregisters all the same.
    m_registered = true;
    auto *call = new QDBusPendingCallWatcher(
        bus().asyncCall(agentManagerCall(QStringLiteral("RegisterAgent")), answerTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &KeyListAgent::agentRegistered);
}

void KeyListAgent::agentRegistered(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    const QDBusPendingReply<> reply = *call;
    m_registered = !reply.isError();
    if (m_registered)
        return;
    if (reply.error().name() == QLatin1String("org.bluez.obex.Error.AlreadyExists"))
        tell(QStringLiteral("another program receives obexd's files, so key lists cannot arrive over Bluetooth"));
    else
        tell(QStringLiteral("obexd does not answer (%1), so key lists cannot arrive over Bluetooth until it starts")
                 .arg(reply.error().name()));
}

void KeyListAgent::obexdGone()
{
    m_registered = false;
    const QList<QString> transfers = m_incoming.keys();
    for (const QString &transfer : transfers)
        discard(transfer);
}

QString KeyListAgent::AuthorizePush(const QDBusObjectPath &transfer)
{
    const QVariantMap properties = propertiesOf(transfer.path(), Obex::transferInterface);
    const QString name = properties.value(QStringLiteral("Name")).toString();
    const QVariant size = properties.value(QStringLiteral("Size"));
    if (!name.contains(KeyStore::keyListPattern()))
        return reject(QStringLiteral("only key lists (names containing .list) are received"));
    // A phone that does not say how large the file is could fill the disk.
    if (!size.isValid() || size.toULongLong() > quint64(KeyListCheck::maxListBytes))
        return reject(QStringLiteral("a key list must say its size, at most %1 bytes").arg(KeyListCheck::maxListBytes));
    const QString stagedPath = IncomingFolder::reserveFile();
    if (stagedPath.isEmpty())
        return reject(QStringLiteral("no folder to receive it in"));
    const QString session = properties.value(QStringLiteral("Session")).value<QDBusObjectPath>().path();
    m_incoming.insert(transfer.path(), {stagedPath, name, qint64(size.toULongLong()), senderOf(session)});
    return stagedPath;
}

void KeyListAgent::Cancel()
{
    // Every request is answered before the next call is taken, so what obexd gave up on is a transfer it was told
    // to take but never started.
    const QList<QString> transfers = m_incoming.keys();
    for (const QString &transfer : transfers) {
        if (!m_incoming.value(transfer).started)
            discard(transfer);
    }
}

void KeyListAgent::Release()
{
    m_registered = false;
}

QString KeyListAgent::reject(const QString &why)
{
    sendErrorReply(rejected, why);
    return QString();
}

void KeyListAgent::transferChanged(const QDBusMessage &message)
{
    const auto found = m_incoming.find(message.path());
    if (found == m_incoming.end() || message.arguments().size() < 2)
        return;
    found->started = true;
    const QVariantMap changed = qdbus_cast<QVariantMap>(message.arguments().at(1));
    const QString status = changed.value(QStringLiteral("Status")).toString();
    const QVariant transferred = changed.value(QStringLiteral("Transferred"));
    if (status == QLatin1String("complete"))
        finish(message.path());
    else if (status == QLatin1String("error") || (transferred.isValid() && transferred.toLongLong() > found->size))
        discard(message.path());
}

void KeyListAgent::finish(const QString &transfer)
{
    const Incoming incoming = m_incoming.take(transfer);
    const QFileInfo staged(incoming.stagedPath);
    // More than the phone announced is not the list it offered.
    if (!staged.isFile() || staged.isSymLink() || staged.size() > incoming.size) {
        QFile::remove(incoming.stagedPath);
        return;
    }
    const QString path = IncomingFolder::moveIntoDocuments(incoming.stagedPath, incoming.name);
    if (path.isEmpty()) {
        tell(QStringLiteral("a key list from %1 could not be moved into %2")
                 .arg(incoming.sender, KeyStore::documentFolder()));
        return;
    }
    Q_EMIT received(path, incoming.sender, QDateTime::currentDateTime());
}

void KeyListAgent::discard(const QString &transfer)
{
    QFile::remove(m_incoming.take(transfer).stagedPath);
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "bluetoothdevices.h"

#include "obex.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QMap>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString bluez = QStringLiteral("org.bluez");
const QString adapterInterface = QStringLiteral("org.bluez.Adapter1");
const QString deviceInterface = QStringLiteral("org.bluez.Device1");
const QString objectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
// A question to BlueZ or the bus is answered at once; a bus that hangs must not hold the window for long.
constexpr int answerTimeoutMs = 5000;

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

ManagedObjects managedObjects()
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(bluez, QStringLiteral("/"), objectManager, QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, answerTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<ManagedObjects>(reply.arguments().constFirst());
}

QStringList poweredAdapters(const ManagedObjects &objects)
{
    QStringList adapters;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        if (it->value(adapterInterface).value(QStringLiteral("Powered")).toBool())
            adapters.append(it.key().path());
    }
    return adapters;
}

BluetoothDevice deviceFrom(const QVariantMap &properties)
{
    BluetoothDevice device;
    device.address = properties.value(QStringLiteral("Address")).toString();
    device.name = properties.value(QStringLiteral("Alias")).toString();
    if (device.name.isEmpty())
        device.name = properties.value(QStringLiteral("Name")).toString();
    // A device found a moment ago may not have told its name yet.
    if (device.name.isEmpty())
        device.name = device.address;
    device.paired = properties.value(QStringLiteral("Paired")).toBool();
    return device;
}

bool obexdAnswers()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    if (const QDBusReply<bool> owned = bus->isServiceRegistered(Obex::service); owned.isValid() && owned.value())
        return true;
    const QDBusReply<QStringList> activatable = bus->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(Obex::service);
}

QDBusMessage adapterCall(const QString &adapter, const QString &method)
{
    return QDBusMessage::createMethodCall(bluez, adapter, adapterInterface, method);
}

} // namespace

BluetoothDevices::BluetoothDevices(QObject *parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(
        bluez, QString(), objectManager, QStringLiteral("InterfacesAdded"), this, SLOT(interfacesAdded(QDBusMessage)));
    m_searching = poweredAdapters(managedObjects());
    for (const QString &adapter : std::as_const(m_searching)) {
        // Object Push runs over classic Bluetooth only, so low-energy devices need not be listed.
        QDBusMessage filter = adapterCall(adapter, QStringLiteral("SetDiscoveryFilter"));
        filter << QVariantMap {{QStringLiteral("Transport"), QStringLiteral("bredr")}};
        bus.call(filter, QDBus::Block, answerTimeoutMs);
        bus.call(adapterCall(adapter, QStringLiteral("StartDiscovery")), QDBus::Block, answerTimeoutMs);
    }
}

BluetoothDevices::~BluetoothDevices()
{
    // Searching costs the adapter's time and the phones' batteries: it lasts only as long as the choice is open.
    for (const QString &adapter : std::as_const(m_searching))
        QDBusConnection::systemBus().send(adapterCall(adapter, QStringLiteral("StopDiscovery")));
}

bool BluetoothDevices::canBeam()
{
    return !poweredAdapters(managedObjects()).isEmpty() && obexdAnswers();
}

QList<BluetoothDevice> BluetoothDevices::known()
{
    QList<BluetoothDevice> devices;
    const ManagedObjects objects = managedObjects();
    for (const Interfaces &interfaces : objects) {
        if (interfaces.contains(deviceInterface))
            devices.append(deviceFrom(interfaces.value(deviceInterface)));
    }
    std::stable_sort(devices.begin(), devices.end(),
        [](const BluetoothDevice &a, const BluetoothDevice &b) { return a.paired && !b.paired; });
    return devices;
}

void BluetoothDevices::interfacesAdded(const QDBusMessage &message)
{
    if (message.arguments().size() < 2)
        return;
    const Interfaces interfaces = qdbus_cast<Interfaces>(message.arguments().at(1));
    if (interfaces.contains(deviceInterface))
        Q_EMIT found(deviceFrom(interfaces.value(deviceInterface)));
}

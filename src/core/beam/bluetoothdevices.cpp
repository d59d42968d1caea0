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
#include <QDBusVariant>
#include <QMap>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString bluez = QStringLiteral("org.bluez");
const QString adapterInterface = QStringLiteral("org.bluez.Adapter1");
const QString deviceInterface = QStringLiteral("org.bluez.Device1");
const QString objectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString rssiProperty = QStringLiteral("RSSI");
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

enum class Power { Any, On };

QStringList adapters(const ManagedObjects &objects, Power power)
{
    QStringList adapters;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        if (!it->contains(adapterInterface))
            continue;
        if (power == Power::Any || it->value(adapterInterface).value(QStringLiteral("Powered")).toBool())
            adapters.append(it.key().path());
    }
    return adapters;
}

QStringList poweredAdapters(const ManagedObjects &objects)
{
    return adapters(objects, Power::On);
}

// BlueZ has the property only while the device is in range, and keeps 0 for "unknown".
std::optional<int> rssiFrom(const QVariantMap &properties)
{
    const int rssi = properties.value(rssiProperty).toInt();
    return rssi != 0 ? std::optional<int>(rssi) : std::nullopt;
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
    device.rssi = rssiFrom(properties);
    return device;
}

// BlueZ names a device's object after its address: /org/bluez/hci0/dev_AA_BB_CC_DD_EE_FF.
QString addressOfDevicePath(const QString &path)
{
    const QString last = path.section(QLatin1Char('/'), -1);
    if (!last.startsWith(QLatin1String("dev_")))
        return QString();
    return last.mid(4).replace(QLatin1Char('_'), QLatin1Char(':'));
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
    bus.connect(bluez, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"), {deviceInterface},
        QString(), this, SLOT(deviceChanged(QDBusMessage)));
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

BluetoothDevices::State BluetoothDevices::state()
{
    const ManagedObjects objects = managedObjects();
    if (adapters(objects, Power::Any).isEmpty() || !obexdAnswers())
        return Absent;
    return poweredAdapters(objects).isEmpty() ? Off : On;
}

QString BluetoothDevices::powerOn()
{
    const QStringList all = adapters(managedObjects(), Power::Any);
    for (const QString &adapter : all) {
        QDBusMessage set = QDBusMessage::createMethodCall(bluez, adapter, propertiesInterface, QStringLiteral("Set"));
        set << adapterInterface << QStringLiteral("Powered") << QVariant::fromValue(QDBusVariant(true));
        const QDBusMessage reply = QDBusConnection::systemBus().call(set, QDBus::Block, answerTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage)
            return reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
    }
    return all.isEmpty() ? QStringLiteral("no Bluetooth adapter") : QString();
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

void BluetoothDevices::deviceChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 3)
        return;
    const QVariantMap changed = qdbus_cast<QVariantMap>(arguments.at(1));
    const bool invalidated = qdbus_cast<QStringList>(arguments.at(2)).contains(rssiProperty);
    const QString address = addressOfDevicePath(message.path());
    if (address.isEmpty() || (!changed.contains(rssiProperty) && !invalidated))
        return;
    Q_EMIT rssiChanged(address, rssiFrom(changed));
}

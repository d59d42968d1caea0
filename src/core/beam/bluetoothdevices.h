// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QDBusMessage;

struct BluetoothDevice
{
    QString address;
    QString name;
    bool paired = false;
    // The signal strength in dBm while the device is in range; the stronger, the nearer.
    std::optional<int> rssi;
};

// The devices BlueZ knows, on the system bus. While an object of this class lives, every powered adapter searches
// for more, and each one found is announced.
class BluetoothDevices : public QObject
{
    Q_OBJECT
public:
    explicit BluetoothDevices(QObject *parent = nullptr);
    ~BluetoothDevices() override;

    // On: a powered adapter is there and obexd answers on the session bus, or can be started by D-Bus. Off: the same,
    // but every adapter is switched off. Absent: no adapter, no obexd, or no bus.
    enum State { On, Off, Absent };
    static State state();
    // Switches every adapter on; empty when done, else what BlueZ said.
    static QString powerOn();
    // Every device BlueZ knows now, paired ones first.
    static QList<BluetoothDevice> known();

Q_SIGNALS:
    void found(const BluetoothDevice &device);
    // A device came into range, moved, or left it (rssi empty).
    void rssiChanged(const QString &address, std::optional<int> rssi);

private Q_SLOTS:
    void interfacesAdded(const QDBusMessage &message);
    void deviceChanged(const QDBusMessage &message);

private:
    QStringList m_searching;
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QDBusMessage;

struct BluetoothDevice
{
    QString address;
    QString name;
    bool paired = false;
};

// The devices BlueZ knows, on the system bus. While an object of this class lives, every powered adapter searches
// for more, and each one found is announced.
class BluetoothDevices : public QObject
{
    Q_OBJECT
public:
    explicit BluetoothDevices(QObject *parent = nullptr);
    ~BluetoothDevices() override;

    // True when a powered adapter is there and obexd answers on the session bus, or can be started by D-Bus.
    static bool canBeam();
    // Every device BlueZ knows now, paired ones first.
    static QList<BluetoothDevice> known();

Q_SIGNALS:
    void found(const BluetoothDevice &device);

private Q_SLOTS:
    void interfacesAdded(const QDBusMessage &message);

private:
    QStringList m_searching;
};

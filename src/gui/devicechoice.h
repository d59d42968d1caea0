// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "bluetoothdevices.h"

#include <QDialog>

class QDialogButtonBox;
class QListWidget;

// Asks which Bluetooth device gets a key: the devices BlueZ knows, paired ones first, then those found while the
// dialog is open. The device chosen last time, when still known, is offered first.
class DeviceChoice : public QDialog
{
    Q_OBJECT
public:
    DeviceChoice(const QString &lastAddress, QWidget *parent);

    // The device chosen, once the dialog was accepted.
    BluetoothDevice chosen() const;

private:
    void add(const BluetoothDevice &device);

    QListWidget *m_devices;
    QDialogButtonBox *m_buttons;
    QList<BluetoothDevice> m_listed;
    // Searches for devices for as long as the dialog lives.
    BluetoothDevices m_bluetooth;
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "bluetoothdevices.h"

#include <QDialog>
#include <QHash>

class QDialogButtonBox;
class QListWidget;

// Asks which Bluetooth device gets a key: the devices in range first, nearest first, as they move while the dialog
// is open, then the known ones out of range. Nothing is chosen until the operator picks a device: at a stand, the
// device of a moment ago belongs to the visitor who has just left.
class DeviceChoice : public QDialog
{
    Q_OBJECT
public:
    // notes: a line to show under a device's address, by address (what it got earlier, for example).
    DeviceChoice(const QHash<QString, QString> &notes, QWidget *parent);

    // The device chosen, once the dialog was accepted.
    BluetoothDevice chosen() const;

private:
    void add(const BluetoothDevice &device);
    void updateRssi(const QString &address, std::optional<int> rssi);
    // Lists the devices in their order again, keeping the operator's pick.
    void relist();
    QString chosenAddress() const;
    // On a handheld's narrow screen the dialog takes the whole width, so that names need not be cut.
    void fitNarrowScreen();

    QListWidget *m_devices;
    QDialogButtonBox *m_buttons;
    QList<BluetoothDevice> m_listed;
    QHash<QString, QString> m_notes;
    // Searches for devices for as long as the dialog lives.
    BluetoothDevices m_bluetooth;
};

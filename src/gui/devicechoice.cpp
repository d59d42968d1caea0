// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "devicechoice.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

DeviceChoice::DeviceChoice(const QString &lastAddress, QWidget *parent)
    : QDialog(parent)
    , m_devices(new QListWidget(this))
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(QStringLiteral("Beam the key"));
    m_devices->setObjectName(QStringLiteral("devices"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Which device gets the key?"), this));
    layout->addWidget(m_devices);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_devices, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(m_devices, &QListWidget::currentRowChanged, this,
        [this](int row) { m_buttons->button(QDialogButtonBox::Ok)->setEnabled(row >= 0); });
    connect(&m_bluetooth, &BluetoothDevices::found, this, &DeviceChoice::add);

    QList<BluetoothDevice> known = BluetoothDevices::known();
    const auto last = std::find_if(
        known.begin(), known.end(), [&lastAddress](const BluetoothDevice &d) { return d.address == lastAddress; });
    if (last != known.end())
        std::rotate(known.begin(), last, last + 1);
    for (const BluetoothDevice &device : std::as_const(known))
        add(device);
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(m_devices->count() > 0);
}

BluetoothDevice DeviceChoice::chosen() const
{
    const int row = m_devices->currentRow();
    return row >= 0 ? m_listed.at(row) : BluetoothDevice();
}

void DeviceChoice::add(const BluetoothDevice &device)
{
    const bool listed = std::any_of(m_listed.cbegin(), m_listed.cend(),
        [&device](const BluetoothDevice &d) { return d.address == device.address; });
    if (listed || device.address.isEmpty())
        return;
    m_listed.append(device);
    auto *item = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(device.name, device.address), m_devices);
    item->setData(Qt::UserRole, device.address);
    if (m_devices->currentRow() < 0)
        m_devices->setCurrentItem(item);
}

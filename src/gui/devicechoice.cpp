// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "devicechoice.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// A screen at most this many logical pixels wide is a handheld's.
constexpr int narrowScreenWidth = 600;

// In range before out of range, and the strongest signal, the nearest device, first.
bool nearerThan(const BluetoothDevice &a, const BluetoothDevice &b)
{
    if (a.rssi.has_value() != b.rssi.has_value())
        return a.rssi.has_value();
    return a.rssi.value_or(0) > b.rssi.value_or(0);
}

} // namespace

DeviceChoice::DeviceChoice(const QHash<QString, QString> &notes, QWidget *parent)
    : QDialog(parent)
    , m_devices(new QListWidget(this))
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
    , m_notes(notes)
{
    setWindowTitle(QStringLiteral("Beam the key"));
    m_devices->setObjectName(QStringLiteral("devices"));
    m_devices->setTextElideMode(Qt::ElideMiddle);
    m_devices->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *question = new QLabel(QStringLiteral("Which device gets the key?"), this);
    question->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(m_devices);
    layout->addWidget(m_buttons);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_devices, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    // The selection, not the current row: a list that gets the focus makes its first row current by itself.
    connect(m_devices, &QListWidget::itemSelectionChanged, this,
        [this] { m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!chosenAddress().isEmpty()); });
    connect(&m_bluetooth, &BluetoothDevices::found, this, &DeviceChoice::add);
    connect(&m_bluetooth, &BluetoothDevices::rssiChanged, this, &DeviceChoice::updateRssi);

    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    // A list that gets the focus marks its first row as current, which reads as a choice made; Cancel takes it.
    m_buttons->button(QDialogButtonBox::Cancel)->setFocus();
    const QList<BluetoothDevice> known = BluetoothDevices::known();
    for (const BluetoothDevice &device : known)
        add(device);
    fitNarrowScreen();
}

BluetoothDevice DeviceChoice::chosen() const
{
    const QString address = chosenAddress();
    const auto it = std::find_if(
        m_listed.cbegin(), m_listed.cend(), [&address](const BluetoothDevice &d) { return d.address == address; });
    return it != m_listed.cend() ? *it : BluetoothDevice();
}

void DeviceChoice::add(const BluetoothDevice &device)
{
    const bool listed = std::any_of(m_listed.cbegin(), m_listed.cend(),
        [&device](const BluetoothDevice &d) { return d.address == device.address; });
    if (listed || device.address.isEmpty())
        return;
    m_listed.append(device);
    relist();
}

void DeviceChoice::updateRssi(const QString &address, std::optional<int> rssi)
{
    const auto it = std::find_if(
        m_listed.begin(), m_listed.end(), [&address](const BluetoothDevice &d) { return d.address == address; });
    if (it == m_listed.end() || it->rssi == rssi)
        return;
    it->rssi = rssi;
    relist();
}

void DeviceChoice::relist()
{
    const QString chosen = chosenAddress();
    std::stable_sort(m_listed.begin(), m_listed.end(), nearerThan);
    const QSignalBlocker quiet(m_devices);
    m_devices->clear();
    for (const BluetoothDevice &device : std::as_const(m_listed)) {
        QString text = device.name + QLatin1Char('\n') + device.address;
        if (const QString note = m_notes.value(device.address); !note.isEmpty())
            text += QLatin1Char('\n') + note;
        auto *item = new QListWidgetItem(text, m_devices);
        item->setData(Qt::UserRole, device.address);
        if (device.address == chosen)
            item->setSelected(true);
    }
}

QString DeviceChoice::chosenAddress() const
{
    const QList<QListWidgetItem *> selected = m_devices->selectedItems();
    return selected.isEmpty() ? QString() : selected.constFirst()->data(Qt::UserRole).toString();
}

void DeviceChoice::fitNarrowScreen()
{
    const QRect available = screen()->availableGeometry();
    if (available.width() > narrowScreenWidth)
        return;
    const int width = parentWidget() ? qMin(parentWidget()->window()->width(), available.width()) : available.width();
    resize(width, sizeHint().height());
}

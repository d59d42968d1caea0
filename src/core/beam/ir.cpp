// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ir.h"

#include "beamqueue.h"
#include "bluetoothbeam.h"
#include "bluetoothdevices.h"
#include "infraredbeam.h"

Ir::Ir(QObject *parent, const char *name) : QObject(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

Ir::~Ir()
{
    BeamQueue::remove(this);
}

Ir::Links Ir::links()
{
    switch (BluetoothDevices::state()) {
    case BluetoothDevices::On:
        return Links::Bluetooth;
    case BluetoothDevices::Off:
        return Links::BluetoothOff;
    case BluetoothDevices::Absent:
        break;
    }
    return InfraredBeam::available() ? Links::InfraredOnly : Links::None;
}

bool Ir::supported()
{
    const Links available = links();
    return available == Links::Bluetooth || available == Links::InfraredOnly;
}

QString Ir::turnBluetoothOn()
{
    return BluetoothDevices::powerOn();
}

void Ir::setReceiver(const QString &address, const QString &name)
{
    m_receiverAddress = address;
    m_receiverName = name;
}

void Ir::send(const QString &fileName, const QString & /*description*/, const QString & /*mimeType*/)
{
    m_fileName = fileName;
    m_pending = true;
    BeamQueue::enqueue(this);
}

QString Ir::destination() const
{
    if (m_receiverAddress.isEmpty())
        return QStringLiteral("over infrared");
    return QStringLiteral("to %1 (%2)").arg(m_receiverName, m_receiverAddress);
}

void Ir::start()
{
    if (m_transfer)
        return;
    if (m_receiverAddress.isEmpty())
        m_transfer = new InfraredBeam(this);
    else
        m_transfer = new BluetoothBeam(m_receiverAddress, m_receiverName, this);
    connect(m_transfer, &BeamTransfer::ended, this, &Ir::finish);
    connect(m_transfer, &BeamTransfer::progressed, this, [this](int percent) {
        m_percent = percent;
        Q_EMIT progressed(this);
    });
    m_transfer->start(m_fileName);
    // No longer waiting, even while the receiver has not said how much arrived.
    m_percent = 0;
    Q_EMIT progressed(this);
}

void Ir::finish(const BeamFailure &failure)
{
    m_pending = false;
    m_failure = failure.reason;
    m_failureDetail = failure.detail;
    m_endedAt = QDateTime::currentDateTime();
    // The next beam starts whatever anyone does about this one's end: a message about it holds up nothing.
    BeamQueue::remove(this);
    Q_EMIT done(this);
}

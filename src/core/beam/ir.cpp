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

bool Ir::supported()
{
    return bluetoothSupported() || InfraredBeam::available();
}

bool Ir::bluetoothSupported()
{
    return BluetoothDevices::canBeam();
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
        m_transfer = new BluetoothBeam(m_receiverAddress, this);
    connect(m_transfer, &BeamTransfer::ended, this, &Ir::finish);
    m_transfer->start(m_fileName);
}

void Ir::finish(const QString &failure)
{
    m_pending = false;
    m_failure = failure;
    m_endedAt = QDateTime::currentDateTime();
    // The next beam starts whatever anyone does about this one's end: a message about it holds up nothing.
    BeamQueue::remove(this);
    Q_EMIT done(this);
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "beamtransfer.h"

namespace {
int stallLimit = 2 * 60 * 1000;
}

BeamTransfer::BeamTransfer(const QString &device, QObject *parent) : QObject(parent), m_device(device)
{
    m_stallWatch.setSingleShot(true);
    connect(&m_stallWatch, &QTimer::timeout, this, [this] {
        abort();
        end(BeamFailure::stalled(m_device, stallLimit));
    });
}

int BeamTransfer::stallLimitMs()
{
    return stallLimit;
}

void BeamTransfer::setStallLimitForTesting(int milliseconds)
{
    stallLimit = milliseconds;
}

void BeamTransfer::madeProgress()
{
    if (!m_ended)
        m_stallWatch.start(stallLimit);
}

void BeamTransfer::end(const BeamFailure &failure)
{
    if (m_ended)
        return;
    m_ended = true;
    m_stallWatch.stop();
    Q_EMIT ended(failure);
}

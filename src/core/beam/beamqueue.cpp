// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "beamqueue.h"

#include "ir.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// The first one runs; the others wait.
QList<Ir *> beams;

void startFirst()
{
    if (!beams.isEmpty())
        beams.constFirst()->start();
}

} // namespace

void BeamQueue::enqueue(Ir *ir)
{
    beams.append(ir);
    if (beams.size() == 1)
        ir->start();
}

void BeamQueue::remove(Ir *ir)
{
    const bool wasRunning = !beams.isEmpty() && beams.constFirst() == ir;
    beams.removeOne(ir);
    // Not at once: when the owner of all the beams goes, each of them goes in turn, and none should start first.
    if (wasRunning)
        QTimer::singleShot(0, QCoreApplication::instance(), startFirst);
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "beamqueue.h"

#include "ir.h"

#include <QCoreApplication>
#include <QHash>
#include <QTimer>

namespace {

// By receiver address (empty for infrared): the first one runs; the others wait.
QHash<QString, QList<Ir *>> lines;

void startFirst(const QString &receiver)
{
    const QList<Ir *> line = lines.value(receiver);
    if (!line.isEmpty())
        line.constFirst()->start();
}

} // namespace

void BeamQueue::enqueue(Ir *ir)
{
    QList<Ir *> &line = lines[ir->receiverAddress()];
    line.append(ir);
    if (line.size() == 1)
        ir->start();
}

void BeamQueue::remove(Ir *ir)
{
    const QString receiver = ir->receiverAddress();
    const auto line = lines.find(receiver);
    if (line == lines.end())
        return;
    const bool wasRunning = !line->isEmpty() && line->constFirst() == ir;
    line->removeOne(ir);
    if (line->isEmpty()) {
        lines.erase(line);
        return;
    }
    // Not at once: when the owner of all the beams goes, each of them goes in turn, and none should start first.
    if (wasRunning)
        QTimer::singleShot(0, QCoreApplication::instance(), [receiver] { startFirst(receiver); });
}

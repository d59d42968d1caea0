// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "bluetoothdevices.h"

#include <QHash>
#include <QObject>

#include <optional>

class BeamNotices;
class Ir;
class QListWidget;

// The beams of the window's issued keys: starts each one, keeps the key's tool tip following its beam, tells a
// failure in the notices and remembers what each device got. The beaming objects are the window's children.
class KeyBeams : public QObject
{
    Q_OBJECT
public:
    KeyBeams(QWidget *window, QListWidget *givenList, BeamNotices *notices);

    void beam(const QString &sentPath, const std::optional<BluetoothDevice> &receiver);
    // The key was withdrawn: a beam of it that waits is dropped, one that runs is cancelled, and neither is told.
    void withdraw(const QString &sentPath);
    // The beams that wait or run.
    QList<Ir *> pending() const;
    // "got <key name> at <time>" for every device that got a key since the start, by address.
    QHash<QString, QString> deliveries() const { return m_deliveries; }

private:
    void progressed(Ir *ir);
    void ended(Ir *ir);
    void setToolTip(const QString &sentPath, const QString &toolTip);

    QWidget *m_window;
    QListWidget *m_givenList;
    BeamNotices *m_notices;
    QHash<QString, QString> m_deliveries;
};

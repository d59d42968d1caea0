// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

class QDBusError;

// Why a beam did not arrive: in the operator's words, naming the device and saying what can be done, and in the
// system's own words for whoever supports them. An empty reason means the file arrived.
struct BeamFailure
{
    QString reason;
    QString detail;

    bool failed() const { return !reason.isEmpty(); }

    // obexd could not open a session with the device (BlueZ's errors come as the message of Error.Failed, which is
    // empty when obexd does not know why).
    static BeamFailure sessionNotOpened(const QString &device, const QDBusError &error);
    static BeamFailure fileNotSent(const QString &device, const QDBusError &error);
    // obexd gives a declined transfer and a broken one the same status, without a reason.
    static BeamFailure notTaken(const QString &device);
    static BeamFailure stalled(const QString &device, int milliseconds);
    // obexftp, for a beam over infrared: tool says how it ended.
    static BeamFailure infraredFailed(const QString &tool);
    static BeamFailure infraredCannotStart(const QString &tool);
};

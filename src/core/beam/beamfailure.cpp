// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "beamfailure.h"

#include <QDBusError>

namespace {

QString detailOf(const QDBusError &error)
{
    return error.message().isEmpty() ? error.name() : error.name() + QStringLiteral(": ") + error.message();
}

QString durationText(int milliseconds)
{
    constexpr int minute = 60 * 1000;
    if (milliseconds >= minute && milliseconds % minute == 0) {
        const int minutes = milliseconds / minute;
        return minutes == 1 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(minutes);
    }
    const int seconds = milliseconds / 1000;
    return seconds == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(seconds);
}

bool obexdAbsent(const QDBusError &error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::Timeout:
        return true;
    default:
        return false;
    }
}

} // namespace

BeamFailure BeamFailure::sessionNotOpened(const QString &device, const QDBusError &error)
{
    const QString message = error.message();
    QString reason;
    if (obexdAbsent(error))
        reason = QStringLiteral("%1 was not reached: Bluetooth's file service (obexd) does not answer. Restart the "
                                "device, or install bluez-obexd.")
                     .arg(device);
    else if (message.contains(QLatin1String("Connection refused"), Qt::CaseInsensitive))
        reason = QStringLiteral("%1 answered but takes no files over Bluetooth now: ask the visitor to allow "
                                "receiving files, then beam again.")
                     .arg(device);
    else if (message.contains(QLatin1String("canceled"), Qt::CaseInsensitive)
        || message.contains(QLatin1String("cancelled"), Qt::CaseInsensitive))
        reason = QStringLiteral("The connection to %1 was cancelled: beam again, and accept on the phone if it asks.")
                     .arg(device);
    else
        reason = QStringLiteral("%1 did not answer: is its Bluetooth on and visible?").arg(device);
    return {reason, detailOf(error)};
}

BeamFailure BeamFailure::fileNotSent(const QString &device, const QDBusError &error)
{
    return {QStringLiteral("The key could not be sent to %1: is its file still in the sent-keys folder?").arg(device),
        detailOf(error)};
}

BeamFailure BeamFailure::notTaken(const QString &device)
{
    return {QStringLiteral("%1 did not take the key.").arg(device), QStringLiteral("Transfer status: error")};
}

BeamFailure BeamFailure::stalled(const QString &device, int milliseconds)
{
    return {QStringLiteral("Nothing arrived at %1 for %2.").arg(device, durationText(milliseconds)), QString()};
}

BeamFailure BeamFailure::infraredFailed(const QString &tool)
{
    return {QStringLiteral("No device took the key over infrared: hold the phone's infrared port facing this one, "
                           "then beam again."),
        tool};
}

BeamFailure BeamFailure::infraredCannotStart(const QString &tool)
{
    return {QStringLiteral("Infrared beaming does not work on this device: reinstall obexftp."), tool};
}

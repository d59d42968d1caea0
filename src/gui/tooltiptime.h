// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// When something happened to an entry, as its tool tip tells it: one way for every list, whatever the locale.
inline QString toolTipTime(const QDateTime &at)
{
    return QLocale::c().toString(at, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

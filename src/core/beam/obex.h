// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The names of BlueZ's OBEX daemon on the session bus.
namespace Obex {
inline const QString service = QStringLiteral("org.bluez.obex");
inline const QString clientPath = QStringLiteral("/org/bluez/obex");
inline const QString clientInterface = QStringLiteral("org.bluez.obex.Client1");
inline const QString objectPushInterface = QStringLiteral("org.bluez.obex.ObjectPush1");
inline const QString transferInterface = QStringLiteral("org.bluez.obex.Transfer1");
} // namespace Obex

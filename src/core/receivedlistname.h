// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The name a key list that a phone sent gets in the document folder. The phone names the file itself, so the name
// is made harmless first: only its last path component, no leading dot (which would hide it), no control
// characters or line breaks, at most maxBytes in UTF-8 (cut on a character boundary), and still a key list's name.
namespace ReceivedListName {

constexpr int maxBytes = 255;

// copy 1 gives the plain name; copy n > 1 adds " (n)" before its ".list", for when the names before are taken.
QString fileName(const QString &sentName, int copy = 1);

} // namespace ReceivedListName

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// Where a key list that a phone sends is written while it arrives: a hidden folder in the document folder, which no
// list shows and only this user may enter. A list reaches the document folder only once it is whole and checked, by
// a move that never replaces a file.
namespace IncomingFolder {

QString path();

// A fresh, empty file of its own in the folder (made when missing), for one list to be written into; empty when the
// folder cannot be made or is not a folder of this user's own.
QString reserveFile();

// Moves a whole list from the folder into the document folder, under sentName made safe (see ReceivedListName),
// numbered where that name is taken. Returns the list's new path; empty when it could not move, and then the file
// is gone.
QString moveIntoDocuments(const QString &stagedPath, const QString &sentName);

// Removes everything in the folder, and the folder: what a list cut short by a crash left there.
void clear();

} // namespace IncomingFolder

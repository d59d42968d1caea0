// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The key store is two folders and a handful of naming rules; the folders are the program's only state.
namespace KeyStore {

QString documentFolder();
QString sentKeysFolder();

// A photo's name contains photoPattern(), a key list's name keyListPattern(), case-sensitively and anywhere.
QString photoPattern();
QString keyListPattern();

// "zrk_<number>.key.jpg"
QString keyName(long number);
// The photo's own folder followed by its key name.
QString keyPath(const QString &photoPath, long number);
// Where an issued key photo lives.
QString sentPath(const QString &keyName);
// Where a withdrawn key photo goes: the document folder itself, whatever folder it came from.
QString returnPath(const QString &keyPhotoPath);

// Everything after the last "/".
QString fileNameOf(const QString &path);

// Points the store at another document folder. Only tests call this, before a window is built.
void setDocumentFolderForTesting(const QString &folder);

} // namespace KeyStore

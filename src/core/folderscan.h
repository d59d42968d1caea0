// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArrayList>
#include <QString>
#include <QStringList>

// Walks a folder tree the way the lists show it.
class FolderScan
{
public:
    // The paths of the files below folder whose names contain pattern (case-sensitively): depth first, each
    // folder's entries from the largest to the smallest (equal sizes by name), sub-folders at their place in that
    // order. Hidden entries and symbolic links are neither listed nor followed; a missing or unreadable folder
    // contributes nothing. Each path is folder + "/" + name, with folder exactly as given.
    // A path is a QString, which cannot hold a name that is not valid UTF-8: such files are left out. With leftOut
    // given, it gets their native paths, those of the files below such a folder included, by the same rules.
    static QStringList matchingFiles(const QString &folder, const QString &pattern, QByteArrayList *leftOut = nullptr);

private:
    static void collect(const QString &folder, const QString &pattern, QStringList &paths, QByteArrayList *leftOut);
};

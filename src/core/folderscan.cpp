// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "folderscan.h"

#include <QDir>
#include <QFileInfo>

QStringList FolderScan::matchingFiles(const QString &folder, const QString &pattern)
{
    QStringList paths;
    collect(folder, pattern, paths);
    return paths;
}

void FolderScan::collect(const QString &folder, const QString &pattern, QStringList &paths)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Size);
    for (const QFileInfo &entry : entries) {
        const QString path = folder + QLatin1Char('/') + entry.fileName();
        if (entry.isDir())
            collect(path, pattern, paths);
        else if (entry.fileName().contains(pattern, Qt::CaseSensitive))
            paths.append(path);
    }
}

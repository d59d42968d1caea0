// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "folderscan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace {

// The names of the folder's entries that are not hidden, as the file system spells them.
QByteArrayList visibleNames(const QByteArray &folder)
{
    QByteArrayList names;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(folder.constData()), &::closedir);
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir.get())) {
        if (entry->d_name[0] != '.')
            names.append(QByteArray(entry->d_name));
    }
    return names;
}

// Below a name that is not valid UTF-8 every path is one that Qt cannot name, so the walk goes on in bytes.
void collectLeftOut(const QByteArray &path, const QByteArray &name, const QByteArray &pattern, QByteArrayList &leftOut)
{
    struct stat status;
    if (::lstat(path.constData(), &status) != 0)
        return;
    if (S_ISDIR(status.st_mode)) {
        const QByteArrayList names = visibleNames(path);
        for (const QByteArray &entry : names)
            collectLeftOut(path + '/' + entry, entry, pattern, leftOut);
    } else if (S_ISREG(status.st_mode) && name.contains(pattern)) {
        leftOut.append(path);
    }
}

// Qt's listing skips these names without a word.
void collectUndecodable(const QString &folder, const QString &pattern, QByteArrayList &leftOut)
{
    const QByteArray nativeFolder = QFile::encodeName(folder);
    const QByteArray nativePattern = QFile::encodeName(pattern);
    const QByteArrayList names = visibleNames(nativeFolder);
    for (const QByteArray &name : names) {
        if (!name.isValidUtf8())
            collectLeftOut(nativeFolder + '/' + name, name, nativePattern, leftOut);
    }
}

} // namespace

QStringList FolderScan::matchingFiles(const QString &folder, const QString &pattern, QByteArrayList *leftOut)
{
    QStringList paths;
    collect(folder, pattern, paths, leftOut);
    return paths;
}

void FolderScan::collect(const QString &folder, const QString &pattern, QStringList &paths, QByteArrayList *leftOut)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Size);
    for (const QFileInfo &entry : entries) {
        const QString path = folder + QLatin1Char('/') + entry.fileName();
        if (entry.isDir())
            collect(path, pattern, paths, leftOut);
        else if (entry.fileName().contains(pattern, Qt::CaseSensitive))
            paths.append(path);
    }
    if (leftOut)
        collectUndecodable(folder, pattern, *leftOut);
}

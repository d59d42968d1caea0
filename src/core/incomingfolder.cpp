// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "incomingfolder.h"

#include "filemove.h"
#include "keystore.h"
#include "receivedlistname.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <unistd.h>

namespace {

// More copies of one name than a stand sees in a day; past them, something else is wrong.
constexpr int maxCopies = 1000;

bool isOwnPrivateFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() && info.ownerId() == ::getuid();
}

// A link counts as taken too: a move onto it would fail.
bool isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

namespace IncomingFolder {

QString path()
{
    return KeyStore::documentFolder() + QStringLiteral("/.incoming");
}

QString reserveFile()
{
    const QString folder = path();
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (!isTaken(folder))
        QDir().mkdir(folder, ownerOnly);
    if (!isOwnPrivateFolder(folder) || !QFile::setPermissions(folder, ownerOnly))
        return QString();
    QTemporaryFile file(folder + QStringLiteral("/XXXXXX"));
    file.setAutoRemove(false);
    return file.open() ? file.fileName() : QString();
}

QString moveIntoDocuments(const QString &stagedPath, const QString &sentName)
{
    for (int copy = 1; copy <= maxCopies; ++copy) {
        const QString target =
            KeyStore::documentFolder() + QLatin1Char('/') + ReceivedListName::fileName(sentName, copy);
        if (isTaken(target))
            continue;
        if (FileMove::move(stagedPath, target).moved)
            return target;
        // Taken meanwhile, it may be had under the next number; anything else fails the same way there.
        if (!isTaken(target))
            break;
    }
    QFile::remove(stagedPath);
    return QString();
}

void clear()
{
    const QString folder = path();
    if (isOwnPrivateFolder(folder))
        QDir(folder).removeRecursively();
    else if (QFileInfo(folder).isSymLink())
        QFile::remove(folder);
}

} // namespace IncomingFolder

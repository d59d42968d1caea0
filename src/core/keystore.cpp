// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keystore.h"

namespace {

QString &documentFolderOverride()
{
    static QString folder;
    return folder;
}

QString folderPartOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

} // namespace

namespace KeyStore {

QString documentFolder()
{
    const QString &folder = documentFolderOverride();
    return folder.isEmpty() ? QStringLiteral("/home/root/Documents") : folder;
}

QString sentKeysFolder()
{
    return documentFolder() + QStringLiteral("/.sentKeys");
}

QString photoPattern()
{
    return QStringLiteral(".jpg");
}

QString keyListPattern()
{
    return QStringLiteral(".list");
}

QString keyName(long number)
{
    return QStringLiteral("zrk_%1.key").arg(number) + photoPattern();
}

QString keyPath(const QString &photoPath, long number)
{
    return folderPartOf(photoPath) + QLatin1Char('/') + keyName(number);
}

QString sentPath(const QString &keyName)
{
    return sentKeysFolder() + QLatin1Char('/') + keyName;
}

QString returnPath(const QString &keyPhotoPath)
{
    return documentFolder() + QLatin1Char('/') + fileNameOf(keyPhotoPath);
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

void setDocumentFolderForTesting(const QString &folder)
{
    documentFolderOverride() = folder;
}

} // namespace KeyStore

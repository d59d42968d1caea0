// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "runtimefolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why folder is not one that only this user controls; empty when it is.
QString whyNotPrivate(const QString &folder)
{
    if (QDir::isRelativePath(folder))
        return QStringLiteral("is not an absolute path");
    struct stat status;
    if (::lstat(QFile::encodeName(folder).constData(), &status) != 0)
        return errno == ENOENT ? QStringLiteral("does not exist") : QString::fromLocal8Bit(std::strerror(errno));
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("is a symbolic link");
    if (!S_ISDIR(status.st_mode))
        return QStringLiteral("is not a folder");
    if (status.st_uid != ::geteuid())
        return QStringLiteral("belongs to user %1").arg(status.st_uid);
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QStringLiteral("is open to other users (mode %1)").arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

// Made here with no access for others, so that it is sound from the start; a folder already there is only checked.
QString makeOwnFolder(const QString &folder)
{
    QDir().mkpath(QDir::cleanPath(folder + QStringLiteral("/..")));
    if (::mkdir(QFile::encodeName(folder).constData(), S_IRWXU) != 0 && errno != EEXIST)
        return QStringLiteral("cannot be made (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return whyNotPrivate(folder);
}

} // namespace

RuntimeFolder RuntimeFolder::ofThisUser()
{
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString passedOver;
    if (!runtimeFolder.isEmpty()) {
        const QString reason = whyNotPrivate(runtimeFolder);
        if (reason.isEmpty())
            return {runtimeFolder, QString(), QString()};
        passedOver = QStringLiteral("the runtime folder \"%1\" %2").arg(runtimeFolder, reason);
    }
    const QString own = ownFolder();
    if (const QString reason = makeOwnFolder(own); !reason.isEmpty()) {
        const QString tried = passedOver.isEmpty() ? QString() : passedOver + QStringLiteral(", and ");
        return {QString(),
            QStringLiteral("no private folder for the lock and the socket: %1\"%2\" %3").arg(tried, own, reason),
            QString()};
    }
    if (!passedOver.isEmpty())
        passedOver += QStringLiteral("; the lock and the socket are in \"%1\" instead").arg(own);
    return {own, QString(), passedOver};
}

QString RuntimeFolder::ownFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/zrk-server");
}

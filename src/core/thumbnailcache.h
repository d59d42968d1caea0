// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>

#include <functional>

// Thumbnails remembered between refreshes, so that only new photos cost a decode. A file is known by its identity
// (device, inode, size, modification time and change time): a file written anew is decoded again, even when whoever
// wrote it put its size and modification time back, since only the kernel sets the change time. A rename sets it
// too, so a photo that becomes a key, or comes back, costs one decode more. A thumbnail is made for a device pixel
// ratio, which sets its size: a file is held at one ratio at a time, and asked for at another it is made anew. Safe
// to use from any number of threads at once.
class ThumbnailCache
{
public:
    // All thumbnails held, with what each entry costs besides its pixels, stay within this.
    static constexpr qsizetype maxBytes = 32 * 1024 * 1024;

    using Maker = std::function<QImage(const QString &path, qreal devicePixelRatio)>;
    // make gives the thumbnail of a file the cache does not hold.
    explicit ThumbnailCache(Maker make);
    ThumbnailCache();

    QImage thumbnailOf(const QString &path, qreal devicePixelRatio = 1);
    // What the entries held cost, in bytes.
    qsizetype bytes() const;

private:
    struct Identity
    {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        qreal devicePixelRatio = 1;
        bool operator==(const Identity &other) const;
        friend size_t qHash(const Identity &identity, size_t seed)
        {
            return qHashMulti(seed, identity.device, identity.inode, identity.size, identity.modifiedNs,
                identity.changedNs, identity.devicePixelRatio);
        }
    };
    using FileKey = std::pair<quint64, quint64>;

    void remember(const Identity &identity, const QImage &thumbnail);
    void forgetFilesNoLongerHeld();

    Maker m_make;
    mutable QMutex m_lock;
    QCache<Identity, QImage> m_thumbnails;
    // The identity each file (device and inode) had when last seen, so that a file that changes drops its entry.
    QHash<FileKey, Identity> m_lastSeen;
};

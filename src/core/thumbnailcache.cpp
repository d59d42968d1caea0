// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "thumbnailcache.h"

#include "thumbnail.h"

#include <QFile>
#include <QMutexLocker>

#include <sys/stat.h>

namespace {

qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// What an entry costs besides its pixels: the image's header and the cache's own records.
constexpr qsizetype entryOverhead = 256;

qsizetype costOf(const QImage &thumbnail)
{
    return thumbnail.sizeInBytes() + entryOverhead;
}

} // namespace

bool ThumbnailCache::Identity::operator==(const Identity &other) const
{
    return device == other.device && inode == other.inode && size == other.size && modifiedNs == other.modifiedNs
        && changedNs == other.changedNs && devicePixelRatio == other.devicePixelRatio;
}

ThumbnailCache::ThumbnailCache(Maker make) : m_make(std::move(make))
{
    m_thumbnails.setMaxCost(maxBytes);
}

ThumbnailCache::ThumbnailCache() : ThumbnailCache(&Thumbnail::fromFile) { }

QImage ThumbnailCache::thumbnailOf(const QString &path, qreal devicePixelRatio)
{
    struct stat status;
    // Only a regular file has a picture worth remembering; the maker says what anything else gives.
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return m_make(path, devicePixelRatio);
    const Identity identity {quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
        nanoseconds(status.st_mtim), nanoseconds(status.st_ctim), devicePixelRatio};
    {
        const QMutexLocker locked(&m_lock);
        if (const QImage *held = m_thumbnails.object(identity))
            return *held;
    }
    // Decoded unlocked, so that the other threads go on meanwhile.
    const QImage thumbnail = m_make(path, devicePixelRatio);
    remember(identity, thumbnail);
    return thumbnail;
}

qsizetype ThumbnailCache::bytes() const
{
    const QMutexLocker locked(&m_lock);
    return m_thumbnails.totalCost();
}

void ThumbnailCache::remember(const Identity &identity, const QImage &thumbnail)
{
    const QMutexLocker locked(&m_lock);
    const FileKey file {identity.device, identity.inode};
    if (const auto earlier = m_lastSeen.constFind(file); earlier != m_lastSeen.cend() && !(*earlier == identity))
        m_thumbnails.remove(*earlier);
    m_lastSeen.insert(file, identity);
    m_thumbnails.insert(identity, new QImage(thumbnail), costOf(thumbnail));
    if (m_lastSeen.size() > 2 * m_thumbnails.size() + 1024)
        forgetFilesNoLongerHeld();
}

// Entries that the cache let go to stay within its bound leave their records behind; those are dropped now and then.
void ThumbnailCache::forgetFilesNoLongerHeld()
{
    for (auto it = m_lastSeen.begin(); it != m_lastSeen.end();) {
        if (m_thumbnails.contains(*it))
            ++it;
        else
            it = m_lastSeen.erase(it);
    }
}

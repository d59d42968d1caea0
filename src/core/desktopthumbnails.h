// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <functional>

struct stat;

// The thumbnails the desktop keeps for every program, as the freedesktop.org Thumbnail Managing Standard lays them
// out below $XDG_CACHE_HOME/thumbnails (by default ~/.cache/thumbnails): a PNG per file, named after the MD5 of the
// file's URI and telling the URI and modification time it was made for. The file manager makes them too, and uses
// ours. A cache only: whatever is missing, stale or unreadable there is ignored, and costs a decode. Safe to use
// from any number of threads at once.
class DesktopThumbnails
{
public:
    // The longer side of the thumbnails written, those of the normal/ folder.
    static constexpr int normalSize = 128;

    // What a thumbnail is checked against: the file as it is now.
    struct Stamp
    {
        qint64 modifiedSeconds = 0;
        qint64 size = 0;

        static Stamp of(const struct stat &status);
    };

    DesktopThumbnails();
    // Waits for the writes already asked for.
    ~DesktopThumbnails();
    DesktopThumbnails(const DesktopThumbnails &) = delete;
    DesktopThumbnails &operator=(const DesktopThumbnails &) = delete;

    static QString folder();
    // The standard's key of a file: its file:// URI.
    static QByteArray uriOf(const QString &path);
    // Where the thumbnail of that size class (normal, large, ...) of path lies.
    static QString thumbnailPath(const QString &sizeFolder, const QString &path);

    // The stored thumbnail of the file at path, from the smallest size class that has one made for this very file
    // (its URI, modification time and, where told, size) with at least minimum pixels each way; null when none has.
    static QImage find(const QString &path, const Stamp &stamp, const QSize &minimum);

    // Writes a normal thumbnail of picture (the file's whole image, upright) for the file, in the background.
    void save(const QString &path, const Stamp &stamp, const QImage &picture);
    // The file at from now lies at to: its normal thumbnail goes under the new URI, in the background.
    void moved(const QString &from, const QString &to);
    void waitForWrites();

private:
    void inBackground(std::function<void()> write);

    QThreadPool m_writer;
    std::atomic<int> m_pending = 0;
};

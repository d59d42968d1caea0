// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QImage>
#include <QSize>

class DesktopThumbnails;

// The small picture shown beside every list entry.
class Thumbnail
{
public:
    static constexpr QSize size() { return {33, 22}; }

    // The file's whole image, upright as its EXIF orientation says, scaled to exactly size(), smoothly and without
    // keeping its aspect ratio: from the camera's preview when the photo has one of its shape, else decoded. A null
    // image when the file is not an image or is too large to decode. Safe to call from any thread.
    static QImage fromFile(const QString &path);
    // The same, where a photo without a usable preview is first looked up in the desktop's thumbnails, and one that
    // is decoded gets its thumbnail written there.
    static QImage fromFileSharing(const QString &path, DesktopThumbnails &desktop);
};

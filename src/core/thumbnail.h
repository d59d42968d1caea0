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
    // In logical pixels, whatever the screen.
    static constexpr QSize size() { return {33, 22}; }
    // The pixels it takes to show size() sharp at a screen's device pixel ratio: 66 x 44 at 2.
    static QSize pixelSize(qreal devicePixelRatio);

    // The file's whole image, upright as its EXIF orientation says, scaled to exactly pixelSize(devicePixelRatio),
    // smoothly and without keeping its aspect ratio, with that ratio set, so that it shows at size(): from the
    // camera's preview when the photo has one of its shape and big enough, else decoded. A null image when the file
    // is not an image or is too large to decode. Safe to call from any thread.
    static QImage fromFile(const QString &path, qreal devicePixelRatio = 1);
    // The same, where a photo without a usable preview is first looked up in the desktop's thumbnails, and one that
    // is decoded gets its thumbnail written there.
    static QImage fromFileSharing(const QString &path, DesktopThumbnails &desktop, qreal devicePixelRatio = 1);
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QSize>

class QIODevice;

// What the headers ahead of a JPEG's picture tell: the EXIF block, the photo's size as its frame header gives it, and
// whether the picture is coded sequentially (which a decoder can decode straight to a reduced size).
struct JpegHeaders
{
    // The APP1 segment's payload, "Exif\0\0" included; empty when there is none.
    QByteArray exif;
    // Invalid when the headers are not those of a JPEG photo.
    QSize size;
    bool sequential = false;

    // Walks the segments from the device's current position, which must be the JPEG's start, to the frame header,
    // reading the EXIF block and the frame header and skipping past everything else.
    static JpegHeaders read(QIODevice *photo);
};

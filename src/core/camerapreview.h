// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QImage>

struct JpegHeaders;

// The small JPEG preview that cameras and phones store in a photo's EXIF block.
namespace CameraPreview {

// The photo's thumbnail of that size made from its preview, turned upright by the photo's orientation; a null image
// when the photo has no preview, or one that does not show the whole picture (another aspect ratio, letterboxed), or
// one too small to make it sharp, or that is broken (not a JPEG, cut short, of another size than it claims). Needs
// nothing of the photo but its headers. Safe to call from any thread.
QImage thumbnail(const JpegHeaders &headers, const QSize &size);

} // namespace CameraPreview

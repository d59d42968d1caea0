// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "camerapreview.h"

#include "jpegheaders.h"

#include <QBuffer>
#include <QIODevice>
#include <QImageReader>
#include <QSize>

#include <libexif/exif-data.h>

#include <cmath>
#include <memory>

namespace {

struct ExifDataDeleter
{
    void operator()(ExifData *data) const { exif_data_unref(data); }
};
using ExifDataPointer = std::unique_ptr<ExifData, ExifDataDeleter>;

ExifDataPointer parsedExif(const QByteArray &exif)
{
    ExifDataPointer data(exif_data_new());
    if (!data)
        return {};
    // Only read: the repairs that libexif would make to follow the standard cost time and change nothing here.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), reinterpret_cast<const unsigned char *>(exif.constData()), uint(exif.size()));
    return data;
}

// The photo's EXIF orientation (1 to 8), 1 when it has none or an invalid one.
int orientationOf(ExifData *data)
{
    ExifEntry *entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || entry->size < 2)
        return 1;
    const int orientation = exif_get_short(entry->data, exif_data_get_byte_order(data));
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

// The preview bytes carry no orientation of their own: they lie as the photo's pixels lie. The same turns as Qt's
// automatic transformation of a decoded photo: mirror and flip first, then a quarter turn clockwise.
QImage turnedUpright(const QImage &image, int orientation)
{
    if (orientation == 8)
        return image.transformed(QTransform().rotate(270));
    const bool mirror = orientation == 2 || orientation == 3 || orientation == 7;
    const bool flip = orientation == 3 || orientation == 4 || orientation == 5;
    const bool quarterTurn = orientation >= 5;
    const QImage mirrored = image.mirrored(mirror, flip);
    return quarterTurn ? mirrored.transformed(QTransform().rotate(90)) : mirrored;
}

// "The same picture": aspect ratios within 1% of each other, so a letterboxed preview of a photo of another shape is
// refused.
bool sameShape(const QSize &preview, const QSize &photo)
{
    const double previewRatio = double(preview.width()) / preview.height();
    const double photoRatio = double(photo.width()) / photo.height();
    return std::abs(previewRatio - photoRatio) <= 0.01 * photoRatio;
}

// A preview is small; anything claiming more is not one, and is never decoded.
constexpr QSize maxPreviewSize(1024, 1024);

// The preview decoded, when it is a whole JPEG of the photo's shape and of a preview's size, and big enough for a
// thumbnail of that size.
QImage decodedPreview(const QByteArray &bytes, const QSize &photoSize, const QSize &thumbnail)
{
    // A preview cut short would decode with grey where its end is missing: it must end where a JPEG ends.
    if (!bytes.startsWith("\xFF\xD8") || !bytes.endsWith("\xFF\xD9"))
        return {};
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    // Its own frame header, read without the decoder, which would complain of a broken one.
    const QSize claimed = JpegHeaders::read(&buffer).size;
    // Turned upright, either side may become the thumbnail's width: both must be at least its height.
    const int minSide = thumbnail.height();
    const bool usable = claimed.width() >= minSide && claimed.height() >= minSide
        && claimed.width() <= maxPreviewSize.width() && claimed.height() <= maxPreviewSize.height()
        && sameShape(claimed, photoSize);
    if (!usable)
        return {};
    buffer.seek(0);
    QImageReader reader(&buffer, "jpeg");
    const QImage image = reader.read();
    return image.size() == claimed ? image : QImage();
}

} // namespace

QImage CameraPreview::thumbnail(const JpegHeaders &headers, const QSize &size)
{
    if (headers.exif.isEmpty() || headers.size.isEmpty())
        return {};
    const ExifDataPointer data = parsedExif(headers.exif);
    if (!data || !data->data || data->size == 0)
        return {};
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data->data), qsizetype(data->size));
    const QImage preview = decodedPreview(bytes, headers.size, size);
    if (preview.isNull())
        return {};
    return turnedUpright(preview, orientationOf(data.get()))
        .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

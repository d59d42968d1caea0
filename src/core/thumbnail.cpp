// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "thumbnail.h"

#include "camerapreview.h"
#include "jpegheaders.h"
#include "regularfile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMutex>

namespace {

// JPEG decoders can scale by 1/2, 1/4 and 1/8 while decoding, which skips most of the work. Take the smallest of
// those that still leaves at least the thumbnail's size, so the final smooth scale only ever shrinks.
QSize reducedDecodeSize(const QSize &full, const QSize &thumbnail)
{
    for (int denominator : {8, 4, 2}) {
        const QSize reduced(
            (full.width() + denominator - 1) / denominator, (full.height() + denominator - 1) / denominator);
        if (reduced.width() >= thumbnail.width() && reduced.height() >= thumbnail.height())
            return reduced;
    }
    return full;
}

// A header can claim any size, so the pixels a decode may produce are bounded. A sequential JPEG decodes at its
// reduced size, and no real photo comes near this there.
constexpr qint64 maxReducedDecodePixels = 8 * 1024 * 1024;
// Everything else (progressive JPEGs, other formats) holds the whole picture while it decodes, up to six bytes a
// pixel; a 16-megapixel camera's photos still get their thumbnail.
constexpr qint64 maxFullDecodePixels = 16 * 1000 * 1000;

qint64 pixelsOf(const QSize &size)
{
    return qint64(size.width()) * size.height();
}

// Full decodes take one at a time, so decoding on every core cannot multiply their memory.
QMutex fullDecodeLock;

QImage scaledToThumbnail(const QImage &image, const QSize &thumbnail)
{
    if (image.isNull())
        return {};
    return image.scaled(thumbnail, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Qt's JPEG reader refills the decoder 4 KiB at a time, which keeps libjpeg-turbo off its fast Huffman decoder for
// most of the file (it wants a few KiB of input in hand per block group). From a QBuffer it hands over the whole file
// at once, and a sequential JPEG decodes about 8% faster. Larger files are streamed, so memory stays bounded.
constexpr qint64 maxBufferedFileSize = 16 * 1024 * 1024;

// The file as the decoder reads it, from its start: a sequential JPEG held whole when small enough; anything else,
// which gains nothing from that (key lists, progressive JPEGs, other formats), streamed.
class PhotoSource
{
public:
    PhotoSource(QFile &file, bool sequentialJpeg) : m_file(file)
    {
        m_file.seek(0);
        if (!sequentialJpeg || m_file.size() > maxBufferedFileSize)
            return;
        m_buffer.setData(m_file.read(maxBufferedFileSize));
        m_buffer.open(QIODevice::ReadOnly);
    }

    QIODevice *device() { return m_buffer.isOpen() ? static_cast<QIODevice *>(&m_buffer) : &m_file; }

private:
    QFile &m_file;
    QBuffer m_buffer;
};

// Only a sequential JPEG decodes straight to a reduced size.
QImage decodedThumbnail(QFile &file, bool sequentialJpeg, const QSize &thumbnail)
{
    PhotoSource source(file, sequentialJpeg);
    QImageReader reader(source.device());
    // A phone photo taken upright is stored on its side, with the turn to make in its EXIF block.
    reader.setAutoTransform(true);
    const QSize full = reader.size();
    const QSize reduced = reducedDecodeSize(full, thumbnail);
    if (full.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(reduced);
    if (sequentialJpeg && full.isValid())
        return pixelsOf(reduced) > maxReducedDecodePixels ? QImage() : scaledToThumbnail(reader.read(), thumbnail);
    if (pixelsOf(full) > maxFullDecodePixels)
        return {};
    const QMutexLocker oneAtATime(&fullDecodeLock);
    return scaledToThumbnail(reader.read(), thumbnail);
}

} // namespace

QSize Thumbnail::pixelSize(qreal devicePixelRatio)
{
    return (QSizeF(size()) * devicePixelRatio).toSize();
}

QImage Thumbnail::fromFile(const QString &path, qreal devicePixelRatio)
{
    QFile file;
    // A reader given an unopened file would try to open it itself, and complain of a missing file name.
    if (!RegularFile::openForReading(file, path))
        return {};
    const QSize pixels = pixelSize(devicePixelRatio);
    // The camera's own preview, when it shows the whole picture, costs a fraction of even a reduced decode.
    const JpegHeaders headers = JpegHeaders::read(&file);
    QImage thumbnail = CameraPreview::thumbnail(headers, pixels);
    if (thumbnail.isNull())
        thumbnail = decodedThumbnail(file, headers.sequential, pixels);
    thumbnail.setDevicePixelRatio(devicePixelRatio);
    return thumbnail;
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "thumbnail.h"

#include "camerapreview.h"
#include "desktopthumbnails.h"
#include "jpegheaders.h"
#include "regularfile.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMutex>

#include <algorithm>
#include <functional>
#include <sys/stat.h>

namespace {

// The picture a decode is scaled down from: at least the thumbnail's pixels, and as large as the desktop's normal
// thumbnails where the photo is.
bool largeEnough(const QSize &reduced, const QSize &full, const QSize &thumbnail)
{
    const int longerSide = std::max(reduced.width(), reduced.height());
    return reduced.width() >= thumbnail.width() && reduced.height() >= thumbnail.height()
        && longerSide >= std::min(DesktopThumbnails::normalSize, std::max(full.width(), full.height()));
}

// JPEG decoders can scale by 1/2, 1/4 and 1/8 while decoding, which skips most of the work. Take the smallest of
// those that still leaves a picture large enough, so the final smooth scales only ever shrink.
QSize reducedDecodeSize(const QSize &full, const QSize &thumbnail)
{
    for (int denominator : {8, 4, 2}) {
        const QSize reduced(
            (full.width() + denominator - 1) / denominator, (full.height() + denominator - 1) / denominator);
        if (largeEnough(reduced, full, thumbnail))
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

// This thread's buffer for the photo it reads, holding exactly size bytes, kept for the next photo. A buffer of each
// photo's own would lie above the C library's mmap threshold, so it would be mapped afresh for every photo and fault
// in page by page while the file is copied in; the kept one faults only where it grows. It goes with its thread, and
// the pool ends its threads once they have been idle a while.
QByteArray &photoBufferOf(qint64 size)
{
    thread_local QByteArray buffer;
    // Grown to the size itself: a resize alone would round the allocation up to a power of two.
    if (buffer.capacity() < size) {
        buffer = QByteArray();
        buffer.reserve(size);
    }
    buffer.resize(size);
    return buffer;
}

// The file as the decoder reads it, from its start: a sequential JPEG held whole when small enough; anything else,
// which gains nothing from that (key lists, progressive JPEGs, other formats), streamed.
class PhotoSource
{
public:
    PhotoSource(QFile &file, bool sequentialJpeg) : m_file(file)
    {
        m_file.seek(0);
        const qint64 size = m_file.size();
        if (!sequentialJpeg || size > maxBufferedFileSize)
            return;
        QByteArray &bytes = photoBufferOf(size);
        const qint64 read = m_file.read(bytes.data(), size);
        bytes.resize(std::max<qint64>(read, 0));
        m_buffer.setBuffer(&bytes);
        m_buffer.open(QIODevice::ReadOnly);
    }

    QIODevice *device() { return m_buffer.isOpen() ? static_cast<QIODevice *>(&m_buffer) : &m_file; }

private:
    QFile &m_file;
    QBuffer m_buffer;
};

// Gets the decoded picture, before it is scaled to the thumbnail.
using PictureKeeper = std::function<void(const QImage &picture)>;

QImage thumbnailKeeping(const QImage &picture, const QSize &thumbnail, const PictureKeeper &keep)
{
    if (picture.isNull())
        return {};
    keep(picture);
    return scaledToThumbnail(picture, thumbnail);
}

// Only a sequential JPEG decodes straight to a reduced size.
QImage decodedThumbnail(QFile &file, bool sequentialJpeg, const QSize &thumbnail, const PictureKeeper &keep)
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
        return pixelsOf(reduced) > maxReducedDecodePixels ? QImage() : thumbnailKeeping(reader.read(), thumbnail, keep);
    if (pixelsOf(full) > maxFullDecodePixels)
        return {};
    const QMutexLocker oneAtATime(&fullDecodeLock);
    return thumbnailKeeping(reader.read(), thumbnail, keep);
}

QImage thumbnailOf(const QString &path, const QSize &pixels, DesktopThumbnails *desktop)
{
    QFile file;
    // A reader given an unopened file would try to open it itself, and complain of a missing file name.
    if (!RegularFile::openForReading(file, path))
        return {};
    // The camera's own preview, when it shows the whole picture, costs a fraction of even a reduced decode.
    const JpegHeaders headers = JpegHeaders::read(&file);
    if (const QImage preview = CameraPreview::thumbnail(headers, pixels); !preview.isNull())
        return preview;
    if (!desktop)
        return decodedThumbnail(file, headers.sequential, pixels, [](const QImage &) {});
    struct stat status;
    if (::fstat(file.handle(), &status) != 0)
        return {};
    const DesktopThumbnails::Stamp stamp = DesktopThumbnails::Stamp::of(status);
    // Next cheapest: the thumbnail the desktop keeps, made by this program or the file manager.
    if (const QImage kept = DesktopThumbnails::find(path, stamp, pixels); !kept.isNull())
        return scaledToThumbnail(kept, pixels);
    return decodedThumbnail(
        file, headers.sequential, pixels, [&](const QImage &picture) { desktop->save(path, stamp, picture); });
}

QImage withRatio(QImage thumbnail, qreal devicePixelRatio)
{
    thumbnail.setDevicePixelRatio(devicePixelRatio);
    return thumbnail;
}

} // namespace

QSize Thumbnail::pixelSize(qreal devicePixelRatio)
{
    return (QSizeF(size()) * devicePixelRatio).toSize();
}

QImage Thumbnail::fromFile(const QString &path, qreal devicePixelRatio)
{
    return withRatio(thumbnailOf(path, pixelSize(devicePixelRatio), nullptr), devicePixelRatio);
}

QImage Thumbnail::fromFileSharing(const QString &path, DesktopThumbnails &desktop, qreal devicePixelRatio)
{
    return withRatio(thumbnailOf(path, pixelSize(devicePixelRatio), &desktop), devicePixelRatio);
}

#include "thumbnail.h"

#include <QImageReader>

namespace {

// JPEG decoders can scale by 1/2, 1/4 and 1/8 while decoding, which skips most of the work. Take the smallest of
// those that still leaves at least the thumbnail's size, so the final smooth scale only ever shrinks.
QSize reducedDecodeSize(const QSize &full)
{
    for (int denominator : {8, 4, 2}) {
        const QSize reduced(
            (full.width() + denominator - 1) / denominator, (full.height() + denominator - 1) / denominator);
        if (reduced.width() >= Thumbnail::size().width() && reduced.height() >= Thumbnail::size().height())
            return reduced;
    }
    return full;
}

} // namespace

QImage Thumbnail::fromFile(const QString &path)
{
    QImageReader reader(path);
    const QSize full = reader.size();
    if (full.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(reducedDecodeSize(full));
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    return image.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

#include "corpus.h"

#include "folderscan.h"
#include "keystore.h"

#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <QtConcurrent/QtConcurrentMap>

#include <cmath>
#include <vector>

namespace {

struct PlannedPhoto
{
    QString path;
    QSize size;
    bool progressive = false;
    quint32 seed = 1;
};

// Cheap and good enough for sensor noise.
quint32 xorshift(quint32 &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Smooth light across the frame, some soft structure and per-pixel sensor noise: the entropy a camera photo gives
// the decoder, which flat colour would not.
QImage cameraLikeImage(const QSize &size, quint32 seed)
{
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width();
    const int h = size.height();
    const double phase = (seed % 97) * 0.1;
    std::vector<int> structureX(w);
    for (int x = 0; x < w; ++x)
        structureX[x] = int(24 * std::sin(x * 0.013 + phase) + 10 * std::sin(x * 0.11 + 2 * phase));
    quint32 state = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int structureY = int(20 * std::sin(y * 0.017 + phase));
        const int green = 40 + 150 * y / h;
        for (int x = 0; x < w; ++x) {
            const quint32 random = xorshift(state);
            const int noise = int(random & 15) - 8;
            const int chromaNoise = int((random >> 8) & 3) - 2;
            const int light = structureX[x] + structureY + noise;
            line[x] = qRgb(qBound(0, 30 + 190 * x / w + light, 255), qBound(0, green + light + chromaNoise, 255),
                qBound(0, 170 - 100 * x / w + light - chromaNoise, 255));
        }
    }
    return image;
}

void writePhoto(const PlannedPhoto &photo)
{
    QImageWriter writer(photo.path, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(photo.progressive);
    writer.write(cameraLikeImage(photo.size, photo.seed));
}

QString makeFolder(const QString &root, const QString &name)
{
    QDir(root).mkpath(name);
    return root + QLatin1Char('/') + name;
}

} // namespace

namespace Corpus {

QList<PhotoSet> make(const QString &root, int photoCount)
{
    constexpr int progressiveCount = 5;
    constexpr int smallCount = 20;
    const QString cameraFolder = makeFolder(root, QStringLiteral("camera"));
    const QString mixedFolder = makeFolder(root, QStringLiteral("mixed"));
    QList<PlannedPhoto> planned;
    quint32 seed = 1;
    for (int i = 0; i < photoCount; ++i)
        planned.append({QStringLiteral("%1/IMG_%2.jpg").arg(cameraFolder).arg(i, 4, 10, QLatin1Char('0')),
            QSize(4000, 3000), false, seed++});
    for (int i = 0; i < progressiveCount; ++i)
        planned.append(
            {QStringLiteral("%1/progressive_%2.jpg").arg(mixedFolder).arg(i), QSize(4000, 3000), true, seed++});
    for (int i = 0; i < smallCount; ++i)
        planned.append({QStringLiteral("%1/small_%2.jpg").arg(mixedFolder).arg(i), QSize(1152, 864), false, seed++});
    QtConcurrent::blockingMap(planned, &writePhoto);

    PhotoSet camera = adopt(cameraFolder);
    camera.title = QStringLiteral("%1 photos 4000x3000, baseline, quality 90").arg(photoCount);
    PhotoSet mixed = adopt(mixedFolder);
    mixed.title = QStringLiteral("%1 progressive 4000x3000 and %2 baseline 1152x864, quality 90")
                      .arg(progressiveCount)
                      .arg(smallCount);
    return {camera, mixed};
}

PhotoSet adopt(const QString &folder)
{
    const QStringList files = FolderScan::matchingFiles(folder, KeyStore::photoPattern());
    return {QStringLiteral("%1 photos in %2").arg(files.size()).arg(folder), folder, files};
}

} // namespace Corpus

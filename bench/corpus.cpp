// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "corpus.h"

#include "cameraphoto.h"
#include "folderscan.h"
#include "keystore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
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
    // Where the same photo goes with a camera's EXIF block and preview, when it does.
    QString previewPath = {};
};

// What a camera stores: 160 x 120 pixels, quality 75.
constexpr QSize previewSize(160, 120);

// Cheap and good enough for sensor noise.
quint32 xorshift(quint32 &state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

enum class Noise { Sensor, None };

// Smooth light across the frame, some soft structure and per-pixel sensor noise: the entropy a camera photo gives
// the decoder, which flat colour would not.
QImage cameraLikeImage(const QSize &size, quint32 seed, Noise noise = Noise::Sensor)
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
            const quint32 random = noise == Noise::Sensor ? xorshift(state) : 0x88;
            const int noise = int(random & 15) - 8;
            const int chromaNoise = int((random >> 8) & 3) - 2;
            const int light = structureX[x] + structureY + noise;
            line[x] = qRgb(qBound(0, 30 + 190 * x / w + light, 255), qBound(0, green + light + chromaNoise, 255),
                qBound(0, 170 - 100 * x / w + light - chromaNoise, 255));
        }
    }
    return image;
}

QByteArray jpegOf(const QImage &image, int quality, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QByteArray previewOf(const QImage &image)
{
    return jpegOf(image.scaled(previewSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 75);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("zrk-bench: cannot write the corpus");
}

void writePhoto(const PlannedPhoto &photo)
{
    const QImage image = cameraLikeImage(photo.size, photo.seed);
    const QByteArray jpeg = jpegOf(image, 90, photo.progressive);
    writeFile(photo.path, jpeg);
    if (!photo.previewPath.isEmpty())
        writeFile(photo.previewPath, CameraPhoto::withExif(jpeg, previewOf(image)));
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
    const QString previewFolder = makeFolder(root, QStringLiteral("camera-previews"));
    const QString mixedFolder = makeFolder(root, QStringLiteral("mixed"));
    QList<PlannedPhoto> planned;
    quint32 seed = 1;
    for (int i = 0; i < photoCount; ++i) {
        const QString name = QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        planned.append({cameraFolder + QLatin1Char('/') + name, QSize(4000, 3000), false, seed++,
            previewFolder + QLatin1Char('/') + name});
    }
    for (int i = 0; i < progressiveCount; ++i)
        planned.append(
            {QStringLiteral("%1/progressive_%2.jpg").arg(mixedFolder).arg(i), QSize(4000, 3000), true, seed++});
    for (int i = 0; i < smallCount; ++i)
        planned.append({QStringLiteral("%1/small_%2.jpg").arg(mixedFolder).arg(i), QSize(1152, 864), false, seed++});
    QtConcurrent::blockingMap(planned, &writePhoto);

    PhotoSet camera = adopt(cameraFolder);
    camera.title = QStringLiteral("%1 photos 4000x3000, baseline, quality 90").arg(photoCount);
    PhotoSet previews = adopt(previewFolder);
    previews.previews = true;
    previews.title =
        QStringLiteral("the same %1 photos with a camera's EXIF block and 160x120 preview").arg(photoCount);
    PhotoSet mixed = adopt(mixedFolder);
    mixed.title = QStringLiteral("%1 progressive 4000x3000 and %2 baseline 1152x864, quality 90")
                      .arg(progressiveCount)
                      .arg(smallCount);
    return {camera, previews, mixed};
}

QString makeKeyStore(const QString &root, const QString &name, int photoCount, int keyCount, bool previews)
{
    constexpr int pictureCount = 4;
    QList<QByteArray> pictures(pictureCount);
    QtConcurrent::blockingMap(pictures, [&](QByteArray &picture) {
        const QImage image = cameraLikeImage(QSize(4000, 3000), quint32(&picture - pictures.data()) + 1, Noise::None);
        picture = jpegOf(image, 90);
        if (previews)
            picture = CameraPhoto::withExif(picture, previewOf(image));
    });
    const QString documents = makeFolder(root, name + QStringLiteral("/Documents"));
    const QString sentKeys = makeFolder(documents, QStringLiteral(".sentKeys"));
    for (int i = 0; i < photoCount; ++i)
        writeFile(QStringLiteral("%1/DSC_%2.jpg").arg(documents).arg(i, 5, 10, QLatin1Char('0')),
            pictures.at(i % pictureCount));
    for (int i = 0; i < keyCount; ++i)
        writeFile(
            sentKeys + QLatin1Char('/') + KeyStore::keyName(long(i) * 21467 + 12345), pictures.at(i % pictureCount));
    return documents;
}

PhotoSet adopt(const QString &folder)
{
    const QStringList files = FolderScan::matchingFiles(folder, KeyStore::photoPattern());
    return {QStringLiteral("%1 photos in %2").arg(files.size()).arg(folder), folder, files};
}

} // namespace Corpus

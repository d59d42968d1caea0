// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "demokeystore.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>

#include <utility>

bool DemoKeyStore::fill(const QString &documentFolder)
{
    const QDir documents(documentFolder);
    const std::pair<const char *, int> photos[] = {
        {"stand-opening.jpg", 1},
        {"visitor-anna.jpg", 2},
        {"crowd-at-noon.jpg", 3},
        {"day2/booth-team.jpg", 4},
        {"day2/raffle-table.jpg", 5},
        {".sentKeys/zrk_1804289383.key.jpg", 6},
        {".sentKeys/zrk_846930886.key.jpg", 7},
        {".sentKeys/zrk_1681692777.key.jpg", 8},
    };
    for (const auto &[name, seed] : photos) {
        if (!writePhoto(documents.filePath(QString::fromLatin1(name)), seed))
            return false;
    }
    // One list every key of which was issued here, and one that names a key nobody gave out.
    return write(documents.filePath(QStringLiteral("anna.list")), "zrk_1804289383.key.jpg\nzrk_846930886.key.txt\n")
        && write(documents.filePath(QStringLiteral("day2/lucky-draw.list")),
            "zrk_1681692777.key.jpg\nzrk_424238335.key.jpg\n");
}

// A landscape in the colours of a different hour for every seed: sky, sun and two rows of hills.
QImage DemoKeyStore::photo(int seed)
{
    QRandomGenerator random(seed);
    QImage image(1200, 800, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int hue = random.bounded(360);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, QColor::fromHsv(hue, 150, 230));
    sky.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 60, 255));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv(45, 200, 255));
    painter.drawEllipse(QPoint(200 + random.bounded(800), 150 + random.bounded(200)), 90, 90);
    for (int row = 0; row < 2; ++row) {
        QPainterPath hills(QPointF(0, image.height()));
        const int base = 450 + row * 150;
        for (int x = 0; x <= image.width(); x += 200)
            hills.lineTo(x, base - random.bounded(160));
        hills.lineTo(image.width(), image.height());
        painter.setBrush(QColor::fromHsv((100 + random.bounded(60)) % 360, 170, 150 - row * 50));
        painter.drawPath(hills);
    }
    return image;
}

bool DemoKeyStore::write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(bytes) == bytes.size();
}

bool DemoKeyStore::writePhoto(const QString &path, int seed)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return photo(seed).save(&buffer, "JPEG", 85) && write(path, bytes);
}

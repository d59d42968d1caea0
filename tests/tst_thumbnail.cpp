// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cameraphoto.h"
#include "desktopthumbnails.h"
#include "testsupport.h"
#include "thumbnail.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QScopeGuard>
#include <QTest>

#include <sys/stat.h>

namespace {

int largestChannelDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max(
                {largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

QByteArray encoded(const QImage &image, const char *format = "JPEG")
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return bytes;
}

QImage filled(const QSize &size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A picture whose corners tell every turn and mirror apart: red, green, blue and yellow quarters, clockwise from
// the top left.
QImage quarters(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    painter.fillRect(0, 0, w, h, Qt::red);
    painter.fillRect(w, 0, size.width() - w, h, Qt::green);
    painter.fillRect(0, h, w, size.height() - h, Qt::blue);
    painter.fillRect(w, h, size.width() - w, size.height() - h, Qt::yellow);
    return image;
}

bool near(QRgb pixel, const QColor &colour)
{
    return std::abs(qRed(pixel) - colour.red()) < 40 && std::abs(qGreen(pixel) - colour.green()) < 40
        && std::abs(qBlue(pixel) - colour.blue()) < 40;
}

// The colours of a thumbnail's four corners, clockwise from the top left.
QList<QColor> cornersOf(const QImage &thumbnail)
{
    const QList<QColor> colours {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    QList<QColor> corners;
    for (const QPoint &corner : {QPoint(0, 0), QPoint(32, 0), QPoint(32, 21), QPoint(0, 21)}) {
        const auto found = std::find_if(colours.cbegin(), colours.cend(),
            [&](const QColor &colour) { return near(thumbnail.pixel(corner), colour); });
        corners.append(found == colours.cend() ? QColor() : *found);
    }
    return corners;
}

int permissionsOf(const QString &path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

// A thumbnail as the desktop stores one, made for the file at path as it is now unless told otherwise.
QImage desktopThumbnail(const QSize &size, const QColor &colour, const QString &path)
{
    QImage thumbnail = filled(size, colour);
    const QFileInfo file(path);
    thumbnail.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(DesktopThumbnails::uriOf(path)));
    thumbnail.setText(QStringLiteral("Thumb::MTime"), QString::number(file.lastModified().toSecsSinceEpoch()));
    return thumbnail;
}

} // namespace

class TestThumbnail : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void thumbnails_data();
    void thumbnails();
    void thumbnailShowsTheWholeImage();
    void sharpAtTheScreensRatio_data();
    void sharpAtTheScreensRatio();
    void vanishedFileGivesNothingQuietly();
    void cameraPreviewUsedWhenItShowsThePhoto();
    void cameraPreviewRefused_data();
    void cameraPreviewRefused();
    void cameraPreviewAtTheScreensRatio_data();
    void cameraPreviewAtTheScreensRatio();
    void turnedUpright_data();
    void turnedUpright();
    void desktopThumbnailWritten_data();
    void desktopThumbnailWritten();
    void desktopThumbnailUsedOnlyWhenMadeForThePhoto_data();
    void desktopThumbnailUsedOnlyWhenMadeForThePhoto();
    void movedPhotoTakesItsDesktopThumbnail();
    void unwritableDesktopCacheChangesNothingButTime_data();
    void unwritableDesktopCacheChangesNothingButTime();
    void desktopCacheInTheHomeByDefault();
};

void TestThumbnail::init()
{
    failOnUnexpectedWarnings();
}

void TestThumbnail::thumbnails_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // When valid, a progressive JPEG of that size is written instead of the bytes.
    QTest::addColumn<QSize>("progressiveSize");
    QTest::addColumn<bool>("hasPicture");
    QTest::addColumn<QStringList>("decoderWarnings");

    QTest::newRow("small photo") << jpegBytes(QSize(40, 30)) << QSize() << true << QStringList();
    QTest::newRow("camera-sized photo") << jpegBytes(QSize(3000, 2000)) << QSize() << true << QStringList();
    QTest::newRow("progressive photo") << QByteArray() << QSize(640, 480) << true << QStringList();
    QTest::newRow("camera-sized progressive photo") << QByteArray() << QSize(3600, 2700) << true << QStringList();
    QTest::newRow("tiny photo scaled up") << jpegBytes(QSize(3, 2)) << QSize() << true << QStringList();
    QTest::newRow("not a picture") << QByteArray("zrk_1.key.jpg\n") << QSize() << false << QStringList();
    QTest::newRow("empty file") << QByteArray() << QSize() << false << QStringList();
    QTest::newRow("truncated photo") << jpegBytes(QSize(200, 100)).left(60) << QSize() << false
                                     << QStringList {
                                            QStringLiteral("Corrupt JPEG data: 1 extraneous bytes before marker 0xd9"),
                                            QStringLiteral("JPEG datastream contains no image")};
}

void TestThumbnail::thumbnails()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, progressiveSize);
    QFETCH(bool, hasPicture);
    QFETCH(QStringList, decoderWarnings);
    for (const QString &warning : decoderWarnings)
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));

    KeyStoreFixture store;
    if (progressiveSize.isValid()) {
        QImage image(progressiveSize, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.fillRect(image.rect(), QLinearGradient(0, 0, progressiveSize.width(), 0));
        painter.end();
        QImageWriter writer(store.documents() + QStringLiteral("/photo.jpg"));
        writer.setProgressiveScanWrite(true);
        QVERIFY(writer.write(image));
    } else {
        store.writeFile(QStringLiteral("photo.jpg"), bytes);
    }

    const QImage picture = Thumbnail::fromFile(store.documents() + QStringLiteral("/photo.jpg"));
    QCOMPARE(!picture.isNull(), hasPicture);
    if (hasPicture)
        QCOMPARE(picture.size(), QSize(33, 22));
}

void TestThumbnail::thumbnailShowsTheWholeImage()
{
    // Four coloured quarters of a tall picture: all four corners must survive, squeezed to 33 x 22.
    KeyStoreFixture store;
    const QString path = store.writeFile(QStringLiteral("quarters.jpg"), encoded(quarters(QSize(900, 1600))));
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(1600, 1200), 3);

    const QImage squeezed = Thumbnail::fromFile(path);
    QCOMPARE(squeezed.size(), QSize(33, 22));
    QCOMPARE(cornersOf(squeezed), (QList<QColor> {Qt::red, Qt::green, Qt::yellow, Qt::blue}));

    // Close to what a full decode and a smooth scale give.
    const QImage reference = QImage(photo)
                                 .scaled(33, 22, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_RGB32);
    const QImage thumbnail = Thumbnail::fromFile(photo);
    QVERIFY2(largestChannelDifference(thumbnail.convertToFormat(QImage::Format_RGB32), reference) < 24,
        "the thumbnail differs from the photo scaled whole");
}

void TestThumbnail::sharpAtTheScreensRatio_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QSize>("pixels");

    QTest::newRow("ordinary screen") << 1.0 << QSize(33, 22);
    QTest::newRow("phone at scale 2") << 2.0 << QSize(66, 44);
    QTest::newRow("phone at scale 3") << 3.0 << QSize(99, 66);
    QTest::newRow("scale 1.5") << 1.5 << QSize(50, 33);
}

void TestThumbnail::sharpAtTheScreensRatio()
{
    QFETCH(qreal, ratio);
    QFETCH(QSize, pixels);

    KeyStoreFixture store;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(1600, 1200), 5);
    const QImage thumbnail = Thumbnail::fromFile(photo, ratio);
    QCOMPARE(thumbnail.size(), pixels);
    QCOMPARE(thumbnail.devicePixelRatio(), ratio);
    QCOMPARE(thumbnail.deviceIndependentSize().toSize(), QSize(33, 22));
    // Made at its own size, not blown up from a smaller one.
    const QImage reference = QImage(photo)
                                 .scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_RGB32);
    QVERIFY2(largestChannelDifference(thumbnail.convertToFormat(QImage::Format_RGB32), reference) < 24,
        "the thumbnail differs from the photo scaled whole to its size");
}

void TestThumbnail::vanishedFileGivesNothingQuietly()
{
    KeyStoreFixture store;
    QVERIFY(Thumbnail::fromFile(store.documents() + QStringLiteral("/gone.jpg")).isNull());
}

void TestThumbnail::cameraPreviewUsedWhenItShowsThePhoto()
{
    // A red photo whose preview is blue: the thumbnail's colour tells which of them made it.
    KeyStoreFixture store;
    const QByteArray preview = encoded(filled(QSize(160, 120), Qt::blue));
    const QString photo = store.writeFile(
        QStringLiteral("camera.jpg"), CameraPhoto::withExif(encoded(filled(QSize(1600, 1200), Qt::red)), preview));

    const QImage thumbnail = Thumbnail::fromFile(photo);
    QCOMPARE(thumbnail.size(), QSize(33, 22));
    QVERIFY(near(thumbnail.pixel(0, 0), Qt::blue));
    QVERIFY(near(thumbnail.pixel(32, 21), Qt::blue));
}

void TestThumbnail::cameraPreviewRefused_data()
{
    QTest::addColumn<QSize>("photoSize");
    QTest::addColumn<QByteArray>("preview");

    const QByteArray blue = encoded(filled(QSize(160, 120), Qt::blue));
    QTest::newRow("letterboxed: a 4:3 preview of a 3:2 photo") << QSize(1500, 1000) << blue;
    QTest::newRow("of a slightly other shape") << QSize(1600, 1180) << blue;
    QTest::newRow("cut short") << QSize(1600, 1200) << blue.left(blue.size() / 2);
    QTest::newRow("not a JPEG") << QSize(1600, 1200) << encoded(filled(QSize(160, 120), Qt::blue), "PNG");
    QTest::newRow("random bytes") << QSize(1600, 1200) << QByteArray(3000, '\x5a');
    QTest::newRow("a JPEG's first bytes only") << QSize(1600, 1200) << QByteArray("\xFF\xD8\xFF\xD9", 4);
    QTest::newRow("too small to show anything") << QSize(1600, 1200) << encoded(filled(QSize(16, 12), Qt::blue));
}

void TestThumbnail::cameraPreviewRefused()
{
    QFETCH(QSize, photoSize);
    QFETCH(QByteArray, preview);

    KeyStoreFixture store;
    const QByteArray jpeg = jpegBytes(photoSize, 7);
    const QString plain = store.writeFile(QStringLiteral("plain.jpg"), jpeg);
    const QString withPreview = store.writeFile(QStringLiteral("camera.jpg"), CameraPhoto::withExif(jpeg, preview));

    // The photo is decoded instead, to the same picture as without the preview.
    const QImage thumbnail = Thumbnail::fromFile(withPreview);
    QCOMPARE(thumbnail.size(), QSize(33, 22));
    const QImage decoded = Thumbnail::fromFile(plain);
    QVERIFY2(largestChannelDifference(
                 thumbnail.convertToFormat(QImage::Format_RGB32), decoded.convertToFormat(QImage::Format_RGB32))
            <= 3,
        "the thumbnail differs from the decoded photo's");
}

void TestThumbnail::cameraPreviewAtTheScreensRatio_data()
{
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<QSize>("previewSize");
    QTest::addColumn<bool>("fromPreview");

    QTest::newRow("a camera's 160 x 120 at scale 2") << 2.0 << QSize(160, 120) << true;
    QTest::newRow("a camera's 160 x 120 at scale 4") << 4.0 << QSize(160, 120) << true;
    QTest::newRow("80 x 60 at scale 2") << 2.0 << QSize(80, 60) << true;
    QTest::newRow("80 x 60 at scale 4: too small, decoded") << 4.0 << QSize(80, 60) << false;
}

void TestThumbnail::cameraPreviewAtTheScreensRatio()
{
    QFETCH(qreal, ratio);
    QFETCH(QSize, previewSize);
    QFETCH(bool, fromPreview);

    // A red photo whose preview is blue: the thumbnail's colour tells which of them made it.
    KeyStoreFixture store;
    const QString photo = store.writeFile(QStringLiteral("camera.jpg"),
        CameraPhoto::withExif(encoded(filled(QSize(1600, 1200), Qt::red)), encoded(filled(previewSize, Qt::blue))));

    const QImage thumbnail = Thumbnail::fromFile(photo, ratio);
    QCOMPARE(thumbnail.size(), Thumbnail::pixelSize(ratio));
    QCOMPARE(thumbnail.devicePixelRatio(), ratio);
    QCOMPARE(near(thumbnail.pixel(0, 0), fromPreview ? Qt::blue : Qt::red), true);
}

void TestThumbnail::turnedUpright_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("withPreview");
    // The corners of the upright thumbnail, clockwise from the top left, of a photo stored as quarters().
    QTest::addColumn<QList<QColor>>("corners");

    const QList<std::pair<int, QList<QColor>>> turns {
        {1, {Qt::red, Qt::green, Qt::yellow, Qt::blue}},
        {2, {Qt::green, Qt::red, Qt::blue, Qt::yellow}},
        {3, {Qt::yellow, Qt::blue, Qt::red, Qt::green}},
        {4, {Qt::blue, Qt::yellow, Qt::green, Qt::red}},
        {5, {Qt::red, Qt::blue, Qt::yellow, Qt::green}},
        {6, {Qt::blue, Qt::red, Qt::green, Qt::yellow}},
        {7, {Qt::yellow, Qt::green, Qt::red, Qt::blue}},
        {8, {Qt::green, Qt::yellow, Qt::blue, Qt::red}},
    };
    for (const auto &[orientation, corners] : turns) {
        QTest::addRow("orientation %d, preview", orientation) << orientation << true << corners;
        QTest::addRow("orientation %d, decoded", orientation) << orientation << false << corners;
    }
}

void TestThumbnail::turnedUpright()
{
    QFETCH(int, orientation);
    QFETCH(bool, withPreview);
    QFETCH(QList<QColor>, corners);

    // Stored as a camera held on its side stores it, the turn to make in the EXIF block.
    KeyStoreFixture store;
    const QByteArray preview = withPreview ? encoded(quarters(QSize(160, 120))) : QByteArray();
    const QString photo = store.writeFile(QStringLiteral("turned.jpg"),
        CameraPhoto::withExif(encoded(quarters(QSize(1600, 1200))), preview, orientation));

    const QImage thumbnail = Thumbnail::fromFile(photo);
    QCOMPARE(thumbnail.size(), QSize(33, 22));
    QCOMPARE(cornersOf(thumbnail), corners);
}

void TestThumbnail::desktopThumbnailWritten_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // Invalid when nothing is to be written.
    QTest::addColumn<QSize>("writtenSize");
    QTest::addColumn<QStringList>("decoderWarnings");

    QTest::newRow("decoded photo") << jpegBytes(QSize(3000, 2000)) << QSize(128, 85) << QStringList();
    QTest::newRow("upright portrait") << CameraPhoto::withExif(encoded(quarters(QSize(1600, 1200))), {}, 6)
                                      << QSize(96, 128) << QStringList();
    QTest::newRow("small photo, kept at its size") << jpegBytes(QSize(100, 60)) << QSize(100, 60) << QStringList();
    QTest::newRow("camera preview, nothing decoded") << CameraPhoto::withExif(
        encoded(filled(QSize(1600, 1200), Qt::red)), encoded(filled(QSize(160, 120), Qt::blue)))
                                                     << QSize() << QStringList();
    QTest::newRow("not a picture") << QByteArray("zrk_1.key.jpg\n") << QSize() << QStringList();
    QTest::newRow("truncated photo") << jpegBytes(QSize(200, 100)).left(60) << QSize()
                                     << QStringList {
                                            QStringLiteral("Corrupt JPEG data: 1 extraneous bytes before marker 0xd9"),
                                            QStringLiteral("JPEG datastream contains no image")};
}

void TestThumbnail::desktopThumbnailWritten()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, writtenSize);
    QFETCH(QStringList, decoderWarnings);
    for (const QString &warning : decoderWarnings)
        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));

    KeyStoreFixture store;
    const QString photo = store.writeFile(QStringLiteral("my photo.jpg"), bytes);
    DesktopThumbnails desktop;
    Thumbnail::fromFileSharing(photo, desktop);
    desktop.waitForWrites();

    const QString written = DesktopThumbnails::thumbnailPath(QStringLiteral("normal"), photo);
    // The name is the MD5 of the URI, the space in it escaped.
    const QByteArray uri = "file://" + QFile::encodeName(photo).replace(" ", "%20");
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex());
    QCOMPARE(written, store.cacheHome() + QStringLiteral("/thumbnails/normal/") + md5 + QStringLiteral(".png"));
    if (!writtenSize.isValid()) {
        QCOMPARE(filesBelow(store.cacheHome()), QStringList());
        return;
    }
    // Nothing but the thumbnail, private to its user.
    QCOMPARE(filesBelow(store.cacheHome()), QStringList {written.mid(store.cacheHome().size() + 1)});
    QCOMPARE(permissionsOf(written), 0600);
    QCOMPARE(permissionsOf(store.cacheHome() + QStringLiteral("/thumbnails")), 0700);
    QCOMPARE(permissionsOf(store.cacheHome() + QStringLiteral("/thumbnails/normal")), 0700);
    QImageReader reader(written, "png");
    const QImage thumbnail = reader.read();
    QCOMPARE(thumbnail.size(), writtenSize);
    const QFileInfo file(photo);
    QCOMPARE(thumbnail.text(QStringLiteral("Thumb::URI")), QString::fromLatin1(uri));
    QCOMPARE(thumbnail.text(QStringLiteral("Thumb::MTime")), QString::number(file.lastModified().toSecsSinceEpoch()));
    QCOMPARE(thumbnail.text(QStringLiteral("Thumb::Size")), QString::number(file.size()));
}

void TestThumbnail::desktopThumbnailUsedOnlyWhenMadeForThePhoto_data()
{
    QTest::addColumn<QString>("sizeFolder");
    QTest::addColumn<QSize>("size");
    // What spoils the thumbnail, if anything.
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("used");

    QTest::newRow("ours") << QStringLiteral("normal") << QSize(128, 96) << QString() << true;
    QTest::newRow("the file manager's large one, without a size")
        << QStringLiteral("large") << QSize(256, 192) << QString() << true;
    QTest::newRow("another modification time")
        << QStringLiteral("normal") << QSize(128, 96) << QStringLiteral("mtime") << false;
    QTest::newRow("another file's URI") << QStringLiteral("normal") << QSize(128, 96) << QStringLiteral("uri") << false;
    QTest::newRow("another size") << QStringLiteral("normal") << QSize(128, 96) << QStringLiteral("size") << false;
    QTest::newRow("truncated PNG") << QStringLiteral("normal") << QSize(128, 96) << QStringLiteral("truncated")
                                   << false;
    QTest::newRow("not a PNG") << QStringLiteral("normal") << QSize(128, 96) << QStringLiteral("jpeg") << false;
    QTest::newRow("1x1") << QStringLiteral("normal") << QSize(1, 1) << QString() << false;
}

void TestThumbnail::desktopThumbnailUsedOnlyWhenMadeForThePhoto()
{
    QFETCH(QString, sizeFolder);
    QFETCH(QSize, size);
    QFETCH(QString, fault);
    QFETCH(bool, used);

    // A red photo and a blue thumbnail: the colour tells which of them made the picture.
    KeyStoreFixture store;
    const QString photo = store.writeFile(QStringLiteral("photo.jpg"), encoded(filled(QSize(400, 300), Qt::red)));
    QImage thumbnail = desktopThumbnail(size, Qt::blue, photo);
    if (sizeFolder == QStringLiteral("normal"))
        thumbnail.setText(QStringLiteral("Thumb::Size"),
            QString::number(QFileInfo(photo).size() + (fault == QStringLiteral("size"))));
    if (fault == QStringLiteral("mtime"))
        thumbnail.setText(
            QStringLiteral("Thumb::MTime"), QString::number(QFileInfo(photo).lastModified().toSecsSinceEpoch() - 1));
    if (fault == QStringLiteral("uri"))
        thumbnail.setText(QStringLiteral("Thumb::URI"),
            QString::fromLatin1(DesktopThumbnails::uriOf(photo + QStringLiteral(".old"))));
    QByteArray bytes = encoded(thumbnail, fault == QStringLiteral("jpeg") ? "JPEG" : "PNG");
    if (fault == QStringLiteral("truncated"))
        bytes.truncate(bytes.size() / 2);
    writeFileAt(DesktopThumbnails::thumbnailPath(sizeFolder, photo), bytes);

    DesktopThumbnails desktop;
    const QImage picture = Thumbnail::fromFileSharing(photo, desktop);
    QCOMPARE(picture.size(), QSize(33, 22));
    QCOMPARE(near(picture.pixel(16, 11), Qt::blue), used);
    QCOMPARE(near(picture.pixel(16, 11), Qt::red), !used);
}

void TestThumbnail::movedPhotoTakesItsDesktopThumbnail()
{
    KeyStoreFixture store;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(400, 300));
    DesktopThumbnails desktop;
    Thumbnail::fromFileSharing(photo, desktop);
    desktop.waitForWrites();
    const QString oldThumbnail = DesktopThumbnails::thumbnailPath(QStringLiteral("normal"), photo);
    QVERIFY(QFile::exists(oldThumbnail));

    // Issued as a key: renamed, never written.
    QVERIFY(QDir().mkpath(store.sentKeys()));
    const QString key = store.sentKeys() + QStringLiteral("/zrk_7.key.jpg");
    QVERIFY(QFile::rename(photo, key));
    desktop.moved(photo, key);
    desktop.waitForWrites();

    const QString newThumbnail = DesktopThumbnails::thumbnailPath(QStringLiteral("normal"), key);
    QVERIFY(!QFile::exists(oldThumbnail));
    QCOMPARE(
        QImage(newThumbnail).text(QStringLiteral("Thumb::URI")), QString::fromLatin1(DesktopThumbnails::uriOf(key)));
    QCOMPARE(permissionsOf(newThumbnail), 0600);
    const QFileInfo file(key);
    QVERIFY(
        !DesktopThumbnails::find(key, {file.lastModified().toSecsSinceEpoch(), file.size()}, QSize(33, 22)).isNull());
}

void TestThumbnail::unwritableDesktopCacheChangesNothingButTime_data()
{
    QTest::addColumn<QString>("cacheHome");

    QTest::newRow("missing, and so is the folder above") << QStringLiteral("none/cache");
    QTest::newRow("a file in the way") << QStringLiteral("Documents/photo.jpg");
    QTest::newRow("thumbnails a file") << QStringLiteral("home");
}

void TestThumbnail::unwritableDesktopCacheChangesNothingButTime()
{
    QFETCH(QString, cacheHome);

    KeyStoreFixture store;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(400, 300), 5);
    writeFileAt(store.root() + QStringLiteral("/home/thumbnails"), "not a folder");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(store.root() + QLatin1Char('/') + cacheHome));
    const QStringList before = filesBelow(store.root());

    DesktopThumbnails desktop;
    const QImage picture = Thumbnail::fromFileSharing(photo, desktop);
    desktop.waitForWrites();

    QCOMPARE(picture, Thumbnail::fromFile(photo));
    QCOMPARE(filesBelow(store.root()), before);
}

void TestThumbnail::desktopCacheInTheHomeByDefault()
{
    KeyStoreFixture store;
    const QByteArray savedHome = qgetenv("HOME");
    const auto restore = qScopeGuard([&] {
        qputenv("HOME", savedHome);
        qputenv("XDG_CACHE_HOME", QFile::encodeName(store.cacheHome()));
    });
    qputenv("HOME", QFile::encodeName(store.root()));
    qunsetenv("XDG_CACHE_HOME");
    QCOMPARE(DesktopThumbnails::folder(), store.root() + QStringLiteral("/.cache/thumbnails"));
    // A relative one is no base directory.
    qputenv("XDG_CACHE_HOME", "cache");
    QCOMPARE(DesktopThumbnails::folder(), store.root() + QStringLiteral("/.cache/thumbnails"));
}

QTEST_GUILESS_MAIN(TestThumbnail)
#include "tst_thumbnail.moc"

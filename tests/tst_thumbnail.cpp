#include "testsupport.h"
#include "thumbnail.h"

#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QTest>

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

} // namespace

class TestThumbnail : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void thumbnails_data();
    void thumbnails();
    void thumbnailShowsTheWholeImage();
    void vanishedFileGivesNothingQuietly();
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
    QImage image(900, 1600, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, 450, 800, Qt::red);
    painter.fillRect(450, 0, 450, 800, Qt::green);
    painter.fillRect(0, 800, 450, 800, Qt::blue);
    painter.fillRect(450, 800, 450, 800, Qt::yellow);
    painter.end();

    KeyStoreFixture store;
    const QString path = store.documents() + QStringLiteral("/quarters.jpg");
    QVERIFY(image.save(path, "JPEG", 95));
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(1600, 1200), 3);

    const QImage quarters = Thumbnail::fromFile(path);
    QCOMPARE(quarters.size(), QSize(33, 22));
    const auto near = [](QRgb pixel, QColor colour) {
        return std::abs(qRed(pixel) - colour.red()) < 40 && std::abs(qGreen(pixel) - colour.green()) < 40
            && std::abs(qBlue(pixel) - colour.blue()) < 40;
    };
    QVERIFY(near(quarters.pixel(0, 0), Qt::red));
    QVERIFY(near(quarters.pixel(32, 0), Qt::green));
    QVERIFY(near(quarters.pixel(0, 21), Qt::blue));
    QVERIFY(near(quarters.pixel(32, 21), Qt::yellow));

    // Close to what a full decode and a smooth scale give.
    const QImage reference = QImage(photo)
                                 .scaled(33, 22, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_RGB32);
    const QImage thumbnail = Thumbnail::fromFile(photo);
    QVERIFY2(largestChannelDifference(thumbnail.convertToFormat(QImage::Format_RGB32), reference) < 24,
        "the thumbnail differs from the photo scaled whole");
}

void TestThumbnail::vanishedFileGivesNothingQuietly()
{
    KeyStoreFixture store;
    QVERIFY(Thumbnail::fromFile(store.documents() + QStringLiteral("/gone.jpg")).isNull());
}

QTEST_GUILESS_MAIN(TestThumbnail)
#include "tst_thumbnail.moc"

#include "testsupport.h"
#include "zrkserver.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QListWidget>
#include <QPainter>
#include <QTest>

namespace {

QByteArray bytesOfSize(qint64 size)
{
    return QByteArray(size, 'x');
}

QImage pictureOf(const QListWidget *list, int row)
{
    return list->item(row)->data(Qt::DecorationRole).value<QPixmap>().toImage();
}

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

class TestFolderScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatIsListed_data();
    void whatIsListed();
    void largestFirstThenCaseSensitiveName();
    void subFolderListedAtItsPlace();
    void symbolicLinksNeitherListedNorFollowed();
    void scanAppendsAndKeepsFolderAsGiven();
    void refreshRebuildsTheList();
    void thumbnails_data();
    void thumbnails();
    void thumbnailShowsTheWholeImage();
};

void TestFolderScan::whatIsListed_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("inSendList");
    QTest::addColumn<bool>("inCheckList");

    QTest::newRow("photo") << "beach.jpg" << true << false;
    QTest::newRow("pattern inside the name") << "trip.jpg.bak" << true << false;
    QTest::newRow("upper-case extension") << "TRIP.JPG" << false << false;
    QTest::newRow("key list") << "visitor.list" << false << true;
    QTest::newRow("both patterns") << "keys.list.jpg" << true << true;
    QTest::newRow("key photo in the document folder") << "zrk_3.key.jpg" << true << false;
    QTest::newRow("photo deep down") << "a/b/c/d/e/deep.jpg" << true << false;
    QTest::newRow("name with spaces and per-cent") << "my %1 photo %s.jpg" << true << false;
    QTest::newRow("file named only the pattern") << ".jpg" << false << false;
    QTest::newRow("hidden file") << ".secret.jpg" << false << false;
    QTest::newRow("inside a hidden folder") << ".trash/old.jpg" << false << false;
    QTest::newRow("issued key photo") << ".sentKeys/zrk_5.key.jpg" << false << false;
    QTest::newRow("folder named like a photo") << "album.jpg/readme.txt" << false << false;
}

void TestFolderScan::whatIsListed()
{
    QFETCH(QString, file);
    QFETCH(bool, inSendList);
    QFETCH(bool, inCheckList);

    KeyStoreFixture store;
    QVERIFY2(store.isValid(), "no temporary folder");
    const QString path = store.writeFile(file, "not a picture");

    const ZRKServer window;
    QCOMPARE(textsOf(window.sendList), inSendList ? QStringList {path} : QStringList());
    QCOMPARE(textsOf(window.checkList), inCheckList ? QStringList {path} : QStringList());
}

void TestFolderScan::largestFirstThenCaseSensitiveName()
{
    KeyStoreFixture store;
    QVERIFY2(store.isValid(), "no temporary folder");
    const QString small = store.writeFile(QStringLiteral("small.jpg"), bytesOfSize(10));
    const QString lowerB = store.writeFile(QStringLiteral("b.jpg"), bytesOfSize(100));
    const QString big = store.writeFile(QStringLiteral("big.jpg"), bytesOfSize(300));
    const QString upperB = store.writeFile(QStringLiteral("B.jpg"), bytesOfSize(100));
    const QString lowerA = store.writeFile(QStringLiteral("a.jpg"), bytesOfSize(100));

    const ZRKServer window;
    QCOMPARE(textsOf(window.sendList), (QStringList {big, upperB, lowerA, lowerB, small}));
}

void TestFolderScan::subFolderListedAtItsPlace()
{
    KeyStoreFixture store;
    QVERIFY2(store.isValid(), "no temporary folder");
    const QString inner = store.writeFile(QStringLiteral("sub/inner.jpg"), bytesOfSize(5));
    // A folder takes its place by the size the file system reports for it.
    const qint64 folderSize = QFileInfo(store.documents() + QStringLiteral("/sub")).size();
    if (folderSize < 2)
        QSKIP("this file system reports no size for folders");
    const QString larger = store.writeFile(QStringLiteral("larger.jpg"), bytesOfSize(folderSize + 1));
    const QString smaller = store.writeFile(QStringLiteral("smaller.jpg"), bytesOfSize(folderSize - 1));

    const ZRKServer window;
    QCOMPARE(textsOf(window.sendList), (QStringList {larger, inner, smaller}));
}

void TestFolderScan::symbolicLinksNeitherListedNorFollowed()
{
    KeyStoreFixture store;
    QVERIFY2(store.isValid(), "no temporary folder");
    const QString photo = store.writeFile(QStringLiteral("album/real.jpg"), "x");
    QVERIFY(QFile::link(photo, store.documents() + QStringLiteral("/link.jpg")));
    QVERIFY(QFile::link(store.documents() + QStringLiteral("/album"), store.documents() + QStringLiteral("/shortcut")));
    QVERIFY(QFile::link(store.documents(), store.documents() + QStringLiteral("/album/up.jpg")));
    QVERIFY(
        QFile::link(store.documents() + QStringLiteral("/loop.jpg"), store.documents() + QStringLiteral("/loop.jpg")));

    const ZRKServer window;
    QCOMPARE(textsOf(window.sendList), QStringList {photo});
}

void TestFolderScan::scanAppendsAndKeepsFolderAsGiven()
{
    KeyStoreFixture store;
    QVERIFY2(store.isValid(), "no temporary folder");
    store.writeFile(QStringLiteral("sub/photo.jpg"), "x");
    ZRKServer window;
    QListWidget list;

    const QString roundabout = store.documents() + QStringLiteral("/sub/../sub");
    window.scanFolder(roundabout, &list, QStringLiteral(".jpg"));
    window.scanFolder(roundabout, &list, QStringLiteral(".jpg"));
    window.scanFolder(store.root() + QStringLiteral("/missing"), &list, QStringLiteral(".jpg"));
    window.scanFolder(store.documents() + QStringLiteral("/sub/photo.jpg"), &list, QStringLiteral(".jpg"));

    const QString text = roundabout + QStringLiteral("/photo.jpg");
    QCOMPARE(textsOf(&list), (QStringList {text, text}));
    QCOMPARE(list.currentRow(), -1);
}

void TestFolderScan::refreshRebuildsTheList()
{
    KeyStoreFixture store;
    QVERIFY2(store.isValid(), "no temporary folder");
    const QString first = store.writeFile(QStringLiteral("first.jpg"), bytesOfSize(20));
    const QString list = store.writeFile(QStringLiteral("one.list"), bytesOfSize(20));
    ZRKServer window;
    const QString second = store.writeFile(QStringLiteral("second.jpg"), bytesOfSize(10));
    const QString secondList = store.writeFile(QStringLiteral("two.list"), bytesOfSize(10));
    QCOMPARE(textsOf(window.sendList), QStringList {first});

    const QList<ShownMessage> shown = messagesDuring([&] {
        window.refreshNewPhotosButton->click();
        window.refreshNewPhotosButton->click();
        window.refreshCheckButton->click();
        window.refreshCheckButton->click();
    });

    QVERIFY(shown.isEmpty());
    QCOMPARE(textsOf(window.sendList), (QStringList {first, second}));
    QCOMPARE(textsOf(window.checkList), (QStringList {list, secondList}));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    QVERIFY(QDir(store.documents()).removeRecursively());
    window.refreshNewPhotosButton->click();
    QCOMPARE(window.sendList->count(), 0);
}

void TestFolderScan::thumbnails_data()
{
    QTest::addColumn<QByteArray>("bytes");
    // When valid, a progressive JPEG of that size is written instead of the bytes.
    QTest::addColumn<QSize>("progressiveSize");
    QTest::addColumn<bool>("hasPicture");

    QTest::newRow("small photo") << jpegBytes(QSize(40, 30)) << QSize() << true;
    QTest::newRow("camera-sized photo") << jpegBytes(QSize(3000, 2000)) << QSize() << true;
    QTest::newRow("progressive photo") << QByteArray() << QSize(640, 480) << true;
    QTest::newRow("camera-sized progressive photo") << QByteArray() << QSize(3600, 2700) << true;
    QTest::newRow("tiny photo scaled up") << jpegBytes(QSize(3, 2)) << QSize() << true;
    QTest::newRow("not a picture") << QByteArray("zrk_1.key.jpg\n") << QSize() << false;
    QTest::newRow("empty file") << QByteArray() << QSize() << false;
    QTest::newRow("truncated photo") << jpegBytes(QSize(200, 100)).left(60) << QSize() << false;
}

void TestFolderScan::thumbnails()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, progressiveSize);
    QFETCH(bool, hasPicture);

    KeyStoreFixture store;
    QVERIFY2(store.isValid(), "no temporary folder");
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

    const ZRKServer window;
    QCOMPARE(window.sendList->count(), 1);
    const QImage picture = pictureOf(window.sendList, 0);
    QCOMPARE(!picture.isNull(), hasPicture);
    if (hasPicture)
        QCOMPARE(picture.size(), QSize(33, 22));
}

void TestFolderScan::thumbnailShowsTheWholeImage()
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
    QVERIFY2(store.isValid(), "no temporary folder");
    const QString path = store.documents() + QStringLiteral("/quarters.jpg");
    QVERIFY(image.save(path, "JPEG", 95));
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(1600, 1200), 3);

    const ZRKServer window;
    const QImage quarters = pictureOf(window.sendList, textsOf(window.sendList).indexOf(path));
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
    const QImage thumbnail = pictureOf(window.sendList, textsOf(window.sendList).indexOf(photo));
    QVERIFY2(largestChannelDifference(thumbnail.convertToFormat(QImage::Format_RGB32), reference) < 24,
        "the thumbnail differs from the photo scaled whole");
}

QTEST_MAIN(TestFolderScan)
#include "tst_folderscan.moc"

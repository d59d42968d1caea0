// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "testsupport.h"
#include "thumbnail.h"
#include "thumbnailcache.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

namespace {

// Makes a thumbnail of any file, a colour drawn from its size, and counts what it makes.
class CountingMaker
{
public:
    QImage make(const QString &path, qreal devicePixelRatio)
    {
        m_made.fetchAndAddRelaxed(1);
        QImage image(Thumbnail::pixelSize(devicePixelRatio), QImage::Format_RGB32);
        image.setDevicePixelRatio(devicePixelRatio);
        image.fill(QColor::fromRgb(QRgb(QFileInfo(path).size())));
        return image;
    }
    ThumbnailCache::Maker maker()
    {
        return [this](const QString &path, qreal devicePixelRatio) { return make(path, devicePixelRatio); };
    }
    int made() const { return m_made.loadRelaxed(); }

private:
    QAtomicInt m_made;
};

} // namespace

class TestThumbnailCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void servedAgainAfterARename();
    void madeAgainAfterAChange_data();
    void madeAgainAfterAChange();
    void madeForTheScreensRatio();
    void memoryStaysBounded();
};

void TestThumbnailCache::init()
{
    failOnUnexpectedWarnings();
}

void TestThumbnailCache::servedAgainAfterARename()
{
    KeyStoreFixture store;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    CountingMaker maker;
    ThumbnailCache cache(maker.maker());

    const QImage first = cache.thumbnailOf(photo);
    // Issued as a key, then withdrawn: renamed twice, never written.
    QVERIFY(QDir().mkpath(store.sentKeys()));
    const QString key = store.sentKeys() + QStringLiteral("/zrk_7.key.jpg");
    QVERIFY(QFile::rename(photo, key));
    QCOMPARE(cache.thumbnailOf(key), first);
    QVERIFY(QFile::rename(key, photo));
    QCOMPARE(cache.thumbnailOf(photo), first);
    QCOMPARE(maker.made(), 1);
}

void TestThumbnailCache::madeAgainAfterAChange_data()
{
    QTest::addColumn<QByteArray>("newBytes");
    QTest::addColumn<bool>("later");

    QTest::newRow("rewritten larger") << jpegBytes(QSize(80, 60), 2) << false;
    QTest::newRow("rewritten to the same size, later") << QByteArray() << true;
}

void TestThumbnailCache::madeAgainAfterAChange()
{
    QFETCH(QByteArray, newBytes);
    QFETCH(bool, later);

    KeyStoreFixture store;
    const QByteArray oldBytes = jpegBytes(QSize(64, 48), 1);
    const QString photo = store.writeFile(QStringLiteral("photo.jpg"), oldBytes);
    CountingMaker maker;
    ThumbnailCache cache(maker.maker());
    cache.thumbnailOf(photo);
    const qsizetype oneEntry = cache.bytes();

    // Written in place: the same file (device and inode), new contents.
    QFile file(photo);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray written = newBytes.isEmpty() ? QByteArray(oldBytes.size(), 'y') : newBytes;
    QCOMPARE(file.write(written), written.size());
    if (later)
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();

    cache.thumbnailOf(photo);
    QCOMPARE(maker.made(), 2);
    // The old file's entry went when the file changed.
    QCOMPARE(cache.bytes(), oneEntry);
}

void TestThumbnailCache::madeForTheScreensRatio()
{
    KeyStoreFixture store;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    CountingMaker maker;
    ThumbnailCache cache(maker.maker());

    QCOMPARE(cache.thumbnailOf(photo).size(), QSize(33, 22));
    // Shown on a screen of another ratio, the small one would be blown up: a sharp one is made.
    const QImage sharp = cache.thumbnailOf(photo, 2);
    QCOMPARE(sharp.size(), QSize(66, 44));
    QCOMPARE(sharp.devicePixelRatio(), 2.0);
    QCOMPARE(cache.thumbnailOf(photo, 2), sharp);
    QCOMPARE(maker.made(), 2);
}

void TestThumbnailCache::memoryStaysBounded()
{
    KeyStoreFixture store;
    // Pictures far larger than thumbnails, so that a few dozen would pass the bound.
    ThumbnailCache cache([](const QString &, qreal) {
        QImage image(1000, 1000, QImage::Format_RGB32);
        image.fill(Qt::gray);
        return image;
    });
    for (int i = 0; i < 40; ++i) {
        QVERIFY(!cache.thumbnailOf(store.writeFile(QStringLiteral("%1.jpg").arg(i), QByteArray(i + 1, 'x'))).isNull());
        QVERIFY(cache.bytes() <= ThumbnailCache::maxBytes);
    }
    QVERIFY(cache.bytes() > ThumbnailCache::maxBytes / 2);
}

QTEST_GUILESS_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"

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

#include <fcntl.h>
#include <sys/stat.h>

namespace {

enum class ModificationTime { AsWritten, Later, PutBack };

struct stat statusOf(const QString &path)
{
    struct stat status = {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

bool sameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

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

Q_DECLARE_METATYPE(ModificationTime)

class TestThumbnailCache : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void servedAgainWhileUnchanged();
    void madeAgainAfterAChange_data();
    void madeAgainAfterAChange();
    void madeForTheScreensRatio();
    void memoryStaysBounded();
};

void TestThumbnailCache::init()
{
    failOnUnexpectedWarnings();
}

void TestThumbnailCache::servedAgainWhileUnchanged()
{
    KeyStoreFixture store;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    CountingMaker maker;
    ThumbnailCache cache(maker.maker());

    const QImage first = cache.thumbnailOf(photo);
    // Read, as a decode reads it: that changes its access time only.
    QVERIFY(!readAll(photo).isEmpty());
    QCOMPARE(cache.thumbnailOf(photo), first);
    QCOMPARE(maker.made(), 1);
    const qsizetype oneEntry = cache.bytes();

    // Issued as a key, then withdrawn: each rename sets the change time, so each costs a decode, but the file's
    // earlier entry goes and the memory holds one entry still.
    QVERIFY(QDir().mkpath(store.sentKeys()));
    const QString key = store.sentKeys() + QStringLiteral("/zrk_7.key.jpg");
    QVERIFY(QFile::rename(photo, key));
    QCOMPARE(cache.thumbnailOf(key), first);
    QVERIFY(QFile::rename(key, photo));
    QCOMPARE(cache.thumbnailOf(photo), first);
    QCOMPARE(cache.bytes(), oneEntry);
}

void TestThumbnailCache::madeAgainAfterAChange_data()
{
    QTest::addColumn<QByteArray>("newBytes");
    QTest::addColumn<ModificationTime>("modificationTime");

    QTest::newRow("rewritten larger") << jpegBytes(QSize(80, 60), 2) << ModificationTime::AsWritten;
    QTest::newRow("rewritten to the same size, later") << QByteArray() << ModificationTime::Later;
    // As "touch -d" or a copy tool that keeps times does: only the change time tells.
    QTest::newRow("rewritten to the same size, modification time put back")
        << QByteArray() << ModificationTime::PutBack;
}

void TestThumbnailCache::madeAgainAfterAChange()
{
    QFETCH(QByteArray, newBytes);
    QFETCH(ModificationTime, modificationTime);

    KeyStoreFixture store;
    const QByteArray oldBytes = jpegBytes(QSize(64, 48), 1);
    const QString photo = store.writeFile(QStringLiteral("photo.jpg"), oldBytes);
    CountingMaker maker;
    ThumbnailCache cache(maker.maker());
    cache.thumbnailOf(photo);
    const qsizetype oneEntry = cache.bytes();
    const struct stat before = statusOf(photo);
    // Kernels without fine-grained file times take them from a clock that ticks every few milliseconds.
    QTest::qSleep(20);

    // Written in place: the same file (device and inode), new contents.
    QFile file(photo);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray written = newBytes.isEmpty() ? QByteArray(oldBytes.size(), 'y') : newBytes;
    QCOMPARE(file.write(written), written.size());
    if (modificationTime == ModificationTime::Later)
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    if (modificationTime == ModificationTime::PutBack) {
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(photo).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
        const struct stat after = statusOf(photo);
        QCOMPARE(after.st_size, before.st_size);
        QVERIFY(sameTime(after.st_mtim, before.st_mtim));
        QVERIFY(!sameTime(after.st_ctim, before.st_ctim));
    }

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

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanprogress.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray bytesOfSize(qint64 size)
{
    return QByteArray(size, 'x');
}

// A progress dialog as the operator saw it while a scan ran.
struct SeenProgress
{
    QString label;
    QString bar;
    int maximum = -1;
    Qt::WindowModality modality = Qt::NonModal;
    bool blocksTheWindow = false;
    QWidget *parent = nullptr;
};

// Looks every few milliseconds, while action runs, for a progress dialog on the screen.
QList<SeenProgress> progressDuring(const std::function<void()> &action)
{
    QList<SeenProgress> seen;
    QTimer looker;
    looker.setInterval(5);
    QObject::connect(&looker, &QTimer::timeout, [&seen] {
        const QList<QWidget *> windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            auto *dialog = qobject_cast<QProgressDialog *>(window);
            if (!dialog || !dialog->isVisible())
                continue;
            const QProgressBar *bar = dialog->findChild<QProgressBar *>();
            seen.append({dialog->labelText(), bar ? bar->text() : QString(), dialog->maximum(),
                dialog->windowModality(), QApplication::activeModalWidget() == dialog, dialog->parentWidget()});
        }
    });
    looker.start();
    action();
    return seen;
}

// Writes an empty file below folder whose path, as the file system spells it, need not be valid UTF-8, with the
// folders on the way; returns its native path, or nothing when it could not.
QByteArray writeNativeFile(const QString &folder, const QByteArray &relativePath)
{
    QByteArray path = QFile::encodeName(folder);
    const QByteArrayList parts = relativePath.split('/');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += '/' + parts.at(i);
        if (::mkdir(path.constData(), 0755) != 0 && errno != EEXIST)
            return {};
    }
    path += '/' + parts.constLast();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return {};
    ::close(fd);
    return path;
}

// Qt cannot remove what it cannot name, and the store's temporary folder would be left behind.
auto removedAtEnd(const KeyStoreFixture &store)
{
    return qScopeGuard([root = store.root()] {
        QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), root});
    });
}

bool existsNatively(const QByteArray &path)
{
    struct stat status;
    return ::lstat(path.constData(), &status) == 0;
}

QString leftOutText(int files)
{
    return files == 1
        ? QStringLiteral("1 file was left out: its name is not valid UTF-8. Rename it to list it.")
        : QStringLiteral("%1 files were left out: their names are not valid UTF-8. Rename them to list them.")
              .arg(files);
}

// The line at the top of the list's tab that tells of left-out files: empty when it is hidden (the tab itself may be).
QString leftOutNoticeOf(const QListWidget *list)
{
    const auto *notice = list->window()->findChild<QLabel *>(list->objectName() + QStringLiteral("LeftOutNotice"));
    if (!notice)
        return QStringLiteral("no notice");
    return notice->isHidden() ? QString() : notice->text();
}

} // namespace

class TestFolderScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void whatIsListed_data();
    void whatIsListed();
    void largestFirstThenCaseSensitiveName();
    void subFolderListedAtItsPlace();
    void symbolicLinksNeitherListedNorFollowed();
    void scanAppendsAndKeepsFolderAsGiven();
    void refreshRebuildsTheList();
    void thumbnailHeldOnce_data();
    void thumbnailHeldOnce();
    void progressShownOnlyForALongScan_data();
    void progressShownOnlyForALongScan();
    void namesNotValidUtf8AreTold_data();
    void namesNotValidUtf8AreTold();
    void leftOutNoticeGoesOnceRenamed();
};

void TestFolderScan::init()
{
    failOnUnexpectedWarnings();
}

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
    const QString path = store.writeFile(file, "not a picture");

    const ZRKServer window;
    QCOMPARE(textsOf(window.sendList), inSendList ? QStringList {path} : QStringList());
    QCOMPARE(textsOf(window.checkList), inCheckList ? QStringList {path} : QStringList());
}

void TestFolderScan::largestFirstThenCaseSensitiveName()
{
    KeyStoreFixture store;
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

void TestFolderScan::thumbnailHeldOnce_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("photo") << jpegBytes(QSize(300, 200));
    // A pixmap would keep this one as an opaque copy of its own.
    QImage opaque(300, 200, QImage::Format_ARGB32);
    opaque.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(opaque.save(&buffer, "PNG"));
    QTest::newRow("opaque picture with an alpha channel") << png;
}

void TestFolderScan::thumbnailHeldOnce()
{
    QFETCH(QByteArray, bytes);

    KeyStoreFixture store;
    store.writeFile(QStringLiteral("photo.jpg"), bytes);
    ZRKServer window;
    const QImage first = window.sendList->item(0)->data(Qt::DecorationRole).value<QImage>();
    QCOMPARE(first.size(), QSize(33, 22));

    window.refreshNewPhotosButton->click();

    // The remembered thumbnail is what both entries show: the same pixels, not a copy of them.
    const QImage second = window.sendList->item(0)->data(Qt::DecorationRole).value<QImage>();
    QCOMPARE(second.constBits(), first.constBits());
}

void TestFolderScan::progressShownOnlyForALongScan_data()
{
    QTest::addColumn<int>("progressivePhotos");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("shown");

    // Progressive photos are decoded whole and one at a time: three of them take far longer than the delay.
    QTest::newRow("long scan") << 3 << 10 << true;
    QTest::newRow("quick scan") << 0 << int(ScanProgress::delay().count()) << false;
}

void TestFolderScan::progressShownOnlyForALongScan()
{
    QFETCH(int, progressivePhotos);
    QFETCH(int, delayMs);
    QFETCH(bool, shown);

    KeyStoreFixture store;
    store.writePhoto(QStringLiteral("small.jpg"));
    for (int i = 0; i < progressivePhotos; ++i) {
        QImageWriter writer(store.documents() + QStringLiteral("/progressive%1.jpg").arg(i));
        writer.setProgressiveScanWrite(true);
        QVERIFY(writer.write(QImage::fromData(jpegBytes(QSize(2400, 1800), i))));
    }
    const std::chrono::milliseconds usualDelay = ScanProgress::delay();
    ScanProgress::setDelayForTesting(std::chrono::milliseconds(delayMs));
    const auto restoreDelay = qScopeGuard([&] { ScanProgress::setDelayForTesting(usualDelay); });

    std::unique_ptr<ZRKServer> window;
    const QList<SeenProgress> atStartUp = progressDuring([&] { window = std::make_unique<ZRKServer>(); });
    const int atStartUpCount = window->sendList->count();
    // Copies are new files: their thumbnails are made, not remembered.
    for (int i = 0; i < progressivePhotos; ++i) {
        QVERIFY(QFile::copy(store.documents() + QStringLiteral("/progressive%1.jpg").arg(i),
            store.documents() + QStringLiteral("/copy%1.jpg").arg(i)));
    }
    window->show();
    const QList<SeenProgress> atRefresh = progressDuring([&] { window->refreshNewPhotosButton->click(); });
    const int atRefreshCount = window->sendList->count();

    QCOMPARE(atRefreshCount, 2 * progressivePhotos + 1);
    if (!shown) {
        QCOMPARE(atStartUp.size() + atRefresh.size(), 0);
        return;
    }
    QVERIFY(!atStartUp.isEmpty());
    QVERIFY(!atRefresh.isEmpty());
    for (const auto &[seenDuring, fileCount] :
        {std::pair(atStartUp, atStartUpCount), std::pair(atRefresh, atRefreshCount)}) {
        for (const SeenProgress &seen : seenDuring) {
            QCOMPARE(seen.label, QStringLiteral("Reading photos\u2026"));
            QCOMPARE(seen.maximum, fileCount);
            QVERIFY2(seen.bar.endsWith(QStringLiteral(" of %1").arg(fileCount)), qPrintable(seen.bar));
            QCOMPARE(seen.modality, Qt::WindowModal);
            QCOMPARE(seen.parent, window.get());
        }
    }
    // Once the window is up, its buttons cannot be reached while the dialog shows.
    QVERIFY(atRefresh.constLast().blocksTheWindow);
    // Gone when the scan is.
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (const QWidget *left : windows)
        QVERIFY(!qobject_cast<const QProgressDialog *>(left) || !left->isVisible());
}

void TestFolderScan::namesNotValidUtf8AreTold_data()
{
    // Below the document folder, as the file system spells them; \xe9 is Latin-1 for e acute.
    QTest::addColumn<QByteArrayList>("files");
    QTest::addColumn<int>("sendLeftOut");
    QTest::addColumn<int>("checkLeftOut");
    QTest::addColumn<int>("givenLeftOut");
    QTest::addColumn<int>("listed");

    QTest::newRow("Latin-1 photo") << QByteArrayList {"caf\xe9.jpg", "beach.jpg"} << 1 << 0 << 0 << 1;
    QTest::newRow("Latin-1 key list") << QByteArrayList {"l\xe9.list", "visitor.list"} << 0 << 1 << 0 << 1;
    QTest::newRow("photos in a Latin-1 folder")
        << QByteArrayList {"\xe9t\xe9/a.jpg", "\xe9t\xe9/b.jpg", "\xe9t\xe9/deeper/c.jpg", "\xe9t\xe9/notes.txt"} << 3
        << 0 << 0 << 0;
    QTest::newRow("Latin-1 names in a sub-folder")
        << QByteArrayList {"album/caf\xe9.jpg", "album/\xe9.list"} << 1 << 1 << 0 << 0;
    QTest::newRow("Latin-1 key photo issued") << QByteArrayList {".sentKeys/zrk_1\xe9.key.jpg"} << 0 << 0 << 1 << 0;
    QTest::newRow("hidden or not matching")
        << QByteArrayList {".caf\xe9.jpg", "caf\xe9.txt", ".\xe9/a.jpg", ".sentKeys/.zrk_2\xe9.key.jpg"} << 0 << 0 << 0
        << 0;
    QTest::newRow("valid UTF-8") << QByteArrayList {"caf\xc3\xa9.jpg", "\xc3\xa9t\xc3\xa9/l\xc3\xa9.list"} << 0 << 0
                                 << 0 << 2;
}

void TestFolderScan::namesNotValidUtf8AreTold()
{
    QFETCH(QByteArrayList, files);
    QFETCH(int, sendLeftOut);
    QFETCH(int, checkLeftOut);
    QFETCH(int, givenLeftOut);
    QFETCH(int, listed);

    KeyStoreFixture store;
    const auto removeWritten = removedAtEnd(store);
    QByteArrayList written;
    for (const QByteArray &file : files) {
        written.append(writeNativeFile(store.documents(), file));
        QVERIFY2(!written.constLast().isEmpty(), file.constData());
    }
    std::unique_ptr<ZRKServer> window;
    const QList<ShownMessage> shown = messagesDuring([&] { window = std::make_unique<ZRKServer>(); });
    QVERIFY(shown.isEmpty());

    // Whatever is listed is named exactly; nothing that Qt cannot name is listed in some other spelling.
    const QStringList texts = textsOf(window->sendList) + textsOf(window->checkList) + textsOf(window->givenList);
    QCOMPARE(texts.size(), listed);
    for (const QString &path : texts)
        QVERIFY2(written.contains(QFile::encodeName(path)), qPrintable(path));
    const auto toldOf = [](int files) { return files == 0 ? QString() : leftOutText(files); };
    QCOMPARE(leftOutNoticeOf(window->sendList), toldOf(sendLeftOut));
    QCOMPARE(leftOutNoticeOf(window->checkList), toldOf(checkLeftOut));
    QCOMPARE(leftOutNoticeOf(window->givenList), toldOf(givenLeftOut));
    // Nothing is renamed.
    for (const QByteArray &path : std::as_const(written))
        QVERIFY2(existsNatively(path), path.constData());
}

void TestFolderScan::leftOutNoticeGoesOnceRenamed()
{
    KeyStoreFixture store;
    const auto removeWritten = removedAtEnd(store);
    const QByteArray latin1 = writeNativeFile(store.documents(), "caf\xe9.jpg");
    QVERIFY(!latin1.isEmpty());
    ZRKServer window;
    QCOMPARE(leftOutNoticeOf(window.sendList), leftOutText(1));
    const auto *notice = window.findChild<QLabel *>(QStringLiteral("sendListLeftOutNotice"));
    QCOMPARE(notice->toolTip(), store.documents() + QStringLiteral("/caf\uFFFD.jpg"));
    // At the top of its tab, above the button.
    QCOMPARE(window.tabWidget->widget(0)->layout()->indexOf(notice), 0);

    const QString renamed = store.documents() + QStringLiteral("/caf\u00e9.jpg");
    QCOMPARE(::rename(latin1.constData(), QFile::encodeName(renamed).constData()), 0);
    window.refreshNewPhotosButton->click();
    QCOMPARE(textsOf(window.sendList), QStringList {renamed});
    QCOMPARE(leftOutNoticeOf(window.sendList), QString());
}

QTEST_MAIN(TestFolderScan)
#include "tst_folderscan.moc"

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "movemarker.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QListWidget>
#include <QTest>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <unistd.h>

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void firstStartCreatesSentKeysFolder();
    void laterStartListsEarlierKeys();
    void startWithoutDocumentFolder();
    void startFinishesAMoveKilledHalfway();
    void seedsFromTimeAndProcessId();
};

void TestStartup::init()
{
    failOnUnexpectedWarnings();
}

void TestStartup::firstStartCreatesSentKeysFolder()
{
    KeyStoreFixture store;
    const QString photo = store.writePhoto(QStringLiteral("beach.jpg"));
    const QString keyList = store.writeFile(QStringLiteral("visitor.list"), "zrk_1.key.jpg\n");

    std::unique_ptr<ZRKServer> window;
    const QList<ShownMessage> shown = messagesDuring([&] { window = std::make_unique<ZRKServer>(); });

    QVERIFY(shown.isEmpty());
    QVERIFY(QFileInfo(store.sentKeys()).isDir());
    // The lists are filled by the constructor, before anything shows the window.
    QVERIFY(!window->isVisible());
    QCOMPARE(textsOf(window->sendList), QStringList {photo});
    QCOMPARE(textsOf(window->checkList), QStringList {keyList});
    QCOMPARE(window->givenList->count(), 0);
    QCOMPARE(window->objectName(), QStringLiteral("ZRKServerBase"));
    QVERIFY(window->isWindow());
    QCOMPARE(window->sendList->iconSize(), QSize(33, 22));
}

void TestStartup::laterStartListsEarlierKeys()
{
    KeyStoreFixture store;
    const QString small = store.writePhoto(QStringLiteral(".sentKeys/zrk_7.key.jpg"), QSize(8, 8));
    const QString large = store.writePhoto(QStringLiteral(".sentKeys/zrk_12.key.jpg"), QSize(64, 64));

    const ZRKServer window;
    QCOMPARE(textsOf(window.givenList), (QStringList {large, small}));
    QCOMPARE(window.sendList->count(), 0);
    QVERIFY(!window.givenList->item(0)->data(Qt::DecorationRole).value<QPixmap>().isNull());
}

void TestStartup::startWithoutDocumentFolder()
{
    KeyStoreFixture store(KeyStoreFixture::WithoutDocumentFolder);

    std::unique_ptr<ZRKServer> window;
    const QList<ShownMessage> shown = messagesDuring([&] { window = std::make_unique<ZRKServer>(); });

    QVERIFY(shown.isEmpty());
    QVERIFY(!QFileInfo::exists(store.documents()));
    QCOMPARE(QDir(store.root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    for (const QListWidget *list : {window->sendList, window->checkList, window->givenList})
        QCOMPARE(list->count(), 0);
}

void TestStartup::startFinishesAMoveKilledHalfway()
{
    KeyStoreFixture store;
    // Killed after the copy took its name in the sent-keys folder, before the photo left its own.
    const QString photo = store.writePhoto(QStringLiteral("zrk_7.key.jpg"));
    const QString copy = store.writePhoto(QStringLiteral(".sentKeys/zrk_7.key.jpg"));
    const QByteArray bytes = readAll(photo);
    const MoveMarker marker {QFile::encodeName(photo), "zrk_7.key.jpg", bytes.size(),
        QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)};
    store.writeFile(QStringLiteral(".sentKeys/.zrk-moving-x1Y2z3"), marker.encoded());
    store.writeFile(QStringLiteral(".zrk-move-a1B2c3"), bytes.left(100));

    const ZRKServer window;

    QCOMPARE(textsOf(window.givenList), QStringList {copy});
    QCOMPARE(window.sendList->count(), 0);
    QCOMPARE(filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/zrk_7.key.jpg")});
    QCOMPARE(readAll(copy), bytes);
}

void TestStartup::seedsFromTimeAndProcessId()
{
    KeyStoreFixture store;

    const time_t before = time(nullptr);
    const ZRKServer window;
    const time_t after = time(nullptr);
    const int drawn = rand();

    bool matched = false;
    for (time_t second = before; second <= after && !matched; ++second) {
        srand(static_cast<unsigned>(second + getpid()));
        matched = rand() == drawn;
    }
    QVERIFY2(matched, "the first key number is not drawn from a seed of the start time plus the process id");
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

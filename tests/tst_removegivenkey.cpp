// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ir.h"
#include "keystore.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QFile>
#include <QListWidget>
#include <QTest>

#include <cstdlib>

using namespace Qt::StringLiterals;

class TestRemoveGivenKey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void noCurrentEntry();
    void withdrawsKeyAndKeepsOtherEntries();
    void keyFromSubFolderReturnsToDocumentFolder();
    void entryWithoutFileLeaves();
    void takenReturnPathKeepsEntry();
    void withdrawAcrossFileSystems_data();
    void withdrawAcrossFileSystems();
};

void TestRemoveGivenKey::init()
{
    failOnUnexpectedWarnings();
}

void TestRemoveGivenKey::noCurrentEntry()
{
    KeyStoreFixture store;
    store.writePhoto(QStringLiteral(".sentKeys/zrk_7.key.jpg"));
    ZRKServer window;
    const QStringList filesBefore = filesBelow(store.root());

    QCOMPARE(messageTextsDuring([&] { window.removeGivenKeyButton->click(); }), QStringList {Message::selectItem});
    QCOMPARE(window.givenList->count(), 1);
    QCOMPARE(filesBelow(store.root()), filesBefore);
}

void TestRemoveGivenKey::withdrawsKeyAndKeepsOtherEntries()
{
    KeyStoreFixture store;
    const QString first = store.writePhoto(QStringLiteral(".sentKeys/zrk_1.key.jpg"), QSize(90, 60), 1);
    const QString seventh = store.writePhoto(QStringLiteral(".sentKeys/zrk_7.key.jpg"), QSize(60, 40), 7);
    const QString third = store.writePhoto(QStringLiteral(".sentKeys/zrk_3.key.jpg"), QSize(30, 20), 3);
    const QString photo = store.writePhoto(QStringLiteral("new.jpg"));
    const QString keyList = store.writeFile(QStringLiteral("visitor.list"), "zrk_7.key.jpg\n");
    const QByteArray keyBytes = readAll(seventh);
    ZRKServer window;
    QCOMPARE(textsOf(window.givenList), (QStringList {first, seventh, third}));
    QCOMPARE(messageTextsDuring([&] {
        window.checkList->setCurrentRow(0);
        window.checkButton->click();
    }),
        QStringList {Message::prize});
    window.givenList->setCurrentRow(1);

    QVERIFY(messageTextsDuring([&] { window.removeGivenKeyButton->click(); }).isEmpty());

    const QString returned = store.documents() + QStringLiteral("/zrk_7.key.jpg");
    QCOMPARE(readAll(returned), keyBytes);
    QVERIFY(!QFile::exists(seventh));
    QCOMPARE(textsOf(window.givenList), (QStringList {first, third}));
    QCOMPARE(textsOf(window.sendList), QStringList {photo});
    QCOMPARE(textsOf(window.checkList), QStringList {keyList});
    // The withdrawn key no longer earns a prize, and the photo is a new photo again after a refresh.
    QCOMPARE(messageTextsDuring([&] { window.checkButton->click(); }),
        QStringList {Message::invalidKey(u"zrk_7.key.jpg"_s)});
    window.refreshNewPhotosButton->click();
    QVERIFY(textsOf(window.sendList).contains(returned));

    // Issued again, it takes a new key name; the old key stays invalid.
    FakeInfrared infrared;
    window.sendList->setCurrentRow(textsOf(window.sendList).indexOf(returned));
    srand(99);
    const int number = rand();
    QVERIFY(number != 7);
    srand(99);
    window.sendNewKeyButton->click();
    QCOMPARE(window.givenList->item(2)->text(), KeyStore::sentPath(KeyStore::keyName(number)));
    QCOMPARE(readAll(KeyStore::sentPath(KeyStore::keyName(number))), keyBytes);
    QCOMPARE(messageTextsDuring([&] { window.checkButton->click(); }),
        QStringList {Message::invalidKey(u"zrk_7.key.jpg"_s)});
    QTRY_COMPARE(infrared.beams().size(), 1);
}

void TestRemoveGivenKey::keyFromSubFolderReturnsToDocumentFolder()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    store.writePhoto(QStringLiteral("album/holiday/photo.jpg"));
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    window.sendNewKeyButton->click();
    const QString keyName = KeyStore::fileNameOf(window.givenList->item(0)->text());
    // Withdrawn once beamed: withdrawing earlier ends the beam.
    QTRY_COMPARE(infrared.beams().size(), 1);
    QTRY_COMPARE(window.findChildren<Ir *>().size(), 0);
    window.givenList->setCurrentRow(0);

    window.removeGivenKeyButton->click();

    QCOMPARE(filesBelow(store.documents()), QStringList {keyName});
    QCOMPARE(window.givenList->count(), 0);
}

void TestRemoveGivenKey::entryWithoutFileLeaves()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    store.writePhoto(QStringLiteral("album/photo.jpg"));
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    window.sendNewKeyButton->click();
    QTRY_COMPARE(infrared.beams().size(), 1);
    // Taken away by other means: the entry names a file that is not there.
    QVERIFY(QFile::remove(window.givenList->item(0)->text()));
    const QStringList filesBefore = filesBelow(store.root());
    window.givenList->setCurrentRow(0);

    QVERIFY(messageTextsDuring([&] { window.removeGivenKeyButton->click(); }).isEmpty());

    QCOMPARE(window.givenList->count(), 0);
    QCOMPARE(filesBelow(store.root()), filesBefore);
}

void TestRemoveGivenKey::takenReturnPathKeepsEntry()
{
    KeyStoreFixture store;
    const QString key = store.writePhoto(QStringLiteral(".sentKeys/zrk_7.key.jpg"), QSize(40, 30), 1);
    const QString other = store.writePhoto(QStringLiteral(".sentKeys/zrk_8.key.jpg"), QSize(20, 10), 2);
    const QString occupant = store.writePhoto(QStringLiteral("zrk_7.key.jpg"), QSize(40, 30), 3);
    const QByteArray keyBytes = readAll(key);
    const QByteArray occupantBytes = readAll(occupant);
    ZRKServer window;
    window.givenList->setCurrentRow(0);

    QCOMPARE(messageTextsDuring([&] { window.removeGivenKeyButton->click(); }), QStringList {Message::cannotMove});

    QCOMPARE(readAll(key), keyBytes);
    QCOMPARE(readAll(occupant), occupantBytes);
    QCOMPARE(textsOf(window.givenList), (QStringList {key, other}));
    QCOMPARE(window.givenList->currentRow(), 0);
}

void TestRemoveGivenKey::withdrawAcrossFileSystems_data()
{
    QTest::addColumn<int>("documentsKiB");
    QTest::addColumn<bool>("fits");

    QTest::newRow("plenty of room") << 1024 << true;
    QTest::newRow("too little room") << 16 << false;
}

void TestRemoveGivenKey::withdrawAcrossFileSystems()
{
    QFETCH(int, documentsKiB);
    QFETCH(bool, fits);

    KeyStoreFixture store;
    // The document folder and the sent-keys folder within it, each a file system of its own.
    const ScratchFileSystem documents(store.documents(), documentsKiB);
    ZRK_REQUIRE_MOUNTED(documents);
    const ScratchFileSystem sentKeys(store.sentKeys(), 1024);
    ZRK_REQUIRE_MOUNTED(sentKeys);
    const QString key = store.writePhoto(QStringLiteral(".sentKeys/zrk_7.key.jpg"), QSize(400, 300), 1);
    const QString other = store.writePhoto(QStringLiteral(".sentKeys/zrk_8.key.jpg"), QSize(20, 10), 2);
    const QByteArray keyBytes = readAll(key);
    QVERIFY(keyBytes.size() > 16 * 1024);
    ZRKServer window;
    window.givenList->setCurrentRow(0);

    const QList<ShownMessage> shown = messagesDuring([&] { window.removeGivenKeyButton->click(); });

    // Whole in exactly one place, and nothing else anywhere: no partial copy, no temporary file.
    const QString place = fits ? QStringLiteral("zrk_7.key.jpg") : QStringLiteral(".sentKeys/zrk_7.key.jpg");
    QStringList files = {QStringLiteral(".sentKeys/zrk_8.key.jpg"), place};
    files.sort();
    QCOMPARE(filesBelow(store.documents()), files);
    QCOMPARE(readAll(store.documents() + QLatin1Char('/') + place), keyBytes);
    if (fits) {
        QVERIFY(shown.isEmpty());
        QCOMPARE(textsOf(window.givenList), QStringList {other});
    } else {
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().text, Message::cannotMove);
        const QString returnPath = store.documents() + QStringLiteral("/zrk_7.key.jpg");
        QCOMPARE(shown.first().informativeText, returnPath + QStringLiteral(": ") + qt_error_string(ENOSPC));
        QCOMPARE(textsOf(window.givenList), (QStringList {key, other}));
        QCOMPARE(window.givenList->currentRow(), 0);
    }
}

QTEST_MAIN(TestRemoveGivenKey)
#include "tst_removegivenkey.moc"

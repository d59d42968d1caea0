// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ir.h"
#include "keystore.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>

#include <climits>
#include <cstdlib>

namespace {

QPixmap pictureOf(const QListWidgetItem *item)
{
    return item->data(Qt::DecorationRole).value<QPixmap>();
}

// The key number the next issue will draw, without disturbing the sequence.
int nextKeyNumber()
{
    const unsigned seed = 4242;
    srand(seed);
    const int number = rand();
    srand(seed);
    return number;
}

} // namespace

class TestSendNewKey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void refusals_data();
    void refusals();
    void issuesAndBeamsKey();
    void withoutAnyLinkNothingChanges();
    void photoFromSubFolder();
    void entryWithoutPicture();
    void takenKeyPathLosesNoPhoto();
    void issueAcrossFileSystems_data();
    void issueAcrossFileSystems();
    void failedMoveIsReported_data();
    void failedMoveIsReported();
};

enum class SinceRefresh { NothingSelected, PhotoRemoved, PhotoReplacedByLink, PhotoReplacedByFolder };
Q_DECLARE_METATYPE(SinceRefresh)

void TestSendNewKey::init()
{
    failOnUnexpectedWarnings();
}

void TestSendNewKey::refusals_data()
{
    QTest::addColumn<SinceRefresh>("sinceRefresh");
    QTest::addColumn<QString>("message");

    QTest::newRow("no current entry") << SinceRefresh::NothingSelected << Message::selectItem;
    QTest::newRow("photo gone since the refresh") << SinceRefresh::PhotoRemoved << Message::photoGone;
    // A link would be beamed as whatever it points to.
    QTest::newRow("photo replaced by a link to another file")
        << SinceRefresh::PhotoReplacedByLink << Message::photoGone;
    QTest::newRow("photo replaced by a folder") << SinceRefresh::PhotoReplacedByFolder << Message::photoGone;
}

void TestSendNewKey::refusals()
{
    QFETCH(SinceRefresh, sinceRefresh);
    QFETCH(QString, message);

    KeyStoreFixture store;
    FakeInfrared infrared;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    const QString secret = writeFileAt(store.root() + QStringLiteral("/secret.txt"), "not for visitors");
    ZRKServer window;
    if (sinceRefresh != SinceRefresh::NothingSelected) {
        window.sendList->setCurrentRow(0);
        QVERIFY(QFile::remove(photo));
    }
    if (sinceRefresh == SinceRefresh::PhotoReplacedByLink)
        QVERIFY(QFile::link(secret, photo));
    if (sinceRefresh == SinceRefresh::PhotoReplacedByFolder)
        QVERIFY(QDir().mkdir(photo));
    const QStringList filesBefore = filesBelow(store.root());

    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });

    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, message);
    QCOMPARE(shown.first().caption, QStringLiteral("Message"));
    QCOMPARE(shown.first().icon, QMessageBox::Critical);
    QCOMPARE(shown.first().buttons, QStringList {QStringLiteral("Ok")});
    QVERIFY(shown.first().modal);
    QCOMPARE(shown.first().parent, &window);
    QCOMPARE(textsOf(window.sendList), QStringList {photo});
    QCOMPARE(window.givenList->count(), 0);
    QCOMPARE(filesBelow(store.root()), filesBefore);
    QCOMPARE(QFileInfo(photo).isSymLink(), sinceRefresh == SinceRefresh::PhotoReplacedByLink);
    QVERIFY(infrared.beams().isEmpty());
}

void TestSendNewKey::issuesAndBeamsKey()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    const QString earlierKey = store.writePhoto(QStringLiteral(".sentKeys/zrk_1.key.jpg"));
    const QString large = store.writePhoto(QStringLiteral("large.jpg"), QSize(300, 200), 1);
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(60, 40), 2);
    const QByteArray photoBytes = readAll(photo);
    ZRKServer window;
    window.sendList->setCurrentRow(1);
    const QPixmap picture = pictureOf(window.sendList->item(1));
    const int number = nextKeyNumber();
    const QString keyName = QStringLiteral("zrk_%1.key.jpg").arg(number);
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + keyName;

    const DebugLines debug;
    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });

    QVERIFY(shown.isEmpty());
    QVERIFY(QRegularExpression(QStringLiteral("^zrk_(0|[1-9][0-9]*)\\.key\\.jpg$")).match(keyName).hasMatch());
    QCOMPARE(readAll(sentPath), photoBytes);
    QVERIFY(!QFile::exists(photo));
    QCOMPARE(textsOf(window.sendList), QStringList {large});
    QCOMPARE(textsOf(window.givenList), (QStringList {earlierKey, sentPath}));
    QCOMPARE(pictureOf(window.givenList->item(1)).toImage(), picture.toImage());
    QCOMPARE(debug.lines(), QStringList {store.documents() + QLatin1Char('/') + keyName});

    QTRY_COMPARE(infrared.beams().size(), 1);
    const FakeInfrared::Beam beam = infrared.beams().first();
    QCOMPARE(beam.arguments, (QStringList {QStringLiteral("--irda"), QStringLiteral("--put"), sentPath}));
    QVERIFY(beam.fileWasThere);
    // Each beaming object goes once its beam is over.
    QTRY_COMPARE(window.findChildren<Ir *>().size(), 0);
}

void TestSendNewKey::withoutAnyLinkNothingChanges()
{
    // No bus, so no Bluetooth, and no infrared either.
    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setAvailable(false);
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    const QStringList filesBefore = filesBelow(store.root());

    const DebugLines debug;
    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });

    // Issued, the key would only have been renamed, and the visitor would have got nothing.
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::noLink);
    QCOMPARE(shown.first().icon, QMessageBox::Critical);
    QVERIFY(debug.lines().isEmpty());
    QCOMPARE(filesBelow(store.root()), filesBefore);
    QCOMPARE(textsOf(window.sendList), QStringList {photo});
    QCOMPARE(window.givenList->count(), 0);
    QCOMPARE(window.findChildren<Ir *>().size(), 0);
}

void TestSendNewKey::photoFromSubFolder()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    const QString photo = store.writePhoto(QStringLiteral("day 1/50%/photo.jpg"));
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    const QString keyName = KeyStore::keyName(nextKeyNumber());

    const DebugLines debug;
    window.sendNewKeyButton->click();

    // Renamed in its own folder first, then moved on: the debug line names that first place, per-cent and all.
    QCOMPARE(debug.lines(), QStringList {store.documents() + QStringLiteral("/day 1/50%/") + keyName});
    QCOMPARE(filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/") + keyName});
    QTRY_COMPARE(infrared.beams().size(), 1);
}

void TestSendNewKey::entryWithoutPicture()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    store.writeFile(QStringLiteral("notes.jpg.txt"), "not a picture");
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    QVERIFY(pictureOf(window.sendList->item(0)).isNull());

    window.sendNewKeyButton->click();

    QCOMPARE(window.givenList->count(), 1);
    QVERIFY(!window.givenList->item(0)->data(Qt::DecorationRole).isValid());
    QTRY_COMPARE(infrared.beams().size(), 1);
}

void TestSendNewKey::takenKeyPathLosesNoPhoto()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(40, 30), 1);
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    const QString keyPath = store.writePhoto(KeyStore::keyName(nextKeyNumber()), QSize(40, 30), 2);
    const QByteArray photoBytes = readAll(photo);
    const QByteArray keyBytes = readAll(keyPath);

    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });

    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::cannotRename);
    QCOMPARE(readAll(photo), photoBytes);
    QCOMPARE(readAll(keyPath), keyBytes);
    QCOMPARE(textsOf(window.sendList), QStringList {photo});
    QCOMPARE(window.sendList->currentRow(), 0);
    QCOMPARE(window.givenList->count(), 0);
    QVERIFY(infrared.beams().isEmpty());
}

void TestSendNewKey::issueAcrossFileSystems_data()
{
    QTest::addColumn<int>("sentKeysKiB");
    QTest::addColumn<bool>("fits");

    QTest::newRow("plenty of room") << 1024 << true;
    QTest::newRow("too little room") << 16 << false;
}

void TestSendNewKey::issueAcrossFileSystems()
{
    QFETCH(int, sentKeysKiB);
    QFETCH(bool, fits);

    KeyStoreFixture store;
    const ScratchFileSystem sentKeys(store.sentKeys(), sentKeysKiB);
    ZRK_REQUIRE_MOUNTED(sentKeys);
    FakeInfrared infrared;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(400, 300), 1);
    const QByteArray photoBytes = readAll(photo);
    QVERIFY(photoBytes.size() > 16 * 1024);
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    const QString keyName = KeyStore::keyName(nextKeyNumber());
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + keyName;

    const DebugLines debug;
    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });

    // Whole in exactly one place, and nothing else anywhere: no partial copy, no temporary file.
    const QString place = fits ? QStringLiteral(".sentKeys/") + keyName : keyName;
    QCOMPARE(filesBelow(store.documents()), QStringList {place});
    QCOMPARE(readAll(store.documents() + QLatin1Char('/') + place), photoBytes);
    QCOMPARE(window.sendList->count(), 0);
    QCOMPARE(textsOf(window.givenList), QStringList {sentPath});
    if (fits) {
        QVERIFY(shown.isEmpty());
        QCOMPARE(debug.lines(), QStringList {store.documents() + QLatin1Char('/') + keyName});
        QTRY_COMPARE(infrared.beams().size(), 1);
        QVERIFY(infrared.beams().first().fileWasThere);
    } else {
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().text, Message::cannotMove);
        QCOMPARE(shown.first().informativeText, sentPath + QStringLiteral(": ") + qt_error_string(ENOSPC));
        QVERIFY(debug.lines().isEmpty());
        QCOMPARE(window.findChildren<Ir *>().size(), 0);
    }
}

void TestSendNewKey::failedMoveIsReported_data()
{
    QTest::addColumn<bool>("sentKeysFolderGone");

    QTest::newRow("sent path taken") << false;
    QTest::newRow("sent-keys folder gone") << true;
}

void TestSendNewKey::failedMoveIsReported()
{
    QFETCH(bool, sentKeysFolderGone);

    KeyStoreFixture store;
    FakeInfrared infrared;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(40, 30), 1);
    const QByteArray photoBytes = readAll(photo);
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    const QString keyName = KeyStore::keyName(nextKeyNumber());
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + keyName;
    QByteArray occupantBytes;
    if (sentKeysFolderGone) {
        QVERIFY(QDir(store.sentKeys()).removeRecursively());
    } else {
        occupantBytes = jpegBytes(QSize(40, 30), 2);
        store.writeFile(QStringLiteral(".sentKeys/") + keyName, occupantBytes);
    }

    const DebugLines debug;
    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });

    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::cannotMove);
    QVERIFY(debug.lines().isEmpty());
    QCOMPARE(readAll(store.documents() + QLatin1Char('/') + keyName), photoBytes);
    if (!sentKeysFolderGone)
        QCOMPARE(readAll(sentPath), occupantBytes);
    QCOMPARE(window.sendList->count(), 0);
    QCOMPARE(textsOf(window.givenList), QStringList {sentPath});
    QCOMPARE(window.findChildren<Ir *>().size(), 0);
    QTest::qWait(50);
    QVERIFY(infrared.beams().isEmpty());
}

QTEST_MAIN(TestSendNewKey)
#include "tst_sendnewkey.moc"

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "desktopthumbnails.h"
#include "filemove.h"
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

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <sys/mount.h>

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
    void issueAcrossFileSystems();
    void failedMoveChangesNothing_data();
    void failedMoveChangesNothing();
};

enum class SinceRefresh { NothingSelected, PhotoRemoved, PhotoReplacedByLink, PhotoReplacedByFolder };
Q_DECLARE_METATYPE(SinceRefresh)

enum class SentKeysFolder { PathTaken, Gone, Full, ReadOnly };
Q_DECLARE_METATYPE(SentKeysFolder)

void TestSendNewKey::init()
{
    failOnUnexpectedWarnings();
    FileMove::setTestHooks({});
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
    // The desktop's thumbnail went with the photo, so that the next start need not decode it.
    QTRY_VERIFY(QFile::exists(DesktopThumbnails::thumbnailPath(QStringLiteral("normal"), sentPath)));
    QVERIFY(!QFile::exists(DesktopThumbnails::thumbnailPath(QStringLiteral("normal"), photo)));
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

void TestSendNewKey::issueAcrossFileSystems()
{
    KeyStoreFixture store;
    const ScratchFileSystem sentKeys(store.sentKeys(), 1024);
    ZRK_REQUIRE_MOUNTED(sentKeys);
    FakeInfrared infrared;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(400, 300), 1);
    const QByteArray photoBytes = readAll(photo);
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    const QString keyName = KeyStore::keyName(nextKeyNumber());
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + keyName;

    const DebugLines debug;
    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });

    // Whole in exactly one place, and nothing else anywhere: no partial copy, no temporary file.
    QVERIFY(shown.isEmpty());
    QCOMPARE(filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/") + keyName});
    QCOMPARE(readAll(sentPath), photoBytes);
    QCOMPARE(window.sendList->count(), 0);
    QCOMPARE(textsOf(window.givenList), QStringList {sentPath});
    QCOMPARE(debug.lines(), QStringList {store.documents() + QLatin1Char('/') + keyName});
    QTRY_COMPARE(infrared.beams().size(), 1);
    QVERIFY(infrared.beams().first().fileWasThere);
}

void TestSendNewKey::failedMoveChangesNothing_data()
{
    QTest::addColumn<SentKeysFolder>("sentKeysFolder");
    QTest::addColumn<bool>("photoNameTakenMeanwhile");

    QTest::newRow("sent path taken") << SentKeysFolder::PathTaken << false;
    QTest::newRow("sent-keys folder gone") << SentKeysFolder::Gone << false;
    QTest::newRow("sent-keys folder full") << SentKeysFolder::Full << false;
    QTest::newRow("sent-keys folder read-only") << SentKeysFolder::ReadOnly << false;
    // The photo cannot have its name back without replacing the newcomer: it stays under its key name.
    QTest::newRow("photo's name taken meanwhile") << SentKeysFolder::PathTaken << true;
}

void TestSendNewKey::failedMoveChangesNothing()
{
    QFETCH(SentKeysFolder, sentKeysFolder);
    QFETCH(bool, photoNameTakenMeanwhile);

    KeyStoreFixture store;
    std::optional<ScratchFileSystem> scratch;
    if (sentKeysFolder == SentKeysFolder::Full || sentKeysFolder == SentKeysFolder::ReadOnly) {
        scratch.emplace(store.sentKeys(), 16);
        ZRK_REQUIRE_MOUNTED(*scratch);
    }
    FakeInfrared infrared;
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"), QSize(400, 300), 1);
    const QByteArray photoBytes = readAll(photo);
    QVERIFY(photoBytes.size() > 16 * 1024);
    ZRKServer window;
    window.sendList->setCurrentRow(0);
    const QString keyName = KeyStore::keyName(nextKeyNumber());
    const QString keyPath = store.documents() + QLatin1Char('/') + keyName;
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + keyName;
    const QByteArray occupantBytes = jpegBytes(QSize(40, 30), 2);
    QString reason;
    switch (sentKeysFolder) {
    case SentKeysFolder::PathTaken:
        store.writeFile(QStringLiteral(".sentKeys/") + keyName, occupantBytes);
        reason = sentPath + QStringLiteral(": ") + qt_error_string(EEXIST);
        break;
    case SentKeysFolder::Gone:
        QVERIFY(QDir(store.sentKeys()).removeRecursively());
        reason = sentPath + QStringLiteral(": ") + qt_error_string(ENOENT);
        break;
    case SentKeysFolder::Full:
        reason = sentPath + QStringLiteral(": ") + qt_error_string(ENOSPC);
        break;
    case SentKeysFolder::ReadOnly:
        QCOMPARE(::mount(nullptr, QFile::encodeName(store.sentKeys()).constData(), nullptr,
                     MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr),
            0);
        reason = store.sentKeys() + QStringLiteral(": ") + qt_error_string(EROFS);
        break;
    }
    const QByteArray newcomerBytes = "another program's file";
    if (photoNameTakenMeanwhile) {
        FileMove::TestHooks hooks;
        hooks.beforePlacing = [&](const QString &target) {
            if (target == sentPath)
                writeFileAt(photo, newcomerBytes);
        };
        FileMove::setTestHooks(hooks);
    }
    const QString photoNow = photoNameTakenMeanwhile ? keyPath : photo;

    const DebugLines debug;
    const QList<ShownMessage> shown = messagesDuring([&] { window.sendNewKeyButton->click(); });
    FileMove::setTestHooks({});

    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::cannotMove);
    QCOMPARE(shown.first().informativeText, reason);
    QVERIFY(debug.lines().isEmpty());
    // Whole in exactly one place, and nothing else anywhere: no partial copy, no temporary file.
    QStringList expectedFiles {KeyStore::fileNameOf(photoNow)};
    if (sentKeysFolder == SentKeysFolder::PathTaken)
        expectedFiles.append(QStringLiteral(".sentKeys/") + keyName);
    if (photoNameTakenMeanwhile)
        expectedFiles.append(KeyStore::fileNameOf(photo));
    expectedFiles.sort();
    QCOMPARE(filesBelow(store.documents()), expectedFiles);
    QCOMPARE(readAll(photoNow), photoBytes);
    if (sentKeysFolder == SentKeysFolder::PathTaken)
        QCOMPARE(readAll(sentPath), occupantBytes);
    if (photoNameTakenMeanwhile)
        QCOMPARE(readAll(photo), newcomerBytes);
    QCOMPARE(textsOf(window.sendList), QStringList {photoNow});
    QCOMPARE(window.sendList->currentRow(), 0);
    QVERIFY(!pictureOf(window.sendList->item(0)).isNull());
    QCOMPARE(window.givenList->count(), 0);
    QCOMPARE(window.findChildren<Ir *>().size(), 0);
    QTest::qWait(50);
    QVERIFY(infrared.beams().isEmpty());
}

QTEST_MAIN(TestSendNewKey)
#include "tst_sendnewkey.moc"

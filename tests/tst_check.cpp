// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keylistcheck.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTest>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

// A store with two issued keys, zrk_5 and zrk_15, and one key list holding the given bytes, selected.
class CheckStand
{
public:
    explicit CheckStand(const QByteArray &keyListBytes)
    {
        store.writePhoto(QStringLiteral(".sentKeys/zrk_5.key.jpg"));
        store.writePhoto(QStringLiteral(".sentKeys/zrk_15.key.jpg"));
        keyList = store.writeFile(QStringLiteral("visitor.list"), keyListBytes);
        window = std::make_unique<ZRKServer>();
        window->checkList->setCurrentRow(0);
    }

    QStringList check()
    {
        return messageTextsDuring([this] { window->checkButton->click(); });
    }

    KeyStoreFixture store;
    QString keyList;
    std::unique_ptr<ZRKServer> window;
};

enum class SinceIssued { Untouched, Removed, RemovedAndPutBack, ReplacedByLink, ReplacedByFolder };

// A key list of exactly size bytes: issued keys, blank lines to fill, and lastLine at its end.
QByteArray keyListOfSize(qint64 size, const QByteArray &lastLine)
{
    const QByteArray key = "zrk_5.key.jpg\n";
    const qint64 keys = (size - lastLine.size()) / key.size();
    return key.repeated(keys) + QByteArray(size - lastLine.size() - keys * key.size(), '\n') + lastLine;
}

} // namespace

Q_DECLARE_METATYPE(SinceIssued)

class TestCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void outcome_data();
    void outcome();
    void firstInvalidLineEndsTheRead();
    void keyPassesOnlyWhileItsPhotoIsThere_data();
    void keyPassesOnlyWhileItsPhotoIsThere();
    void keyListSize_data();
    void keyListSize();
    void overlongLine_data();
    void overlongLine();
    void noCurrentEntry();
    void vanishedListIsNotCreated();
    void keyListOpenedReadOnly();
};

void TestCheck::init()
{
    failOnUnexpectedWarnings();
}

void TestCheck::outcome_data()
{
    QTest::addColumn<QByteArray>("keyList");
    QTest::addColumn<QString>("message");

    QTest::newRow("issued key") << QByteArray("zrk_5.key.jpg\n") << Message::prize;
    QTest::newRow("another ending") << QByteArray("zrk_5.key.txt\n") << Message::prize;
    QTest::newRow("several keys, no final line end") << QByteArray("zrk_15.key.jpg\nzrk_5.key.jpg") << Message::prize;
    QTest::newRow("CR LF line ends") << QByteArray("zrk_5.key.jpg\r\nzrk_15.key.jpg\r\n") << Message::prize;
    QTest::newRow("white space and blank lines")
        << QByteArray("\n  zrk_5.key.jpg\t\n\n \t \n zrk_15.key.jpg \n\n") << Message::prize;
    QTest::newRow("same key twice") << QByteArray("zrk_5.key.jpg\nzrk_5.key.jpg\n") << Message::prize;
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBFzrk_5.key.jpg\n") << Message::prize;

    QTest::newRow("empty file") << QByteArray() << Message::noKeys;
    QTest::newRow("only blank lines") << QByteArray("\n   \r\n\t\n") << Message::noKeys;

    QTest::newRow("key never issued") << QByteArray("zrk_6.key.jpg\n")
                                      << Message::invalidKey(QStringLiteral("zrk_6.key.jpg"));
    QTest::newRow("letter case") << QByteArray("ZRK_5.KEY.JPG\n")
                                 << Message::invalidKey(QStringLiteral("ZRK_5.KEY.JPG"));
    QTest::newRow("tail of an issued key")
        << QByteArray("5.key.jpg\n") << Message::invalidKey(QStringLiteral("5.key.jpg"));
    QTest::newRow("head of an issued key")
        << QByteArray("zrk_1.jpg\n") << Message::invalidKey(QStringLiteral("zrk_1.jpg"));
    QTest::newRow("folder word") << QByteArray("Documents1234\n")
                                 << Message::invalidKey(QStringLiteral("Documents1234"));
    QTest::newRow("four characters") << QByteArray("abcd\n") << Message::invalidKey(QStringLiteral("abcd"));
    QTest::newRow("only an ending") << QByteArray(".jpg\n") << Message::invalidKey(QStringLiteral(".jpg"));
    QTest::newRow("one character") << QByteArray("z\n") << Message::invalidKey(QStringLiteral("z"));
    QTest::newRow("issued key's path") << QByteArray(".sentKeys/zrk_5.key.jpg\n")
                                       << Message::invalidKey(QStringLiteral(".sentKeys/zrk_5.key.jpg"));
    QTest::newRow("ending added twice") << QByteArray("zrk_5.key.jpg.jpg\n")
                                        << Message::invalidKey(QStringLiteral("zrk_5.key.jpg.jpg"));
    QTest::newRow("per-cent signs and conversions")
        << QByteArray("zrk_%1%s%n%d.key.jpg\n") << Message::invalidKey(QStringLiteral("zrk_%1%s%n%d.key.jpg"));
    QTest::newRow("valid, then forged") << QByteArray("zrk_5.key.jpg\nzrk_5.key\n")
                                        << Message::invalidKey(QStringLiteral("zrk_5.key"));
}

void TestCheck::outcome()
{
    QFETCH(QByteArray, keyList);
    QFETCH(QString, message);

    CheckStand stand(keyList);
    const QStringList filesBefore = filesBelow(stand.store.root());
    const QStringList givenBefore = textsOf(stand.window->givenList);

    // Checking changes nothing, so a second check ends the same way.
    for (int run = 0; run < 2; ++run) {
        const DebugLines debug;
        QCOMPARE(stand.check(), QStringList {message});
        const QStringList expectedLines = QString::fromUtf8(keyList).remove(QChar(0xFEFF)).split(QLatin1Char('\n'));
        for (const QString &line : debug.lines())
            QVERIFY2(expectedLines.contains(line) || expectedLines.contains(line + QLatin1Char('\r')),
                qPrintable(QStringLiteral("unexpected debug line: ") + line));
    }
    // The prize is good news; every other verdict is a refusal.
    const QList<ShownMessage> shown = messagesDuring([&stand] { stand.window->checkButton->click(); });
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().icon, message == Message::prize ? QMessageBox::Information : QMessageBox::Critical);
    QCOMPARE(shown.first().caption, QStringLiteral("Message"));
    QCOMPARE(shown.first().buttons, QStringList {QStringLiteral("Ok")});
    QCOMPARE(readAll(stand.keyList), keyList);
    QCOMPARE(filesBelow(stand.store.root()), filesBefore);
    QCOMPARE(textsOf(stand.window->givenList), givenBefore);
    QCOMPARE(stand.window->checkList->currentRow(), 0);
}

void TestCheck::firstInvalidLineEndsTheRead()
{
    CheckStand stand("zrk_5.key.jpg\nzrk_9.key.jpg\nzrk_8.key.jpg\n");

    const DebugLines debug;
    QCOMPARE(stand.check(), QStringList {QStringLiteral("Invalid Key: zrk_9.key.jpg.")});
    QCOMPARE(debug.lines(), (QStringList {QStringLiteral("zrk_5.key.jpg"), QStringLiteral("zrk_9.key.jpg")}));
}

void TestCheck::keyPassesOnlyWhileItsPhotoIsThere_data()
{
    QTest::addColumn<SinceIssued>("sinceIssued");
    QTest::addColumn<QString>("message");

    const QString invalid = Message::invalidKey(QStringLiteral("zrk_5.key.jpg"));
    QTest::newRow("untouched") << SinceIssued::Untouched << Message::prize;
    QTest::newRow("removed by hand") << SinceIssued::Removed << invalid;
    // Whatever was seen at an earlier check, the folder as it is now decides.
    QTest::newRow("removed, then put back") << SinceIssued::RemovedAndPutBack << Message::prize;
    QTest::newRow("replaced by a link to another key") << SinceIssued::ReplacedByLink << invalid;
    QTest::newRow("replaced by a folder") << SinceIssued::ReplacedByFolder << invalid;
}

void TestCheck::keyPassesOnlyWhileItsPhotoIsThere()
{
    QFETCH(SinceIssued, sinceIssued);
    QFETCH(QString, message);

    // zrk_15 first and last: the key whose photo went fails wherever it stands, and every other key still passes.
    CheckStand stand("zrk_15.key.jpg\nzrk_5.key.jpg\nzrk_5.key.jpg\nzrk_15.key.jpg\n");
    const QString photo = stand.store.sentKeys() + QStringLiteral("/zrk_5.key.jpg");
    const QByteArray photoBytes = readAll(photo);
    QCOMPARE(stand.check(), QStringList {Message::prize});
    if (sinceIssued != SinceIssued::Untouched)
        QVERIFY(QFile::remove(photo));
    if (sinceIssued == SinceIssued::RemovedAndPutBack) {
        QCOMPARE(stand.check(), QStringList {Message::invalidKey(QStringLiteral("zrk_5.key.jpg"))});
        writeFileAt(photo, photoBytes);
    }
    if (sinceIssued == SinceIssued::ReplacedByLink)
        QVERIFY(QFile::link(stand.store.sentKeys() + QStringLiteral("/zrk_15.key.jpg"), photo));
    if (sinceIssued == SinceIssued::ReplacedByFolder)
        QVERIFY(QDir().mkdir(photo));

    QCOMPARE(stand.check(), QStringList {message});
    // The entry stays: the check changes nothing, not even a list that no longer matches the folder.
    QCOMPARE(stand.window->givenList->count(), 2);
}

void TestCheck::keyListSize_data()
{
    QTest::addColumn<QByteArray>("keyList");
    QTest::addColumn<QString>("message");

    const QByteArray forged = "zrk_6.key.jpg";
    const qint64 bound = KeyListCheck::maxListBytes;
    QTest::newRow("just under the bound, every key issued") << keyListOfSize(bound - 1, {}) << Message::prize;
    // Read to the end: the last line decides.
    QTest::newRow("at the bound, last key forged")
        << keyListOfSize(bound, forged) << Message::invalidKey(QString::fromLatin1(forged));
    QTest::newRow("one byte over") << keyListOfSize(bound + 1, {}) << Message::keyListTooLong;
    QTest::newRow("blank lines, far over") << QByteArray(6 * bound, '\n') << Message::keyListTooLong;
}

void TestCheck::keyListSize()
{
    QFETCH(QByteArray, keyList);
    QFETCH(QString, message);

    CheckStand stand(keyList);
    QCOMPARE(QFile(stand.keyList).size(), keyList.size());

    const DebugLines debug;
    const QList<ShownMessage> shown = messagesDuring([&] { stand.window->checkButton->click(); });

    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, message);
    QCOMPARE(shown.first().caption, QStringLiteral("Message"));
    QCOMPARE(shown.first().icon, message == Message::prize ? QMessageBox::Information : QMessageBox::Critical);
    QCOMPARE(shown.first().buttons, QStringList {QStringLiteral("Ok")});
    if (message == Message::keyListTooLong)
        QVERIFY(debug.lines().isEmpty());
    else
        QCOMPARE(debug.lines().size(), keyList.count('\n') + (keyList.endsWith('\n') ? 0 : 1));
    QCOMPARE(readAll(stand.keyList), keyList);
}

void TestCheck::overlongLine_data()
{
    QTest::addColumn<QByteArray>("keyList");
    QTest::addColumn<QString>("message");

    QTest::newRow("long line after a valid one") << QByteArray("zrk_5.key.jpg\n") + QByteArray(10000, 'a')
            + "\nzrk_5.key.jpg\n" << QStringLiteral("Invalid Key: %1....").arg(QString(80, QLatin1Char('a')));
    QTest::newRow("issued key padded past the limit") << QByteArray(4100, ' ')
            + "zrk_5.key.jpg\n" << QStringLiteral("Invalid Key: %1....").arg(QString(80, QLatin1Char(' ')));
    QTest::newRow("81 characters") << QByteArray(81, 'b')
                                   << QStringLiteral("Invalid Key: %1....").arg(QString(80, QLatin1Char('b')));
    QTest::newRow("80 characters") << QByteArray(80, 'c')
                                   << QStringLiteral("Invalid Key: %1.").arg(QString(80, QLatin1Char('c')));
    QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe\x01zrk\x00\x80\x81\xc3", 11) + QByteArray(200, '\x07')
                                 << QString();
}

void TestCheck::overlongLine()
{
    QFETCH(QByteArray, keyList);
    QFETCH(QString, message);

    CheckStand stand(keyList);
    const QStringList shown = stand.check();
    QCOMPARE(shown.size(), 1);
    if (message.isEmpty()) {
        QVERIFY(shown.first().startsWith(QStringLiteral("Invalid Key: ")));
        QVERIFY(shown.first().size() <= 13 + 80 + 4);
    } else {
        QCOMPARE(shown.first(), message);
    }
}

void TestCheck::noCurrentEntry()
{
    CheckStand stand("zrk_5.key.jpg\n");
    stand.window->checkList->setCurrentRow(-1);
    QCOMPARE(stand.check(), QStringList {Message::selectItem});

    stand.window->checkList->clear();
    QCOMPARE(stand.check(), QStringList {Message::selectItem});
}

void TestCheck::vanishedListIsNotCreated()
{
    CheckStand stand("zrk_5.key.jpg\n");
    QVERIFY(QFile::remove(stand.keyList));

    QCOMPARE(stand.check(), QStringList {Message::cannotRead});
    QVERIFY(!QFile::exists(stand.keyList));
}

void TestCheck::keyListOpenedReadOnly()
{
    CheckStand stand("zrk_5.key.jpg\n");
    QVERIFY(QFile::setPermissions(stand.keyList, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    // The kernel tells whether the file was closed after being open for writing, whoever runs the test.
    const int watcher = inotify_init1(IN_NONBLOCK);
    QVERIFY(watcher >= 0);
    QVERIFY(inotify_add_watch(watcher, QFile::encodeName(stand.keyList).constData(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)
        >= 0);

    QCOMPARE(stand.check(), QStringList {Message::prize});

    char buffer[4096];
    const ssize_t length = read(watcher, buffer, sizeof buffer);
    close(watcher);
    QVERIFY2(length > 0, "the key list was never opened");
    uint32_t seen = 0;
    for (ssize_t offset = 0; offset < length;) {
        const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
        seen |= event->mask;
        offset += ssize_t(sizeof(inotify_event) + event->len);
    }
    QVERIFY(seen & IN_CLOSE_NOWRITE);
    QVERIFY2(!(seen & IN_CLOSE_WRITE), "the key list was opened for writing");
}

QTEST_MAIN(TestCheck)
#include "tst_check.moc"

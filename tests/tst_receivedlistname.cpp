// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "incomingfolder.h"
#include "receivedlistname.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QTest>

// The names a key list that a phone sent gets, and the folder it waits in until it is whole.
class TestReceivedListName : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void fileName_data();
    void fileName();
    void takenNamesAreNumbered();
    void stagingFolderIsPrivateAndCleared();
};

void TestReceivedListName::init()
{
    failOnUnexpectedWarnings();
}

void TestReceivedListName::fileName_data()
{
    QTest::addColumn<QString>("sent");
    QTest::addColumn<int>("copy");
    QTest::addColumn<QString>("name");

    const QString longStem(300, QLatin1Char('a'));
    // Each "é" takes two bytes: a cut at an odd byte count must not split one.
    const QString accented(200, QChar(0x00e9));
    const QString emoji = QString::fromUcs4(U"\U0001F600");

    QTest::newRow("plain") << "visitor.list" << 1 << "visitor.list";
    QTest::newRow("second copy") << "visitor.list" << 2 << "visitor (2).list";
    QTest::newRow("number before the last .list") << "a.list.list.txt" << 3 << "a.list (3).list.txt";
    QTest::newRow("path components") << "../../etc/evil.list" << 1 << "evil.list";
    QTest::newRow("leading dots") << "...hidden.list" << 1 << "hidden.list";
    QTest::newRow("nothing before .list") << ".list" << 1 << "received.list";
    QTest::newRow("only dots before .list") << "..list" << 2 << "received (2).list";
    QTest::newRow(".list only in a folder's name") << "keys.list/evil" << 1 << "evil.list";
    QTest::newRow("dot-dot at the end") << "a.list/.." << 1 << "received.list";
    QTest::newRow("control characters") << QStringLiteral("vis\titor\n\x01\x7f\u0085.list\r") << 1 << "visitor.list";
    QTest::newRow("line separator") << QStringLiteral("a\u2028b.list") << 1 << "ab.list";
    QTest::newRow("long ASCII") << longStem + QStringLiteral(".list") << 1
                                << QString(250, QLatin1Char('a')) + QStringLiteral(".list");
    QTest::newRow("long ASCII numbered") << longStem + QStringLiteral(".list") << 12
                                         << QString(245, QLatin1Char('a')) + QStringLiteral(" (12).list");
    QTest::newRow("long two-byte characters")
        << accented + QStringLiteral(".list") << 1 << QString(125, QChar(0x00e9)) + QStringLiteral(".list");
    QTest::newRow("long four-byte characters")
        << emoji.repeated(100) + QStringLiteral(".list") << 1 << emoji.repeated(62) + QStringLiteral(".list");
    QTest::newRow("long ending after .list")
        << QStringLiteral("k.list") + longStem << 1 << QStringLiteral("k.list") + QString(246, QLatin1Char('a'));
}

void TestReceivedListName::fileName()
{
    QFETCH(QString, sent);
    QFETCH(int, copy);
    QFETCH(QString, name);

    const QString made = ReceivedListName::fileName(sent, copy);
    QCOMPARE(made, name);
    QVERIFY(made.toUtf8().size() <= ReceivedListName::maxBytes);
    QVERIFY(made.contains(QStringLiteral(".list")));
    QVERIFY(!made.startsWith(QLatin1Char('.')));
    QVERIFY(!made.contains(QLatin1Char('/')));
}

void TestReceivedListName::takenNamesAreNumbered()
{
    const KeyStoreFixture store;
    const QString first = store.writeFile(QStringLiteral("visitor.list"), "first\n");
    // A dangling link takes its name as a file does.
    QVERIFY(QFile::link(
        store.root() + QStringLiteral("/nowhere"), store.documents() + QStringLiteral("/visitor (2).list")));

    const QString staged = IncomingFolder::reserveFile();
    QVERIFY(!staged.isEmpty());
    writeFileAt(staged, "second\n");
    const QString moved = IncomingFolder::moveIntoDocuments(staged, QStringLiteral("visitor.list"));

    QCOMPARE(moved, store.documents() + QStringLiteral("/visitor (3).list"));
    QCOMPARE(readAll(moved), QByteArray("second\n"));
    QCOMPARE(readAll(first), QByteArray("first\n"));
    QVERIFY(!QFileInfo::exists(staged));
}

void TestReceivedListName::stagingFolderIsPrivateAndCleared()
{
    const KeyStoreFixture store;
    const QString staged = IncomingFolder::reserveFile();
    const QString other = IncomingFolder::reserveFile();

    QCOMPARE(QFileInfo(staged).path(), store.documents() + QStringLiteral("/.incoming"));
    QVERIFY(staged != other);
    const QFile::Permissions others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    QCOMPARE(QFileInfo(IncomingFolder::path()).permissions() & others, QFile::Permissions());
    QVERIFY(QFileInfo(staged).isFile());

    IncomingFolder::clear();
    QVERIFY(!QFileInfo::exists(IncomingFolder::path()));
    QVERIFY(filesBelow(store.documents()).isEmpty());
}

QTEST_GUILESS_MAIN(TestReceivedListName)
#include "tst_receivedlistname.moc"

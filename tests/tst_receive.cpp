// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keylistagent.h"
#include "keystore.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QListWidget>
#include <QTest>

#include <memory>

// Key lists that phones push to the window, played by the stand-in obexd.
namespace {

const QString phone = QStringLiteral("00:11:22:33:44:55");

QDBusMessage standInCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.bluez.obex"), QStringLiteral("/org/bluez/obex"),
        QStringLiteral("org.zrkserver.StandIn"), method);
}

// The path of the agent obexd has now, empty when it has none.
QString registeredAgent()
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(standInCall(QStringLiteral("Agent")));
    return reply.arguments().value(0).toString();
}

// What the stand-in answers once the push has ended: "complete <path>", "error <path>" or "rejected <error>".
QString push(const QString &name, const QByteArray &content, const QString &outcome = QStringLiteral("complete"),
    qint64 announcedSize = -1)
{
    QDBusMessage call = standInCall(QStringLiteral("Push"));
    call << phone << name << content << outcome << announcedSize;
    // The agent answers from this same program, so the call must not block its event loop.
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call, 60000));
    if (!QTest::qWaitFor([&watcher] { return watcher.isFinished(); }, 60000))
        return QStringLiteral("no answer");
    const QDBusPendingReply<QString> reply = watcher;
    return reply.isError() ? reply.error().message() : reply.value();
}

QByteArray bytesOfSize(qsizetype size)
{
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += "zrk_" + QByteArray::number(bytes.size()) + ".key.jpg\n";
    return bytes.left(size);
}

} // namespace

class TestReceive : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void push_data();
    void push();
    void receivedListIsChecked();
    void agentGoesWithTheWindow();
    void anotherAgentHoldsThePlace();

private:
    std::unique_ptr<StandInBluetooth> m_bluetooth;
};

void TestReceive::initTestCase()
{
    m_bluetooth = std::make_unique<StandInBluetooth>();
    QVERIFY2(m_bluetooth->error().isEmpty(), qPrintable(m_bluetooth->error()));
}

void TestReceive::init()
{
    failOnUnexpectedWarnings();
    m_bluetooth->reset();
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), true));
}

void TestReceive::push_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<qint64>("announcedSize");
    QTest::addColumn<QStringList>("before");
    // The file the list lands in, relative to the document folder; empty when none may.
    QTest::addColumn<QString>("landsAs");
    QTest::addColumn<QString>("answer");

    const QByteArray list = bytesOfSize(200);
    const QString complete = QStringLiteral("complete");
    const QString rejected = QStringLiteral("rejected org.bluez.obex.Error.Rejected");
    QTest::newRow("key list") << "visitor.list" << list << complete << qint64(-1) << QStringList() << "visitor.list"
                              << complete;
    QTest::newRow("path in the name") << "../../etc/evil.list" << list << complete << qint64(-1) << QStringList()
                                      << "evil.list" << complete;
    QTest::newRow("name taken") << "visitor.list" << list << complete << qint64(-1)
                                << QStringList {QStringLiteral("visitor.list")} << "visitor (2).list" << complete;
    QTest::newRow("photo") << "photo.jpg" << list << complete << qint64(-1) << QStringList() << QString() << rejected;
    QTest::newRow("2 MiB list") << "big.list" << bytesOfSize(2 * 1024 * 1024) << complete << qint64(-1) << QStringList()
                                << QString() << rejected;
    QTest::newRow("transfer errors") << "visitor.list" << list << QStringLiteral("error") << qint64(-1) << QStringList()
                                     << QString() << QStringLiteral("error");
    QTest::newRow("larger than announced")
        << "visitor.list" << list << complete << qint64(100) << QStringList() << QString() << complete;
}

void TestReceive::push()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, outcome);
    QFETCH(qint64, announcedSize);
    QFETCH(QStringList, before);
    QFETCH(QString, landsAs);
    QFETCH(QString, answer);

    KeyStoreFixture store;
    for (const QString &file : std::as_const(before))
        store.writeFile(file, "already here\n");
    ZRKServer window;
    QTRY_COMPARE(registeredAgent(), KeyListAgent::objectPath());
    const QStringList listed = textsOf(window.checkList);

    QList<ShownMessage> shown;
    QString answered;
    shown = messagesDuring([&] { answered = ::push(name, content, outcome, announcedSize); });

    QVERIFY2(answered.startsWith(answer), qPrintable(answered));
    QVERIFY(shown.isEmpty());
    QStringList expected = before;
    if (landsAs.isEmpty()) {
        // Nothing is left behind, not even in the hidden folder it was written into.
        QCOMPARE(filesBelow(store.documents()), expected);
        QCOMPARE(textsOf(window.checkList), listed);
        QCOMPARE(noticesOf(window), QStringList());
        return;
    }
    const QString path = store.documents() + QLatin1Char('/') + landsAs;
    QTRY_COMPARE(textsOf(window.checkList), listed + QStringList {path});
    expected.append(landsAs);
    expected.sort();
    QCOMPARE(filesBelow(store.documents()), expected);
    QCOMPARE(readAll(path), content);
    QCOMPARE(window.checkList->currentItem()->text(), path);
    const QString toolTip = window.checkList->currentItem()->toolTip();
    QVERIFY2(toolTip.startsWith(QStringLiteral("Received from Visitor at ")), qPrintable(toolTip));
    QCOMPARE(noticesOf(window), QStringList {QStringLiteral("A key list arrived from Visitor.")});
    // A refresh lists it as any other key list.
    window.refreshCheckButton->click();
    QVERIFY(textsOf(window.checkList).contains(path));
}

void TestReceive::receivedListIsChecked()
{
    KeyStoreFixture store;
    store.writePhoto(QStringLiteral(".sentKeys/zrk_5.key.jpg"));
    store.writePhoto(QStringLiteral(".sentKeys/zrk_17.key.jpg"));
    ZRKServer window;
    QTRY_COMPARE(registeredAgent(), KeyListAgent::objectPath());

    QVERIFY(::push(QStringLiteral("keys.list"), "zrk_5.key.jpg\nzrk_17.key.jpg\n").startsWith(u"complete"));
    QTRY_COMPARE(window.checkList->count(), 1);

    QCOMPARE(messageTextsDuring([&] { window.checkButton->click(); }), QStringList {Message::prize});
}

void TestReceive::agentGoesWithTheWindow()
{
    KeyStoreFixture store;
    {
        ZRKServer window;
        QTRY_COMPARE(registeredAgent(), KeyListAgent::objectPath());
    }
    QCOMPARE(registeredAgent(), QString());
    QVERIFY(::push(QStringLiteral("visitor.list"), "zrk_5.key.jpg\n").startsWith(u"rejected"));
    QVERIFY(filesBelow(store.documents()).isEmpty());
}

void TestReceive::anotherAgentHoldsThePlace()
{
    KeyStoreFixture store;
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("other"));
    QDBusMessage hold =
        QDBusMessage::createMethodCall(QStringLiteral("org.bluez.obex"), QStringLiteral("/org/bluez/obex"),
            QStringLiteral("org.bluez.obex.AgentManager1"), QStringLiteral("RegisterAgent"));
    hold << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/other/agent")));
    QCOMPARE(other.call(hold).type(), QDBusMessage::ReplyMessage);

    QList<ShownMessage> shown = messagesDuring([&] {
        ZRKServer window;
        QTest::qWait(200);
        QCOMPARE(window.checkList->count(), 0);
    });

    QVERIFY(shown.isEmpty());
    QCOMPARE(registeredAgent(), QStringLiteral("/other/agent"));
    QDBusConnection::disconnectFromBus(QStringLiteral("other"));
}

QTEST_MAIN(TestReceive)
#include "tst_receive.moc"

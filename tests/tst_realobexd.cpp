// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ir.h"
#include "keystore.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <memory>

// Beaming through Debian's own obexd, which checks the calls' arguments as no stand-in can be trusted to. This
// kernel has no Bluetooth, so obexd reaches no phone: what it answers then is what the operator must understand.
class TestRealObexd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void unreachablePhoneIsToldInTheOperatorsWords();
    void windowIsTheAgentWhileItLives();

private:
    std::unique_ptr<StandInBluetooth> m_bluetooth;
};

void TestRealObexd::initTestCase()
{
    if (!QFileInfo(StandInBluetooth::debianObexd()).isExecutable())
        QSKIP("Debian's obexd is not installed (apt-get install bluez-obexd)");
    m_bluetooth = std::make_unique<StandInBluetooth>(StandInBluetooth::DebianObexd);
    QVERIFY2(m_bluetooth->error().isEmpty(), qPrintable(m_bluetooth->error()));
}

void TestRealObexd::init()
{
    failOnUnexpectedWarnings();
}

void TestRealObexd::unreachablePhoneIsToldInTheOperatorsWords()
{
    const QString address = QStringLiteral("11:22:33:44:55:66");
    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setAvailable(false);
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(address, QStringLiteral("Visitor Phone"), false));
    store.writePhoto(QStringLiteral("photo.jpg"));
    ZRKServer window;

    const QList<ShownMessage> shown = messagesDuring([&] {
        devicesChosenDuring(address, [&] {
            window.sendList->setCurrentRow(0);
            window.sendNewKeyButton->click();
        });
        QVERIFY(QTest::qWaitFor([&] { return window.findChildren<Ir *>().isEmpty(); }, 60000));
    });

    QVERIFY(shown.isEmpty());
    const QString keyName = KeyStore::fileNameOf(window.givenList->item(0)->text());
    const auto *notice = window.findChild<QLabel *>(QStringLiteral("noticeText"));
    QVERIFY(notice);
    // The empty Error.Failed obexd answers becomes a reason that names the phone and says what to look at.
    QCOMPARE(notice->text(),
        QStringLiteral("Can't beam %1 to Visitor Phone (%2).\nVisitor Phone did not answer: is its Bluetooth on and "
                       "visible?")
            .arg(keyName, address));
    const QString toolTip = window.givenList->item(0)->toolTip();
    QVERIFY2(toolTip.endsWith(QStringLiteral("\norg.bluez.obex.Error.Failed")), qPrintable(toolTip));
    // obexd took the call's arguments and went on to look for the phone's Object Push service.
    const QString log = m_bluetooth->obexdLog();
    QVERIFY2(log.contains(QLatin1String("00001105-0000-1000-8000-00805f9b34fb")), qPrintable(log));
    qInfo().noquote() << "notice:" << notice->text();
    qInfo().noquote() << "tool tip:" << toolTip;
}

// Whether the window holds the agent's place shows in what obexd answers another program that asks for it.
void TestRealObexd::windowIsTheAgentWhileItLives()
{
    const QString otherProgram = QStringLiteral("another program");
    QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, otherProgram);
    QVERIFY(other.isConnected());
    QDBusMessage registerAgent =
        QDBusMessage::createMethodCall(QStringLiteral("org.bluez.obex"), QStringLiteral("/org/bluez/obex"),
            QStringLiteral("org.bluez.obex.AgentManager1"), QStringLiteral("RegisterAgent"));
    registerAgent << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/another/agent")));
    KeyStoreFixture store;

    const QList<ShownMessage> shown = messagesDuring([&] {
        ZRKServer window;
        // The window registers without waiting for the answer.
        QTRY_COMPARE_WITH_TIMEOUT(
            other.call(registerAgent).errorName(), QStringLiteral("org.bluez.obex.Error.AlreadyExists"), 30000);
    });

    QVERIFY(shown.isEmpty());
    const QDBusMessage afterWindow = other.call(registerAgent);
    QVERIFY2(afterWindow.type() == QDBusMessage::ReplyMessage, qPrintable(afterWindow.errorMessage()));
    const QString log = m_bluetooth->obexdLog();
    QVERIFY2(log.contains(QLatin1String("Agent unregistered")), qPrintable(log));
    QDBusConnection::disconnectFromBus(otherProgram);
}

QTEST_MAIN(TestRealObexd)
#include "tst_realobexd.moc"

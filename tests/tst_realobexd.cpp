// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keylistagent.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTest>

// The window as the agent of Debian's real obexd (see with-real-obexd.sh), which checks the calls as no stand-in
// can. Whether the window holds the agent's place shows in what obexd answers another program that asks for it.
namespace {

const QString otherConnection = QStringLiteral("another program");

QDBusMessage registerAgentFromAnotherProgram()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.bluez.obex"), QStringLiteral("/org/bluez/obex"),
            QStringLiteral("org.bluez.obex.AgentManager1"), QStringLiteral("RegisterAgent"));
    call << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/another/agent")));
    return QDBusConnection(otherConnection).call(call);
}

} // namespace

class TestRealObexd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void windowIsTheAgentWhileItLives();
};

void TestRealObexd::initTestCase()
{
    const QByteArray bus = qgetenv("ZRK_REAL_OBEXD_BUS");
    if (bus.isEmpty())
        QSKIP("runs under with-real-obexd.sh, which starts obexd");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    QVERIFY(QDBusConnection::sessionBus().isConnected());
    QVERIFY(QDBusConnection::connectToBus(QDBusConnection::SessionBus, otherConnection).isConnected());
}

void TestRealObexd::init()
{
    failOnUnexpectedWarnings();
}

void TestRealObexd::windowIsTheAgentWhileItLives()
{
    KeyStoreFixture store;
    QList<ShownMessage> shown;
    shown = messagesDuring([] {
        ZRKServer window;
        // The window registers without waiting for the answer.
        QTRY_COMPARE_WITH_TIMEOUT(
            registerAgentFromAnotherProgram().errorName(), QStringLiteral("org.bluez.obex.Error.AlreadyExists"), 30000);
    });
    QVERIFY(shown.isEmpty());

    const QDBusMessage afterWindow = registerAgentFromAnotherProgram();
    QVERIFY2(afterWindow.type() == QDBusMessage::ReplyMessage, qPrintable(afterWindow.errorMessage()));
}

QTEST_MAIN(TestRealObexd)
#include "tst_realobexd.moc"

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "beamtransfer.h"
#include "devicechoice.h"
#include "ir.h"
#include "keystore.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>

// Beaming keys over Bluetooth through the stand-in obexd, whose answer depends on the receiver's address, and over
// infrared through a stand-in obexftp.
namespace {

const QString phone = QStringLiteral("00:11:22:33:44:55");
const QString failingPhone = QStringLiteral("00:11:22:33:44:EF");
const QString refusingPhone = QStringLiteral("00:11:22:33:44:EE");
const QString silentPhone = QStringLiteral("00:11:22:33:44:DD");
const QString fastPhone = QStringLiteral("00:11:22:33:44:CC");

constexpr int stallLimitMs = 5000;

// Sessions and transfers are numbered through the whole run; the calls are compared without their paths.
QStringList withoutPaths(const QStringList &calls)
{
    QStringList stripped = calls;
    stripped.replaceInStrings(QRegularExpression(QStringLiteral("\t/org/bluez/obex/client/\\S+")), QString());
    return stripped;
}

QString keyNameAt(const QListWidget *list, int row)
{
    return KeyStore::fileNameOf(list->item(row)->text());
}

bool beamsEnded(const ZRKServer &window)
{
    return QTest::qWaitFor([&window] { return window.findChildren<Ir *>().isEmpty(); }, 60000);
}

} // namespace

class TestBeam : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void bluetoothBeam_data();
    void bluetoothBeam();
    void cancelledChoiceChangesNothing();
    void deviceChoice();
    void threeKeysInOrder();
    void withoutBluetooth_data();
    void withoutBluetooth();
    void infrared_data();
    void infrared();
    void closeWithBeamsPending_data();
    void closeWithBeamsPending();

private:
    // Issues a key for the first photo of the Send list, answering the device choice with address.
    QList<ShownMessage> issue(ZRKServer &window, const QString &address, QList<QStringList> *listed = nullptr);

    std::unique_ptr<StandInBluetooth> m_bluetooth;
};

void TestBeam::initTestCase()
{
    m_bluetooth = std::make_unique<StandInBluetooth>();
    QVERIFY2(m_bluetooth->error().isEmpty(), qPrintable(m_bluetooth->error()));
    BeamTransfer::setStallLimitForTesting(stallLimitMs);
}

void TestBeam::init()
{
    failOnUnexpectedWarnings();
    m_bluetooth->reset();
}

void TestBeam::cleanup()
{
    BeamTransfer::setStallLimitForTesting(stallLimitMs);
}

QList<ShownMessage> TestBeam::issue(ZRKServer &window, const QString &address, QList<QStringList> *listed)
{
    window.sendList->setCurrentRow(0);
    bool ended = false;
    const QList<ShownMessage> shown = messagesDuring([&] {
        const QList<QStringList> choices = devicesChosenDuring(address, [&] { window.sendNewKeyButton->click(); });
        if (listed)
            *listed += choices;
        ended = beamsEnded(window);
    });
    // Recorded as a failure of the calling test, which goes on to show what else is wrong.
    QTest::qVerify(ended, "beamsEnded(window)", "the beam did not end", __FILE__, __LINE__);
    return shown;
}

void TestBeam::bluetoothBeam_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("obexCalls");

    const QString sent = QStringLiteral("SendFile\t%1\tthere");
    QTest::newRow("transfer completes") << phone << QString()
                                        << QStringList {QStringLiteral("CreateSession\t") + phone, sent,
                                               QStringLiteral("RemoveSession")};
    // Its status changes reach the bus before the answer that names the transfer.
    QTest::newRow("transfer complete before SendFile answers")
        << fastPhone << QString()
        << QStringList {QStringLiteral("CreateSession\t") + fastPhone, sent, QStringLiteral("RemoveSession")};
    QTest::newRow("transfer errors") << failingPhone << QStringLiteral("the transfer failed")
                                     << QStringList {QStringLiteral("CreateSession\t") + failingPhone, sent,
                                            QStringLiteral("RemoveSession")};
    QTest::newRow("session refused") << refusingPhone
                                     << QStringLiteral("the device refused the session: Unable to connect")
                                     << QStringList {QStringLiteral("CreateSession\t") + refusingPhone};
    QTest::newRow("no progress") << silentPhone << QStringLiteral("no progress for 5 s")
                                 << QStringList {QStringLiteral("CreateSession\t") + silentPhone, sent,
                                        QStringLiteral("Cancel"), QStringLiteral("RemoveSession")};
}

void TestBeam::bluetoothBeam()
{
    QFETCH(QString, address);
    QFETCH(QString, failure);
    QFETCH(QStringList, obexCalls);

    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setAvailable(false);
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(address, QStringLiteral("Visitor"), true));
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    const QByteArray photoBytes = readAll(photo);
    ZRKServer window;

    const QList<ShownMessage> shown = issue(window, address);

    // Whatever the outcome, the key stays issued.
    QCOMPARE(window.givenList->count(), 1);
    const QString keyName = keyNameAt(window.givenList, 0);
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + keyName;
    QCOMPARE(filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/") + keyName});
    QCOMPARE(readAll(sentPath), photoBytes);
    obexCalls.replaceInStrings(QStringLiteral("%1"), sentPath);
    QTRY_COMPARE(withoutPaths(m_bluetooth->obexCalls()), obexCalls);
    const QString toolTip = window.givenList->item(0)->toolTip();
    const QString destination = QStringLiteral("to Visitor (%1) at ").arg(address);
    if (failure.isEmpty()) {
        QVERIFY(shown.isEmpty());
        QVERIFY2(toolTip.startsWith(QStringLiteral("Beamed ") + destination), qPrintable(toolTip));
        return;
    }
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::cannotBeam(keyName));
    QCOMPARE(shown.first().informativeText, failure);
    QCOMPARE(shown.first().caption, QStringLiteral("Message"));
    QCOMPARE(shown.first().icon, QMessageBox::Critical);
    QCOMPARE(shown.first().buttons, QStringList {QStringLiteral("Ok")});
    QVERIFY(shown.first().modal);
    QVERIFY2(toolTip.startsWith(QStringLiteral("Not beamed ") + destination), qPrintable(toolTip));
    QVERIFY2(toolTip.endsWith(QStringLiteral(": ") + failure + QLatin1Char('.')), qPrintable(toolTip));
}

void TestBeam::cancelledChoiceChangesNothing()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), true));
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    ZRKServer window;
    const QStringList filesBefore = filesBelow(store.root());

    QList<QStringList> listed;
    const QList<ShownMessage> shown = issue(window, QString(), &listed);

    QCOMPARE(listed, QList<QStringList> {{QStringLiteral("Visitor\n") + phone}});
    QVERIFY(shown.isEmpty());
    QCOMPARE(filesBelow(store.root()), filesBefore);
    QCOMPARE(textsOf(window.sendList), QStringList {photo});
    QCOMPARE(window.givenList->count(), 0);
    QVERIFY(m_bluetooth->obexCalls().isEmpty());
    QVERIFY(infrared.beams().isEmpty());
    QVERIFY(!m_bluetooth->isDiscovering());
}

void TestBeam::deviceChoice()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    QVERIFY(m_bluetooth->addAdapter());
    const QString far = QStringLiteral("AA:BB:CC:00:00:01");
    const QString near = QStringLiteral("AA:BB:CC:00:00:02");
    const QString away = QStringLiteral("AA:BB:CC:00:00:03");
    const QString found = QStringLiteral("AA:BB:CC:00:00:04");
    QVERIFY(m_bluetooth->addDevice(far, QStringLiteral("Far"), true, -85));
    QVERIFY(m_bluetooth->addDeviceOutOfRange(away, QStringLiteral("Away")));
    QVERIFY(m_bluetooth->addDevice(near, QStringLiteral("Near"), false, -50));
    store.writePhoto(QStringLiteral("a.jpg"));
    store.writePhoto(QStringLiteral("b.jpg"));
    ZRKServer window;
    const auto row = [](const QString &name, const QString &address) -> QString {
        return name + QLatin1Char('\n') + address;
    };

    // Nothing is chosen for the operator. While the choice is open, a phone comes into range and another one moves
    // closer: both take their places by distance.
    QStringList firstSight;
    bool okAtFirstSight = true;
    bool selectedAtFirstSight = true;
    bool discoveringWhileOpen = false;
    QStringList reordered;
    const QStringList moved {row(QStringLiteral("Far"), far), row(QStringLiteral("Near"), near),
        row(QStringLiteral("Found"), found), row(QStringLiteral("Away"), away)};
    handlingDeviceChoice(
        [&] {
            window.sendList->setCurrentRow(0);
            window.sendNewKeyButton->click();
        },
        [&](DeviceChoice *choice) {
            auto *devices = choice->findChild<QListWidget *>(QStringLiteral("devices"));
            QPushButton *ok = choice->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
            if (firstSight.isEmpty()) {
                firstSight = textsOf(devices);
                okAtFirstSight = ok->isEnabled();
                selectedAtFirstSight = !devices->selectedItems().isEmpty();
                discoveringWhileOpen = m_bluetooth->isDiscovering();
                QVERIFY(m_bluetooth->addDevice(found, QStringLiteral("Found"), false, -60));
                QVERIFY(m_bluetooth->setRssi(far, -40));
                return;
            }
            if (textsOf(devices) != moved)
                return;
            reordered = textsOf(devices);
            devices->setCurrentRow(2);
            ok->click();
        });
    QVERIFY(beamsEnded(window));

    QCOMPARE(firstSight,
        (QStringList {
            row(QStringLiteral("Near"), near), row(QStringLiteral("Far"), far), row(QStringLiteral("Away"), away)}));
    QVERIFY(!okAtFirstSight);
    QVERIFY(!selectedAtFirstSight);
    QVERIFY(discoveringWhileOpen);
    QCOMPARE(reordered, moved);
    QVERIFY(!m_bluetooth->isDiscovering());

    // A device that got a key says which and when; a double tap picks a device and beams.
    QStringList secondSight;
    handlingDeviceChoice(
        [&] {
            window.sendList->setCurrentRow(0);
            window.sendNewKeyButton->click();
        },
        [&](DeviceChoice *choice) {
            auto *devices = choice->findChild<QListWidget *>(QStringLiteral("devices"));
            secondSight = textsOf(devices);
            const QRect nearRow = devices->visualItemRect(devices->item(1));
            QTest::mouseClick(devices->viewport(), Qt::LeftButton, {}, nearRow.center());
            QTest::mouseDClick(devices->viewport(), Qt::LeftButton, {}, nearRow.center());
        });
    QVERIFY(beamsEnded(window));

    const QString got = QStringLiteral("\ngot %1 at ").arg(keyNameAt(window.givenList, 0));
    QCOMPARE(secondSight.size(), 4);
    QVERIFY2(secondSight.at(2).startsWith(row(QStringLiteral("Found"), found) + got), qPrintable(secondSight.at(2)));
    QVERIFY(QRegularExpression(QStringLiteral("at \\d\\d:\\d\\d$")).match(secondSight.at(2)).hasMatch());
    const QStringList calls = m_bluetooth->obexCalls().filter(QStringLiteral("CreateSession"));
    QCOMPARE(
        calls, (QStringList {QStringLiteral("CreateSession\t") + found, QStringLiteral("CreateSession\t") + near}));
}

void TestBeam::threeKeysInOrder()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), true));
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        store.writePhoto(QString::fromLatin1(name));
    ZRKServer window;

    // Issued quickly, one after the other: the window does not wait for the beams.
    bool ended = false;
    const QList<ShownMessage> shown = messagesDuring([&] {
        devicesChosenDuring(phone, [&] {
            for (int key = 0; key < 3; ++key) {
                window.sendList->setCurrentRow(0);
                window.sendNewKeyButton->click();
            }
            QCOMPARE(window.findChildren<Ir *>().size(), 3);
            QCOMPARE(window.givenList->item(2)->toolTip(),
                QStringLiteral("Waiting to be beamed to Visitor (%1).").arg(phone));
        });
        ended = beamsEnded(window);
    });

    QVERIFY(ended);
    QVERIFY(shown.isEmpty());
    QStringList expected;
    for (int row = 0; row < 3; ++row) {
        // One transfer at a time, in the order issued: each session ends before the next begins.
        expected << QStringLiteral("CreateSession\t") + phone
                 << QStringLiteral("SendFile\t%1/%2\tthere").arg(store.sentKeys(), keyNameAt(window.givenList, row))
                 << QStringLiteral("RemoveSession");
        QVERIFY(window.givenList->item(row)->toolTip().startsWith(QStringLiteral("Beamed to Visitor")));
    }
    QTRY_COMPARE(withoutPaths(m_bluetooth->obexCalls()), expected);
}

void TestBeam::withoutBluetooth_data()
{
    QTest::addColumn<bool>("adapter");
    QTest::addColumn<bool>("obexftp");
    QTest::addColumn<bool>("kernelIrda");
    QTest::addColumn<bool>("beamed");

    QTest::newRow("no adapter, no infrared") << false << false << true << false;
    QTest::newRow("adapter off, no infrared") << true << false << true << false;
    QTest::newRow("adapter off, infrared") << true << true << true << true;
    QTest::newRow("obexftp on a kernel without IrDA") << false << true << false << false;
}

void TestBeam::withoutBluetooth()
{
    QFETCH(bool, adapter);
    QFETCH(bool, obexftp);
    QFETCH(bool, kernelIrda);
    QFETCH(bool, beamed);

    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setAvailable(obexftp);
    infrared.setKernelHasIrda(kernelIrda);
    if (adapter) {
        QVERIFY(m_bluetooth->addAdapter(false));
        QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), true));
    }
    store.writePhoto(QStringLiteral("photo.jpg"));
    ZRKServer window;

    QList<QStringList> listed;
    QVERIFY(issue(window, QString(), &listed).isEmpty());

    QVERIFY(listed.isEmpty());
    const QString keyName = keyNameAt(window.givenList, 0);
    const QString place = beamed ? QStringLiteral(".sentKeys/") + keyName : keyName;
    QCOMPARE(filesBelow(store.documents()), QStringList {place});
    QCOMPARE(infrared.beams().size(), beamed ? 1 : 0);
    QVERIFY(m_bluetooth->obexCalls().isEmpty());
}

void TestBeam::infrared_data()
{
    QTest::addColumn<FakeInfrared::Behaviour>("behaviour");
    QTest::addColumn<QString>("failure");

    QTest::newRow("obexftp exits 0") << FakeInfrared::Succeeds << QString();
    QTest::newRow("obexftp exits 1") << FakeInfrared::Fails << QStringLiteral("obexftp ended with status 1");
    QTest::newRow("obexftp crashes") << FakeInfrared::Crashes << QStringLiteral("obexftp crashed");
    QTest::newRow("obexftp cannot start") << FakeInfrared::CannotStart << QStringLiteral("obexftp cannot start: ");
    QTest::newRow("obexftp hangs") << FakeInfrared::Hangs << QStringLiteral("no progress for 5 s");
}

void TestBeam::infrared()
{
    QFETCH(FakeInfrared::Behaviour, behaviour);
    QFETCH(QString, failure);

    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setBehaviour(behaviour);
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    const QByteArray photoBytes = readAll(photo);
    ZRKServer window;

    const QList<ShownMessage> shown = issue(window, QString());

    const QString keyName = keyNameAt(window.givenList, 0);
    QCOMPARE(readAll(store.sentKeys() + QLatin1Char('/') + keyName), photoBytes);
    QCOMPARE(infrared.beams().size(), behaviour == FakeInfrared::CannotStart ? 0 : 1);
    const QString toolTip = window.givenList->item(0)->toolTip();
    if (failure.isEmpty()) {
        QVERIFY(shown.isEmpty());
        QVERIFY2(toolTip.startsWith(QStringLiteral("Beamed over infrared at ")), qPrintable(toolTip));
        return;
    }
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::cannotBeam(keyName));
    QVERIFY2(shown.first().informativeText.startsWith(failure), qPrintable(shown.first().informativeText));
    QVERIFY2(toolTip.startsWith(QStringLiteral("Not beamed over infrared at ")), qPrintable(toolTip));
}

void TestBeam::closeWithBeamsPending_data()
{
    QTest::addColumn<int>("keys");
    QTest::addColumn<QString>("answer");

    QTest::newRow("three keys, stay open") << 3 << QStringLiteral("No");
    QTest::newRow("three keys, close") << 3 << QStringLiteral("Yes");
    QTest::newRow("one key, close") << 1 << QStringLiteral("Yes");
}

void TestBeam::closeWithBeamsPending()
{
    QFETCH(int, keys);
    QFETCH(QString, answer);

    // The first beam hangs and the others wait behind it for as long as the test needs.
    BeamTransfer::setStallLimitForTesting(600000);
    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setBehaviour(FakeInfrared::Hangs);
    for (int key = 0; key < keys; ++key)
        store.writePhoto(QStringLiteral("photo%1.jpg").arg(key));
    ZRKServer window;
    window.show();
    for (int key = 0; key < keys; ++key) {
        window.sendList->setCurrentRow(0);
        window.sendNewKeyButton->click();
    }
    QTRY_COMPARE(infrared.beams().size(), 1);

    const QList<ShownMessage> shown = messagesDuring([&] { window.close(); }, answer);

    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::stillBeaming(keys));
    QCOMPARE(shown.first().caption, QStringLiteral("Message"));
    QCOMPARE(shown.first().buttons, (QStringList {QStringLiteral("Yes"), QStringLiteral("No")}));
    QCOMPARE(shown.first().parent, &window);
    const bool closed = answer == QLatin1String("Yes");
    QCOMPARE(window.isVisible(), !closed);
    QCOMPARE(window.findChildren<Ir *>().size(), closed ? 0 : keys);
    // The keys stay issued either way, and no beam that was ended starts afterwards.
    QCOMPARE(filesBelow(store.sentKeys()).size(), keys);
    QCOMPARE(window.givenList->count(), keys);
    QTest::qWait(50);
    QCOMPARE(infrared.beams().size(), 1);
}

QTEST_MAIN(TestBeam)
#include "tst_beam.moc"

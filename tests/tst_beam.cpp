// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "beamtransfer.h"
#include "devicechoice.h"
#include "ir.h"
#include "keystore.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
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
    void sideBySide();
    void failureNoticeAndBeamAgain();
    void beamAgainButton_data();
    void beamAgainButton();
    void withdrawEndsTheBeam();
    void bluetoothOff_data();
    void bluetoothOff();
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
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QStringList>("obexCalls");

    const QString sent = QStringLiteral("SendFile\t%1\tthere");
    const auto sessionOnly = [](const QString &address) {
        return QStringList {QStringLiteral("CreateSession\t") + address};
    };
    const auto transfer = [&sent](const QString &address) {
        return QStringList {QStringLiteral("CreateSession\t") + address, sent, QStringLiteral("RemoveSession")};
    };
    const QString noAnswer = QStringLiteral("Visitor did not answer: is its Bluetooth on and visible?");
    QTest::newRow("transfer completes") << phone << QString() << QString() << transfer(phone);
    // Its status changes reach the bus before the answer that names the transfer.
    QTest::newRow("transfer complete before SendFile answers")
        << fastPhone << QString() << QString() << transfer(fastPhone);
    QTest::newRow("transfer errors") << failingPhone << QStringLiteral("Visitor did not take the key.")
                                     << QStringLiteral("Transfer status: error") << transfer(failingPhone);
    QTest::newRow("session fails without a message")
        << QStringLiteral("00:11:22:33:44:E0") << noAnswer << QStringLiteral("org.bluez.obex.Error.Failed")
        << sessionOnly(QStringLiteral("00:11:22:33:44:E0"));
    QTest::newRow("host is down") << QStringLiteral("00:11:22:33:44:E1") << noAnswer
                                  << QStringLiteral("org.bluez.obex.Error.Failed: Host is down")
                                  << sessionOnly(QStringLiteral("00:11:22:33:44:E1"));
    QTest::newRow("connection refused")
        << QStringLiteral("00:11:22:33:44:E2")
        << QStringLiteral("Visitor answered but takes no files over Bluetooth now: ask the visitor to allow receiving "
                          "files, then beam again.")
        << QStringLiteral("org.bluez.obex.Error.Failed: Connection refused")
        << sessionOnly(QStringLiteral("00:11:22:33:44:E2"));
    QTest::newRow("connection timed out") << QStringLiteral("00:11:22:33:44:E3") << noAnswer
                                          << QStringLiteral("org.bluez.obex.Error.Failed: Connection timed out")
                                          << sessionOnly(QStringLiteral("00:11:22:33:44:E3"));
    QTest::newRow("operation canceled")
        << QStringLiteral("00:11:22:33:44:E4")
        << QStringLiteral("The connection to Visitor was cancelled: beam again, and accept on the phone if it asks.")
        << QStringLiteral("org.bluez.obex.Error.Failed: Operation canceled")
        << sessionOnly(QStringLiteral("00:11:22:33:44:E4"));
    QTest::newRow("no progress") << silentPhone << QStringLiteral("Nothing arrived at Visitor for 5 seconds.")
                                 << QString()
                                 << QStringList {QStringLiteral("CreateSession\t") + silentPhone, sent,
                                        QStringLiteral("Cancel"), QStringLiteral("RemoveSession")};
}

void TestBeam::bluetoothBeam()
{
    QFETCH(QString, address);
    QFETCH(QString, reason);
    QFETCH(QString, detail);
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

    // Whatever the outcome, the key stays issued, and no box waits for the operator.
    QVERIFY(shown.isEmpty());
    QCOMPARE(window.givenList->count(), 1);
    const QString keyName = keyNameAt(window.givenList, 0);
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + keyName;
    QCOMPARE(filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/") + keyName});
    QCOMPARE(readAll(sentPath), photoBytes);
    obexCalls.replaceInStrings(QStringLiteral("%1"), sentPath);
    QTRY_COMPARE(withoutPaths(m_bluetooth->obexCalls()), obexCalls);
    const QString toolTip = window.givenList->item(0)->toolTip();
    const QString destination = QStringLiteral("to Visitor (%1)").arg(address);
    if (reason.isEmpty()) {
        QCOMPARE(noticesOf(window), QStringList());
        QVERIFY2(toolTip.startsWith(QStringLiteral("Beamed %1 at ").arg(destination)), qPrintable(toolTip));
        return;
    }
    QCOMPARE(
        noticesOf(window), QStringList {QStringLiteral("Can't beam %1 %2.\n%3").arg(keyName, destination, reason)});
    QVERIFY2(toolTip.startsWith(QStringLiteral("Not beamed %1 at ").arg(destination)), qPrintable(toolTip));
    const QString expectedEnd =
        detail.isEmpty() ? QStringLiteral(": ") + reason : QStringLiteral(": %1\n%2").arg(reason, detail);
    QVERIFY2(toolTip.endsWith(expectedEnd), qPrintable(toolTip));
}

void TestBeam::sideBySide()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(silentPhone, QStringLiteral("Silent"), false));
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), false));
    store.writePhoto(QStringLiteral("a.jpg"));
    store.writePhoto(QStringLiteral("b.jpg"));
    store.writePhoto(QStringLiteral("c.jpg"));
    ZRKServer window;

    // The silent phone's owner never accepts; the next visitor's key does not wait for it.
    for (const QString &address : {silentPhone, silentPhone, phone}) {
        devicesChosenDuring(address, [&] {
            window.sendList->setCurrentRow(0);
            window.sendNewKeyButton->click();
        });
    }
    const QString visitorKey = store.sentKeys() + QLatin1Char('/') + keyNameAt(window.givenList, 2);
    QTRY_VERIFY(window.givenList->item(2)->toolTip().startsWith(QStringLiteral("Beamed to Visitor")));
    QCOMPARE(window.findChildren<Ir *>().size(), 2);
    QCOMPARE(window.givenList->item(0)->toolTip(), QStringLiteral("Beaming to Silent (%1): 0%.").arg(silentPhone));
    QCOMPARE(
        window.givenList->item(1)->toolTip(), QStringLiteral("Waiting to be beamed to Silent (%1).").arg(silentPhone));
    // Beams to one phone still go one after another: the second key for the silent phone has not started. The
    // visitor's session is removed a moment after the beam has ended.
    QTRY_COMPARE(withoutPaths(m_bluetooth->obexCalls()),
        (QStringList {QStringLiteral("CreateSession\t") + silentPhone,
            QStringLiteral("SendFile\t%1/%2\tthere").arg(store.sentKeys(), keyNameAt(window.givenList, 0)),
            QStringLiteral("CreateSession\t") + phone, QStringLiteral("SendFile\t%1\tthere").arg(visitorKey),
            QStringLiteral("RemoveSession")}));
    QVERIFY(noticesOf(window).isEmpty());
}

void TestBeam::failureNoticeAndBeamAgain()
{
    KeyStoreFixture store;
    FakeInfrared infrared;
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(refusingPhone, QStringLiteral("Gone"), false));
    QVERIFY(m_bluetooth->addDevice(failingPhone, QStringLiteral("Declining"), false));
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), false));
    store.writePhoto(QStringLiteral("a.jpg"));
    store.writePhoto(QStringLiteral("b.jpg"));
    store.writePhoto(QStringLiteral("c.jpg"));
    ZRKServer window;
    window.show();

    // The first failure comes while the device choice for the next visitor is open: it neither covers the choice nor
    // takes its focus, and there is no box.
    bool choiceKeptFocus = false;
    QList<ShownMessage> shown = messagesDuring([&] {
        devicesChosenDuring(refusingPhone, [&] {
            window.sendList->setCurrentRow(0);
            window.sendNewKeyButton->click();
        });
        handlingDeviceChoice(
            [&] {
                window.sendList->setCurrentRow(0);
                window.sendNewKeyButton->click();
            },
            [&](DeviceChoice *choice) {
                if (noticesOf(window).isEmpty())
                    return;
                choiceKeptFocus =
                    QApplication::activeModalWidget() == choice && choice->isAncestorOf(QApplication::focusWidget());
                auto *devices = choice->findChild<QListWidget *>(QStringLiteral("devices"));
                for (int row = 0; row < devices->count(); ++row) {
                    if (devices->item(row)->data(Qt::UserRole).toString() == failingPhone)
                        devices->setCurrentRow(row);
                }
                choice->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            });
        QVERIFY(beamsEnded(window));
    });
    QVERIFY(shown.isEmpty());
    QVERIFY(choiceKeptFocus);
    // Failures stack, newest first.
    const QString first = keyNameAt(window.givenList, 0);
    const QString second = keyNameAt(window.givenList, 1);
    const QStringList notices = noticesOf(window);
    QCOMPARE(notices.size(), 2);
    QVERIFY2(
        notices.at(0).startsWith(QStringLiteral("Can't beam %1 to Declining").arg(second)), qPrintable(notices.at(0)));
    QVERIFY2(notices.at(1).startsWith(QStringLiteral("Can't beam %1 to Gone").arg(first)), qPrintable(notices.at(1)));

    // The notice's "Beam Again" sends the same key, from where it is, to the device chosen now.
    m_bluetooth->reset();
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), false));
    // The older notice, below the newer one.
    auto *noticeArea = window.findChild<QWidget *>(QStringLiteral("beamNotices"));
    auto *again =
        noticeArea->layout()->itemAt(1)->widget()->findChild<QPushButton *>(QStringLiteral("noticeBeamAgain"));
    shown = messagesDuring([&] {
        devicesChosenDuring(phone, [&] { again->click(); });
        QVERIFY(beamsEnded(window));
    });
    QVERIFY(shown.isEmpty());
    const QString sentPath = store.sentKeys() + QLatin1Char('/') + first;
    QTRY_COMPARE(withoutPaths(m_bluetooth->obexCalls()),
        (QStringList {QStringLiteral("CreateSession\t") + phone, QStringLiteral("SendFile\t%1\tthere").arg(sentPath),
            QStringLiteral("RemoveSession")}));
    QCOMPARE(window.givenList->count(), 2);
    QCOMPARE(window.givenList->item(0)->text(), sentPath);
    QVERIFY(window.givenList->item(0)->toolTip().startsWith(QStringLiteral("Beamed to Visitor")));
    QCOMPARE(noticesOf(window).size(), 1);

    // "Dismiss" takes a notice away.
    window.findChild<QPushButton *>(QStringLiteral("noticeDismiss"))->click();
    QTRY_COMPARE(noticesOf(window), QStringList());
}

void TestBeam::beamAgainButton_data()
{
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<QString>("message");

    QTest::newRow("beamed again") << true << true << QString();
    QTest::newRow("nothing selected") << false << true << Message::selectItem;
    QTest::newRow("key file gone") << true << false << Message::photoGone;
}

void TestBeam::beamAgainButton()
{
    QFETCH(bool, selected);
    QFETCH(bool, fileThere);
    QFETCH(QString, message);

    KeyStoreFixture store;
    FakeInfrared infrared;
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), false));
    const QString key = store.writePhoto(QStringLiteral(".sentKeys/zrk_7.key.jpg"));
    ZRKServer window;
    if (selected)
        window.givenList->setCurrentRow(0);
    if (!fileThere)
        QVERIFY(QFile::remove(key));

    const QList<ShownMessage> shown = messagesDuring([&] {
        devicesChosenDuring(phone, [&] { window.beamAgainButton->click(); });
        QVERIFY(beamsEnded(window));
    });

    QCOMPARE(textsOf(window.givenList), QStringList {key});
    if (!message.isEmpty()) {
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().text, message);
        QVERIFY(m_bluetooth->obexCalls().isEmpty());
        return;
    }
    QVERIFY(shown.isEmpty());
    QCOMPARE(window.beamAgainButton->text(), QStringLiteral("Beam &Again"));
    QTRY_COMPARE(withoutPaths(m_bluetooth->obexCalls()),
        (QStringList {QStringLiteral("CreateSession\t") + phone, QStringLiteral("SendFile\t%1\tthere").arg(key),
            QStringLiteral("RemoveSession")}));
    QCOMPARE(filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/zrk_7.key.jpg")});
}

void TestBeam::withdrawEndsTheBeam()
{
    BeamTransfer::setStallLimitForTesting(600000);
    KeyStoreFixture store;
    FakeInfrared infrared;
    QVERIFY(m_bluetooth->addAdapter());
    QVERIFY(m_bluetooth->addDevice(silentPhone, QStringLiteral("Silent"), false));
    store.writePhoto(QStringLiteral("a.jpg"));
    store.writePhoto(QStringLiteral("b.jpg"));
    ZRKServer window;
    for (int key = 0; key < 2; ++key) {
        devicesChosenDuring(silentPhone, [&] {
            window.sendList->setCurrentRow(0);
            window.sendNewKeyButton->click();
        });
    }
    const QString running = store.sentKeys() + QLatin1Char('/') + keyNameAt(window.givenList, 0);
    const QString waiting = store.sentKeys() + QLatin1Char('/') + keyNameAt(window.givenList, 1);
    QTRY_COMPARE(m_bluetooth->obexCalls().filter(QStringLiteral("SendFile")).size(), 1);

    const QList<ShownMessage> shown = messagesDuring([&] {
        // The waiting one first: it is dropped, and never reaches the phone.
        window.givenList->setCurrentRow(1);
        window.removeGivenKeyButton->click();
        QCOMPARE(window.findChildren<Ir *>().size(), 1);
        // The running one: its transfer is cancelled.
        window.givenList->setCurrentRow(0);
        window.removeGivenKeyButton->click();
        QCOMPARE(window.findChildren<Ir *>().size(), 0);
        QTest::qWait(200);
    });

    QVERIFY(shown.isEmpty());
    QVERIFY(noticesOf(window).isEmpty());
    QCOMPARE(window.givenList->count(), 0);
    // SendFile's answer may still be on its way: then the session goes first, and the transfer it brings after.
    const auto sorted = [](QStringList calls) {
        calls.sort();
        return calls;
    };
    QTRY_COMPARE(sorted(withoutPaths(m_bluetooth->obexCalls())),
        sorted({QStringLiteral("CreateSession\t") + silentPhone, QStringLiteral("SendFile\t%1\tthere").arg(running),
            QStringLiteral("Cancel"), QStringLiteral("RemoveSession")}));
    QVERIFY(!m_bluetooth->obexCalls().join(QLatin1Char('\n')).contains(waiting));
}

void TestBeam::bluetoothOff_data()
{
    QTest::addColumn<QString>("answer");

    QTest::newRow("turn Bluetooth on") << QStringLiteral("Turn Bluetooth On");
    QTest::newRow("cancel") << QStringLiteral("Cancel");
}

void TestBeam::bluetoothOff()
{
    QFETCH(QString, answer);

    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setAvailable(false);
    QVERIFY(m_bluetooth->addAdapter(false));
    QVERIFY(m_bluetooth->addDevice(phone, QStringLiteral("Visitor"), false));
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    ZRKServer window;
    const QStringList filesBefore = filesBelow(store.root());

    QList<QStringList> listed;
    const QList<ShownMessage> shown = messagesDuring(
        [&] {
            listed = devicesChosenDuring(phone, [&] {
                window.sendList->setCurrentRow(0);
                window.sendNewKeyButton->click();
            });
            QVERIFY(beamsEnded(window));
        },
        answer);

    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, QStringLiteral("Bluetooth is off."));
    QCOMPARE(shown.first().buttons, (QStringList {QStringLiteral("Turn Bluetooth On"), QStringLiteral("Cancel")}));
    QCOMPARE(shown.first().parent, &window);
    if (answer == QLatin1String("Cancel")) {
        QVERIFY(listed.isEmpty());
        QCOMPARE(filesBelow(store.root()), filesBefore);
        QCOMPARE(textsOf(window.sendList), QStringList {photo});
        QCOMPARE(window.givenList->count(), 0);
        QVERIFY(m_bluetooth->obexCalls().isEmpty());
        return;
    }
    QCOMPARE(listed.size(), 1);
    QCOMPARE(window.givenList->count(), 1);
    QVERIFY(window.givenList->item(0)->toolTip().startsWith(QStringLiteral("Beamed to Visitor")));
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
                selectedAtFirstSight = !devices->selectedItems().isEmpty() || devices->currentItem();
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
    QTest::addColumn<bool>("obexftp");
    QTest::addColumn<bool>("kernelIrda");
    QTest::addColumn<bool>("beamed");

    QTest::newRow("no adapter, no infrared") << false << true << false;
    QTest::newRow("obexftp on a kernel without IrDA") << true << false << false;
    QTest::newRow("no adapter, infrared") << true << true << true;
}

void TestBeam::withoutBluetooth()
{
    QFETCH(bool, obexftp);
    QFETCH(bool, kernelIrda);
    QFETCH(bool, beamed);

    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setAvailable(obexftp);
    infrared.setKernelHasIrda(kernelIrda);
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    ZRKServer window;
    const QStringList filesBefore = filesBelow(store.root());

    QList<QStringList> listed;
    const QList<ShownMessage> shown = issue(window, QString(), &listed);

    QVERIFY(listed.isEmpty());
    QVERIFY(m_bluetooth->obexCalls().isEmpty());
    if (beamed) {
        QVERIFY(shown.isEmpty());
        QCOMPARE(
            filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/") + keyNameAt(window.givenList, 0)});
        QCOMPARE(infrared.beams().size(), 1);
        return;
    }
    // Issued, the key would go nowhere: nothing changes, and the operator is told why.
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().text, Message::noLink);
    QCOMPARE(shown.first().caption, QStringLiteral("Message"));
    QCOMPARE(shown.first().icon, QMessageBox::Critical);
    QCOMPARE(shown.first().buttons, QStringList {QStringLiteral("Ok")});
    QCOMPARE(filesBelow(store.root()), filesBefore);
    QCOMPARE(textsOf(window.sendList), QStringList {photo});
    QCOMPARE(window.givenList->count(), 0);
    QVERIFY(infrared.beams().isEmpty());
}

void TestBeam::infrared_data()
{
    QTest::addColumn<FakeInfrared::Behaviour>("behaviour");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("detail");

    const QString nothingTook = QStringLiteral("No device took the key over infrared: hold the phone's infrared port "
                                               "facing this one, then beam again.");
    QTest::newRow("obexftp exits 0") << FakeInfrared::Succeeds << QString() << QString();
    QTest::newRow("obexftp exits 1") << FakeInfrared::Fails << nothingTook
                                     << QStringLiteral("obexftp ended with status 1");
    QTest::newRow("obexftp crashes") << FakeInfrared::Crashes << nothingTook << QStringLiteral("obexftp crashed");
    QTest::newRow("obexftp cannot start")
        << FakeInfrared::CannotStart
        << QStringLiteral("Infrared beaming does not work on this device: reinstall obexftp.")
        << QStringLiteral("obexftp cannot start: ");
    QTest::newRow("obexftp hangs") << FakeInfrared::Hangs
                                   << QStringLiteral(
                                          "Nothing arrived at the device at the infrared port for 5 seconds.")
                                   << QString();
}

void TestBeam::infrared()
{
    QFETCH(FakeInfrared::Behaviour, behaviour);
    QFETCH(QString, reason);
    QFETCH(QString, detail);

    KeyStoreFixture store;
    FakeInfrared infrared;
    infrared.setBehaviour(behaviour);
    const QString photo = store.writePhoto(QStringLiteral("photo.jpg"));
    const QByteArray photoBytes = readAll(photo);
    ZRKServer window;

    const QList<ShownMessage> shown = issue(window, QString());

    QVERIFY(shown.isEmpty());
    const QString keyName = keyNameAt(window.givenList, 0);
    QCOMPARE(readAll(store.sentKeys() + QLatin1Char('/') + keyName), photoBytes);
    QCOMPARE(infrared.beams().size(), behaviour == FakeInfrared::CannotStart ? 0 : 1);
    const QString toolTip = window.givenList->item(0)->toolTip();
    if (reason.isEmpty()) {
        QVERIFY(noticesOf(window).isEmpty());
        QVERIFY2(toolTip.startsWith(QStringLiteral("Beamed over infrared at ")), qPrintable(toolTip));
        return;
    }
    QCOMPARE(noticesOf(window), QStringList {QStringLiteral("Can't beam %1 over infrared.\n%2").arg(keyName, reason)});
    QVERIFY2(toolTip.startsWith(QStringLiteral("Not beamed over infrared at ")), qPrintable(toolTip));
    QVERIFY2(detail.isEmpty() || toolTip.contains(QLatin1Char('\n') + detail), qPrintable(toolTip));
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

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Draws the pictures of the README: the window over a demo key store, one PNG per tab, and, over stand-in Bluetooth
// devices, the choice of the device that gets a key, a failed beam's notice and the question when Bluetooth is off.
// With --phone, on a phone's screen (a small one, which the caller gives the platform): the window fills the
// screen, and the pictures' names begin with "phone-".
#include "demokeystore.h"
#include "devicechoice.h"
#include "ir.h"
#include "keybeams.h"
#include "keystore.h"
#include "qpeapplication.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// The demo store lies in a temporary folder; the entries show the paths the operator sees on the device.
void showDevicePaths(QListWidget *list, const QString &demoFolder)
{
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        if (item->text().startsWith(demoFolder))
            item->setText(QStringLiteral("/home/root/Documents") + item->text().mid(demoFolder.size()));
    }
}

bool save(QWidget &widget, const QString &path)
{
    QApplication::processEvents();
    const bool saved = widget.grab().save(path);
    if (!saved)
        qCritical("cannot write %s", qPrintable(path));
    return saved;
}

bool saveTab(ZRKServer &window, int index, const QString &path)
{
    window.tabWidget->setCurrentIndex(index);
    return save(window, path);
}

const QString annasPhone = QStringLiteral("5C:F3:70:8A:21:04");
// Its owner has Bluetooth off: BlueZ's "Host is down".
const QString goneAway = QStringLiteral("F0:99:B6:42:D3:E1");

// Phones in range at different distances and one known phone out of range, on a stand-in BlueZ.
bool addDemoDevices(StandInBluetooth &bluetooth)
{
    return bluetooth.error().isEmpty() && bluetooth.addAdapter()
        && bluetooth.addDevice(annasPhone, QStringLiteral("Anna's phone"), true, -48)
        && bluetooth.addDevice(QStringLiteral("A4:C1:38:0B:7E:19"), QStringLiteral("Stand tablet"), true, -71)
        && bluetooth.addDevice(QStringLiteral("F0:99:B6:42:D3:6A"), QStringLiteral("Galaxy A54"), false, -60)
        && bluetooth.addDevice(goneAway, QStringLiteral("Visitor Phone"), false, -83)
        && bluetooth.addDeviceOutOfRange(QStringLiteral("00:1A:7D:DA:71:13"), QStringLiteral("Stranger Speaker"));
}

// Issues a key for the first photo to the device of that address and waits for its beam to end.
bool issueTo(ZRKServer &window, const QString &address)
{
    window.sendList->setCurrentRow(0);
    devicesChosenDuring(address, [&window] { window.sendNewKeyButton->click(); });
    return QTest::qWaitFor([&window] { return window.findChildren<Ir *>().isEmpty(); }, 30000);
}

// On a phone the choice keeps the size it takes when the window opens it.
bool saveDeviceChoice(ZRKServer &window, bool phone, const QString &path)
{
    DeviceChoice choice(window.findChild<KeyBeams *>()->deliveries(), &window);
    if (!phone)
        choice.resize(300, 260);
    choice.show();
    return save(choice, path);
}

// The question is grabbed while it is open, and then cancelled.
bool saveBluetoothOffQuestion(ZRKServer &window, StandInBluetooth &bluetooth, const QString &path)
{
    bool saved = false;
    if (!bluetooth.setPowered(false))
        return false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        saved = save(*box, path);
        box->reject();
    });
    poll.start(20);
    window.sendList->setCurrentRow(0);
    window.sendNewKeyButton->click();
    return saved && bluetooth.setPowered(true);
}

} // namespace

int main(int argc, char **argv)
{
    QPEApplication app(argc, argv, QPEApplication::GuiClient);
    const bool phone = argc == 3 && qstrcmp(argv[1], "--phone") == 0;
    if (argc != 2 && !phone) {
        qCritical("usage: zrk-screenshots [--phone] OUTPUT-FOLDER");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[argc - 1]));
    const QString prefix = phone ? QStringLiteral("phone-") : QString();
    QTemporaryDir demo;
    const QString documents = demo.path() + QStringLiteral("/Documents");
    if (!demo.isValid() || !DemoKeyStore::fill(documents) || !output.mkpath(QStringLiteral("."))) {
        qCritical("cannot write the demo key store or the output folder");
        return 1;
    }
    KeyStore::setDocumentFolderForTesting(documents);

    // Before the window: Qt keeps its first connection to each bus.
    StandInBluetooth bluetooth;
    ZRKServer window;
    if (phone)
        window.setGeometry(window.screen()->availableGeometry());
    else
        window.resize(460, 400);
    for (QListWidget *list : {window.sendList, window.checkList, window.givenList}) {
        // An empty list means the window no longer reads the store: such a picture must not reach the README.
        if (list->count() == 0) {
            qCritical("the demo key store left %s empty", qPrintable(list->objectName()));
            return 1;
        }
        showDevicePaths(list, documents);
        list->setCurrentRow(0);
    }
    window.show();
    bool saved = saveTab(window, 0, output.filePath(prefix + QStringLiteral("send-tab.png")))
        && saveTab(window, 1, output.filePath(prefix + QStringLiteral("check-tab.png")))
        && saveTab(window, 2, output.filePath(prefix + QStringLiteral("given-keys-tab.png")));
    // Then a key that arrives and one that does not: the device choice shows what Anna's phone got, and the window
    // tells the failure above the tabs.
    window.tabWidget->setCurrentIndex(0);
    window.refreshNewPhotosButton->click();
    saved = saved && addDemoDevices(bluetooth) && issueTo(window, annasPhone) && issueTo(window, goneAway)
        && saveDeviceChoice(window, phone, output.filePath(prefix + QStringLiteral("device-choice.png")));
    showDevicePaths(window.givenList, documents);
    window.tabWidget->setCurrentIndex(2);
    saved = saved && save(window, output.filePath(prefix + QStringLiteral("beam-notice.png")))
        && saveBluetoothOffQuestion(window, bluetooth, output.filePath(prefix + QStringLiteral("bluetooth-off.png")));
    if (!saved)
        qCritical("the stand-in Bluetooth did not take the demo devices, or a beam did not end");
    return saved ? 0 : 1;
}

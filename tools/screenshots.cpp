// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Draws the pictures of the README: the window over a demo key store, one PNG per tab, and the choice of the
// device that gets a key, over stand-in Bluetooth devices. With --phone, on a phone's screen (a small one, which the
// caller gives the platform): the window fills the screen, and the pictures' names begin with "phone-".
#include "demokeystore.h"
#include "devicechoice.h"
#include "keystore.h"
#include "qpeapplication.h"
#include "testsupport.h"
#include "zrkserver.h"

#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>

namespace {

// The demo store lies in a temporary folder; the entries show the paths the operator sees on the device.
void showDevicePaths(QListWidget *list, const QString &demoFolder)
{
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
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

// Two paired phones and one that has just become visible, on a stand-in BlueZ. On a phone the choice keeps the size
// it takes when the window opens it.
bool saveDeviceChoice(ZRKServer &window, bool phone, const QString &path)
{
    StandInBluetooth bluetooth;
    if (!bluetooth.error().isEmpty() || !bluetooth.addAdapter()
        || !bluetooth.addDevice(QStringLiteral("5C:F3:70:8A:21:04"), QStringLiteral("Anna's phone"), true)
        || !bluetooth.addDevice(QStringLiteral("A4:C1:38:0B:7E:19"), QStringLiteral("Stand tablet"), true)
        || !bluetooth.addDevice(QStringLiteral("F0:99:B6:42:D3:6A"), QStringLiteral("Galaxy A54"), false)) {
        qCritical("the stand-in Bluetooth did not start: %s", qPrintable(bluetooth.error()));
        return false;
    }
    DeviceChoice choice(QString(), &window);
    if (!phone)
        choice.resize(300, 220);
    choice.show();
    return save(choice, path);
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

    ZRKServer window;
    if (phone)
        window.setGeometry(window.screen()->availableGeometry());
    else
        window.resize(460, 340);
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
    const bool saved = saveTab(window, 0, output.filePath(prefix + QStringLiteral("send-tab.png")))
        && saveTab(window, 1, output.filePath(prefix + QStringLiteral("check-tab.png")))
        && saveTab(window, 2, output.filePath(prefix + QStringLiteral("given-keys-tab.png")))
        && saveDeviceChoice(window, phone, output.filePath(prefix + QStringLiteral("device-choice.png")));
    return saved ? 0 : 1;
}

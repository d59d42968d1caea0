// Draws the pictures of the README: the window over a demo key store, one PNG per tab.
#include "demokeystore.h"
#include "keystore.h"
#include "zrkserver.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
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

bool saveTab(ZRKServer &window, int index, const QString &path)
{
    window.tabWidget->setCurrentIndex(index);
    QApplication::processEvents();
    const bool saved = window.grab().save(path);
    if (!saved)
        qCritical("cannot write %s", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        qCritical("usage: zrk-screenshots OUTPUT-FOLDER");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir demo;
    const QString documents = demo.path() + QStringLiteral("/Documents");
    if (!demo.isValid() || !DemoKeyStore::fill(documents) || !output.mkpath(QStringLiteral("."))) {
        qCritical("cannot write the demo key store or the output folder");
        return 1;
    }
    KeyStore::setDocumentFolderForTesting(documents);

    ZRKServer window;
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
    const bool saved = saveTab(window, 0, output.filePath(QStringLiteral("send-tab.png")))
        && saveTab(window, 1, output.filePath(QStringLiteral("check-tab.png")))
        && saveTab(window, 2, output.filePath(QStringLiteral("given-keys-tab.png")));
    return saved ? 0 : 1;
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "zrkserver.h"

#include "devicechoice.h"
#include "filemove.h"
#include "folderscan.h"
#include "ir.h"
#include "keylistcheck.h"
#include "keystore.h"
#include "moverecovery.h"
#include "regularfile.h"
#include "scanprogress.h"
#include "thumbnail.h"

#include <QCloseEvent>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentMap>

#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

// Shows the busy cursor for as long as it lives, whichever way the scope is left.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// The entry holds the remembered image itself, so that its pixels are held once, whatever the screen: a pixmap made
// from it would keep a converted copy wherever the screen's format differs from the image's.
void appendEntry(QListWidget *list, const QString &path, const QImage &thumbnail)
{
    auto *item = new QListWidgetItem(path, list);
    if (!thumbnail.isNull())
        item->setData(Qt::DecorationRole, thumbnail);
}

QString verdictMessage(const KeyListVerdict &verdict)
{
    switch (verdict.outcome) {
    case KeyListVerdict::Prize:
        return QStringLiteral("Give them a T-Shirt!");
    case KeyListVerdict::NoKeys:
        return QStringLiteral("No keys in list.");
    case KeyListVerdict::TooLong:
        return QStringLiteral("Key list too long.");
    case KeyListVerdict::InvalidKey:
        break;
    }
    return QStringLiteral("Invalid Key: %1.").arg(verdict.invalidLine);
}

} // namespace

ZRKServer::ZRKServer(QWidget *parent, const char *name)
    : ZRKServerBase(parent, name, Qt::Window)
    , m_thumbnails([this](const QString &path) { return Thumbnail::fromFileSharing(path, m_desktopThumbnails); })
{
    connect(refreshNewPhotosButton, &QPushButton::clicked, this, &ZRKServer::refreshNewPhotoList);
    connect(sendNewKeyButton, &QPushButton::clicked, this, &ZRKServer::sendNewKey);
    connect(refreshCheckButton, &QPushButton::clicked, this, &ZRKServer::refreshCheckList);
    connect(checkButton, &QPushButton::clicked, this, &ZRKServer::check);
    connect(removeGivenKeyButton, &QPushButton::clicked, this, &ZRKServer::removeGivenKey);
    for (QListWidget *list : {sendList, checkList, givenList})
        list->setIconSize(Thumbnail::size());

    // Key numbers come from rand(); seeded once per start from the time and the process id.
    const time_t now = time(nullptr);
    srand(static_cast<unsigned>(now + getpid()));

    // Only the sent-keys folder is ever created: a missing document folder means there is nothing to give away.
    QDir().mkdir(KeyStore::sentKeysFolder());
    // A move that a kill or a power cut interrupted is finished or undone before a list could show its photo twice.
    MoveRecovery::finishInterruptedMoves();

    refreshNewPhotoList();
    refreshCheckList();
    scanFolder(KeyStore::sentKeysFolder(), givenList, KeyStore::photoPattern());
}

void ZRKServer::scanFolder(QString folder, QListWidget *list, QString pattern)
{
    const BusyCursor busy;
    const QStringList paths = FolderScan::matchingFiles(folder, pattern);
    const QList<QImage> thumbnails = thumbnailsOf(paths);
    for (qsizetype i = 0; i < paths.size(); ++i)
        appendEntry(list, paths.at(i), thumbnails.at(i));
}

QList<QImage> ZRKServer::thumbnailsOf(const QStringList &paths)
{
    // Decoding dominates a refresh, so it runs on every core; pixmaps and widgets stay on this thread.
    QFutureWatcher<QImage> watcher;
    ScanProgress progress(this, int(paths.size()));
    QEventLoop untilDone;
    connect(&watcher, &QFutureWatcherBase::progressValueChanged, &progress, &ScanProgress::setFilesDone);
    connect(&watcher, &QFutureWatcherBase::finished, &untilDone, &QEventLoop::quit);
    watcher.setFuture(
        QtConcurrent::mapped(paths, [this](const QString &path) { return m_thumbnails.thumbnailOf(path); }));
    // The window repaints meanwhile, but the operator's clicks and keys wait: no button runs in the middle of a scan.
    if (!watcher.isFinished())
        untilDone.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the application quits; the scan still runs to its end, as its callers expect.
    return watcher.future().results();
}

void ZRKServer::refreshNewPhotoList()
{
    sendList->clear();
    scanFolder(KeyStore::documentFolder(), sendList, KeyStore::photoPattern());
}

void ZRKServer::sendNewKey()
{
    QListWidgetItem *photoItem = currentItemOf(sendList);
    if (!photoItem)
        return;
    const QString photoPath = photoItem->text();
    // Only a photo file is issued: a link that has taken its place would beam whatever it points to.
    if (!RegularFile::exists(photoPath)) {
        showMessage(QStringLiteral("file doesn't exists."));
        return;
    }
    std::optional<BluetoothDevice> receiver;
    if (!chooseReceiver(receiver))
        return;
    const QString keyPath = KeyStore::keyPath(photoPath, rand());
    // A move never replaces a file, so a taken key path costs no photo; nothing has changed yet when it fails.
    if (const FileMove::Result renamed = FileMove::move(photoPath, keyPath); !renamed.moved) {
        showMessage(QStringLiteral("Can't rename file."), renamed.reason);
        return;
    }
    const QString sentPath = KeyStore::sentPath(KeyStore::fileNameOf(keyPath));
    if (!Ir::supported()) {
        m_desktopThumbnails.moved(photoPath, keyPath);
        moveToGivenList(photoItem, sentPath);
        return;
    }
    // A key whose photo never reached the sent-keys folder was not issued: the photo goes back to its name, and its
    // entry stays on the Send list, showing where the photo is.
    if (const FileMove::Result sent = FileMove::move(keyPath, sentPath); !sent.moved) {
        photoItem->setText(FileMove::move(keyPath, photoPath).moved ? photoPath : keyPath);
        showMessage(QStringLiteral("Can't move file."), sent.reason);
        return;
    }
    m_desktopThumbnails.moved(photoPath, sentPath);
    moveToGivenList(photoItem, sentPath);
    beam(sentPath, receiver);
    qDebug().noquote() << keyPath;
}

void ZRKServer::refreshCheckList()
{
    checkList->clear();
    scanFolder(KeyStore::documentFolder(), checkList, KeyStore::keyListPattern());
}

void ZRKServer::check()
{
    const QListWidgetItem *listItem = currentItemOf(checkList);
    if (!listItem)
        return;
    QFile keyList;
    if (!RegularFile::openForReading(keyList, listItem->text())) {
        showMessage(QStringLiteral("Can't read file."));
        return;
    }
    const KeyListVerdict verdict =
        KeyListCheck(givenKeyPaths()).check(&keyList, [](const QString &line) { qDebug().noquote() << line; });
    keyList.close();
    showMessage(verdictMessage(verdict));
}

void ZRKServer::removeGivenKey()
{
    QListWidgetItem *keyItem = currentItemOf(givenList);
    if (!keyItem)
        return;
    const QString keyPath = keyItem->text();
    // A key whose photo cannot leave the sent-keys folder is still issued, so its entry stays. Where no photo file
    // is left at the entry's path, there is nothing to move and the key is withdrawn all the same.
    if (RegularFile::exists(keyPath)) {
        const QString returnPath = KeyStore::returnPath(keyPath);
        const FileMove::Result withdrawn = FileMove::move(keyPath, returnPath);
        if (!withdrawn.moved) {
            showMessage(QStringLiteral("Can't move file."), withdrawn.reason);
            return;
        }
        m_desktopThumbnails.moved(keyPath, returnPath);
    }
    delete keyItem;
}

void ZRKServer::closeEvent(QCloseEvent *event)
{
    const QList<Ir *> pending = pendingBeams();
    if (pending.isEmpty()) {
        event->accept();
        return;
    }
    const QString text = pending.size() == 1 ? QStringLiteral("1 key is still being beamed.")
                                             : QStringLiteral("%1 keys are still being beamed.").arg(pending.size());
    if (!askYesNo(text, QStringLiteral("Close anyway? The keys stay issued."))) {
        event->ignore();
        return;
    }
    // The waiting ones go first, so that none starts only to be ended.
    for (auto it = pending.crbegin(); it != pending.crend(); ++it)
        delete *it;
    event->accept();
}

void ZRKServer::showMessage(const QString &text, const QString &reason)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Message"), text, QMessageBox::NoButton, this);
    box.setInformativeText(reason);
    box.addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    box.exec();
}

bool ZRKServer::askYesNo(const QString &text, const QString &question)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Message"), text, QMessageBox::NoButton, this);
    box.setInformativeText(question);
    const QPushButton *yes = box.addButton(QStringLiteral("Yes"), QMessageBox::YesRole);
    box.setDefaultButton(box.addButton(QStringLiteral("No"), QMessageBox::NoRole));
    box.exec();
    return box.clickedButton() == yes;
}

QListWidgetItem *ZRKServer::currentItemOf(QListWidget *list)
{
    QListWidgetItem *item = list->currentItem();
    if (!item)
        showMessage(QStringLiteral("Please select an item."));
    return item;
}

void ZRKServer::moveToGivenList(QListWidgetItem *photoItem, const QString &sentPath)
{
    auto *keyItem = new QListWidgetItem(sentPath, givenList);
    keyItem->setData(Qt::DecorationRole, photoItem->data(Qt::DecorationRole));
    delete photoItem;
}

bool ZRKServer::chooseReceiver(std::optional<BluetoothDevice> &receiver)
{
    if (!Ir::bluetoothSupported())
        return true;
    DeviceChoice choice(m_lastReceiver, this);
    if (choice.exec() != QDialog::Accepted)
        return false;
    receiver = choice.chosen();
    m_lastReceiver = receiver->address;
    return true;
}

void ZRKServer::beam(const QString &sentPath, const std::optional<BluetoothDevice> &receiver)
{
    auto *ir = new Ir(this, "IR");
    if (receiver)
        ir->setReceiver(receiver->address, receiver->name);
    connect(ir, &Ir::done, this, &ZRKServer::beamEnded);
    ir->send(sentPath, QStringLiteral("A New Key!"), QStringLiteral("text/plain"));
    if (QListWidgetItem *keyItem = givenList->item(givenList->count() - 1))
        keyItem->setToolTip(QStringLiteral("Waiting to be beamed %1.").arg(ir->destination()));
}

void ZRKServer::beamEnded(Ir *ir)
{
    const QString sentPath = ir->fileName();
    const QString when = QLocale::c().toString(ir->endedAt(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QString toolTip = ir->failure().isEmpty()
        ? QStringLiteral("Beamed %1 at %2.").arg(ir->destination(), when)
        : QStringLiteral("Not beamed %1 at %2: %3.").arg(ir->destination(), when, ir->failure());
    // The key may have been withdrawn meanwhile.
    const QList<QListWidgetItem *> entries = givenList->findItems(sentPath, Qt::MatchExactly);
    for (QListWidgetItem *entry : entries)
        entry->setToolTip(toolTip);
    // Not from inside the beam's own signal: the box waits for the operator, the beam's objects do not. The beaming
    // object goes after the box, so that whoever waits for it to go has seen the box too.
    const QString text = QStringLiteral("Can't beam %1.").arg(KeyStore::fileNameOf(sentPath));
    QMetaObject::invokeMethod(
        this,
        [this, text, reason = ir->failure(), ir = QPointer<Ir>(ir)] {
            if (!reason.isEmpty())
                showMessage(text, reason);
            delete ir.data();
        },
        Qt::QueuedConnection);
}

QList<Ir *> ZRKServer::pendingBeams() const
{
    QList<Ir *> pending = findChildren<Ir *>(Qt::FindDirectChildrenOnly);
    pending.removeIf([](const Ir *ir) { return !ir->isPending(); });
    return pending;
}

QStringList ZRKServer::givenKeyPaths() const
{
    QStringList paths;
    paths.reserve(givenList->count());
    for (int row = 0; row < givenList->count(); ++row)
        paths.append(givenList->item(row)->text());
    return paths;
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "zrkserver.h"

#include "beamnotices.h"
#include "devicechoice.h"
#include "entrydelegate.h"
#include "filemove.h"
#include "folderscan.h"
#include "incomingfolder.h"
#include "ir.h"
#include "keybeams.h"
#include "keylistagent.h"
#include "keylistcheck.h"
#include "keystore.h"
#include "leftoutnotice.h"
#include "listplaceholder.h"
#include "moverecovery.h"
#include "regularfile.h"
#include "scanprogress.h"
#include "thumbnail.h"
#include "tooltiptime.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
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

// What an empty list of the document folder's files says in its place: that the folder is missing and what goes
// there, or what would show in the list.
QString emptyListText(const QString &whatShowsHere)
{
    const QString folder = KeyStore::documentFolder();
    if (!QFileInfo(folder).isDir())
        return QStringLiteral(
            "No folder %1. Photos (names containing .jpg, in lower case) and key lists (.list) go there.")
            .arg(folder);
    return whatShowsHere.arg(folder);
}

// A message box on a narrow screen wraps its text at half the screen's width, and breaks "T-Shirt!" after its
// hyphen. Texts as short as those a desktop's box keeps on one line keep to one line there too, wherever the screen
// has room for the box.
void keepTextOnOneLine(QMessageBox &box)
{
    constexpr int desktopOneLineWidth = 500;
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    const int textWidth = label ? label->fontMetrics().horizontalAdvance(box.text()) : 0;
    if (!label || textWidth > desktopOneLineWidth)
        return;
    label->setMinimumWidth(textWidth);
    if (box.layout()->minimumSize().width() > box.screen()->availableGeometry().width())
        label->setMinimumWidth(0);
}

} // namespace

ZRKServer::ZRKServer(QWidget *parent, const char *name)
    : ZRKServerBase(parent, name, Qt::Window)
    , m_thumbnails([this](const QString &path, qreal devicePixelRatio) {
        return Thumbnail::fromFileSharing(path, m_desktopThumbnails, devicePixelRatio);
    })
    , m_notices(new BeamNotices(this))
    , m_beams(new KeyBeams(this, givenList, m_notices))
{
    formLayout->insertWidget(0, m_notices);
    connect(m_notices, &BeamNotices::beamAgainRequested, this, &ZRKServer::beamAgainFromNotice);
    connect(refreshNewPhotosButton, &QPushButton::clicked, this, &ZRKServer::refreshNewPhotoList);
    connect(sendNewKeyButton, &QPushButton::clicked, this, &ZRKServer::sendNewKey);
    connect(refreshCheckButton, &QPushButton::clicked, this, &ZRKServer::refreshCheckList);
    connect(checkButton, &QPushButton::clicked, this, &ZRKServer::check);
    connect(removeGivenKeyButton, &QPushButton::clicked, this, &ZRKServer::removeGivenKey);
    connect(beamAgainButton, &QPushButton::clicked, this, &ZRKServer::beamAgain);
    // One list on each tab, in the tabs' order.
    QListWidget *const tabLists[] = {sendList, checkList, givenList};
    for (int tab = 0; tab < int(std::size(tabLists)); ++tab) {
        QListWidget *list = tabLists[tab];
        addLeftOutNotice(tabWidget->widget(tab), list);
        list->setIconSize(Thumbnail::size());
        list->setItemDelegate(new EntryDelegate(list));
    }
    ListPlaceholder::of(givenList)->setText(
        QStringLiteral("No keys given. A photo sent with Send New Key shows here."));

    // Key numbers come from rand(); seeded once per start from the time and the process id.
    const time_t now = time(nullptr);
    srand(static_cast<unsigned>(now + getpid()));

    // Only the sent-keys folder is ever created: a missing document folder means there is nothing to give away.
    QDir().mkdir(KeyStore::sentKeysFolder());
    // A move that a kill or a power cut interrupted is finished or undone before a list could show its photo twice.
    MoveRecovery::finishInterruptedMoves();
    // A key list cut short by a crash while it arrived never shows.
    IncomingFolder::clear();

    refreshNewPhotoList();
    refreshCheckList();
    scanFolder(KeyStore::sentKeysFolder(), givenList, KeyStore::photoPattern());

    connect(new KeyListAgent(this), &KeyListAgent::received, this, &ZRKServer::showReceivedList);
}

void ZRKServer::scanFolder(QString folder, QListWidget *list, QString pattern)
{
    const BusyCursor busy;
    QByteArrayList leftOut;
    const QStringList paths = FolderScan::matchingFiles(folder, pattern, &leftOut);
    const QList<QImage> thumbnails = thumbnailsOf(paths);
    for (qsizetype i = 0; i < paths.size(); ++i)
        appendEntry(list, paths.at(i), thumbnails.at(i));
    if (LeftOutNotice *notice = m_leftOutNotices.value(list))
        notice->setLeftOut(leftOut);
}

void ZRKServer::addLeftOutNotice(QWidget *page, const QListWidget *list)
{
    auto *notice = new LeftOutNotice(page);
    notice->setObjectName(list->objectName() + QStringLiteral("LeftOutNotice"));
    qobject_cast<QBoxLayout *>(page->layout())->insertWidget(0, notice);
    m_leftOutNotices.insert(list, notice);
}

QList<QImage> ZRKServer::thumbnailsOf(const QStringList &paths)
{
    // Decoding dominates a refresh, so it runs on every core; pixmaps and widgets stay on this thread.
    QFutureWatcher<QImage> watcher;
    ScanProgress progress(this, int(paths.size()));
    // Made at the screen's own pixels, so that they show sharp at their size whatever the scale.
    const qreal ratio = devicePixelRatioF();
    QEventLoop untilDone;
    connect(&watcher, &QFutureWatcherBase::progressValueChanged, &progress, &ScanProgress::setFilesDone);
    connect(&watcher, &QFutureWatcherBase::finished, &untilDone, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::mapped(
        paths, [this, ratio](const QString &path) { return m_thumbnails.thumbnailOf(path, ratio); }));
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
    ListPlaceholder::of(sendList)->setText(
        emptyListText(QStringLiteral("No photos in %1. Files whose names contain .jpg, in lower case, show here.")));
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
    // A key whose photo never reached the sent-keys folder was not issued: the photo goes back to its name, and its
    // entry stays on the Send list, showing where the photo is.
    if (const FileMove::Result sent = FileMove::move(keyPath, sentPath); !sent.moved) {
        photoItem->setText(FileMove::move(keyPath, photoPath).moved ? photoPath : keyPath);
        showMessage(QStringLiteral("Can't move file."), sent.reason);
        return;
    }
    m_desktopThumbnails.moved(photoPath, sentPath);
    moveToGivenList(photoItem, sentPath);
    m_beams->beam(sentPath, receiver);
    qDebug().noquote() << keyPath;
}

void ZRKServer::refreshCheckList()
{
    checkList->clear();
    scanFolder(KeyStore::documentFolder(), checkList, KeyStore::keyListPattern());
    ListPlaceholder::of(checkList)->setText(
        emptyListText(QStringLiteral("No key lists in %1. Files whose names contain .list show here.")));
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
    // The prize is good news; the other verdicts are refusals.
    showMessage(verdictMessage(verdict), QString(),
        verdict.outcome == KeyListVerdict::Prize ? QMessageBox::Information : QMessageBox::Critical);
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
    m_beams->withdraw(keyPath);
    delete keyItem;
}

void ZRKServer::beamAgain()
{
    if (QListWidgetItem *keyItem = currentItemOf(givenList))
        beamKeyAgain(keyItem);
}

bool ZRKServer::beamKeyAgain(QListWidgetItem *keyItem)
{
    const QString sentPath = keyItem->text();
    if (!RegularFile::exists(sentPath)) {
        showMessage(QStringLiteral("file doesn't exists."));
        return false;
    }
    std::optional<BluetoothDevice> receiver;
    if (!chooseReceiver(receiver))
        return false;
    m_beams->beam(sentPath, receiver);
    return true;
}

void ZRKServer::beamAgainFromNotice(const QString &sentPath)
{
    const QList<QListWidgetItem *> entries = givenList->findItems(sentPath, Qt::MatchExactly);
    if (entries.isEmpty()) {
        m_notices->dismiss(sentPath);
        return;
    }
    givenList->setCurrentItem(entries.constFirst());
    beamKeyAgain(entries.constFirst());
}

void ZRKServer::closeEvent(QCloseEvent *event)
{
    const QList<Ir *> pending = m_beams->pending();
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

void ZRKServer::showMessage(const QString &text, const QString &reason, QMessageBox::Icon icon)
{
    QMessageBox box(icon, QStringLiteral("Message"), text, QMessageBox::NoButton, this);
    box.setInformativeText(reason);
    box.addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    keepTextOnOneLine(box);
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
    switch (Ir::links()) {
    case Ir::Links::None:
        // Issued, the key would only go into the sent-keys folder, and the visitor would get nothing.
        showMessage(QStringLiteral("No key can be beamed: this device has neither Bluetooth nor infrared."));
        return false;
    case Ir::Links::InfraredOnly:
        return true;
    case Ir::Links::BluetoothOff:
        if (!askToTurnBluetoothOn())
            return false;
        break;
    case Ir::Links::Bluetooth:
        break;
    }
    DeviceChoice choice(m_beams->deliveries(), this);
    if (choice.exec() != QDialog::Accepted)
        return false;
    receiver = choice.chosen();
    return true;
}

bool ZRKServer::askToTurnBluetoothOn()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Message"), QStringLiteral("Bluetooth is off."),
        QMessageBox::NoButton, this);
    const QPushButton *turnOn = box.addButton(QStringLiteral("Turn Bluetooth On"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole));
    box.exec();
    if (box.clickedButton() != turnOn)
        return false;
    const QString failure = Ir::turnBluetoothOn();
    if (!failure.isEmpty())
        showMessage(QStringLiteral("Bluetooth cannot be turned on."), failure);
    return failure.isEmpty();
}

void ZRKServer::showReceivedList(const QString &path, const QString &sender, const QDateTime &at)
{
    appendEntry(checkList, path, thumbnailsOf({path}).constFirst());
    QListWidgetItem *entry = checkList->item(checkList->count() - 1);
    entry->setToolTip(QStringLiteral("Received from %1 at %2.").arg(sender, toolTipTime(at)));
    checkList->setCurrentItem(entry);
    m_notices->tell(QStringLiteral("A key list arrived from %1.").arg(sender));
}

QStringList ZRKServer::givenKeyPaths() const
{
    QStringList paths;
    paths.reserve(givenList->count());
    for (int row = 0; row < givenList->count(); ++row)
        paths.append(givenList->item(row)->text());
    return paths;
}

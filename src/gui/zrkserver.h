// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "bluetoothdevices.h"
#include "desktopthumbnails.h"
#include "thumbnailcache.h"
#include "zrkserverbase.h"

#include <QHash>
#include <QMessageBox>

#include <optional>

class BeamNotices;
class QDateTime;
class KeyBeams;
class LeftOutNotice;
class QCloseEvent;
class QListWidget;
class QListWidgetItem;

// The main window: turns photos into keys, checks returned key lists and withdraws keys. The folders of the key
// store are its only state; the lists show them.
class ZRKServer : public ZRKServerBase
{
    Q_OBJECT
public:
    explicit ZRKServer(QWidget *parent = nullptr, const char *name = nullptr);

    // Appends an entry (thumbnail and full path) for every file below folder whose name contains pattern.
    void scanFolder(QString folder, QListWidget *list, QString pattern);

protected Q_SLOTS:
    void refreshNewPhotoList();
    void sendNewKey();
    void refreshCheckList();
    void check();
    void removeGivenKey();
    // Beams the selected issued key once more, to the device chosen as for a new key; it keeps its number.
    void beamAgain();

protected:
    // Beams still waiting or running end with the window, so the operator is asked first.
    void closeEvent(QCloseEvent *event) override;

private:
    // reason, when given, says what the system answered, under the text.
    void showMessage(
        const QString &text, const QString &reason = QString(), QMessageBox::Icon icon = QMessageBox::Critical);
    // The same box with the question under the text, answered Yes (true) or No.
    bool askYesNo(const QString &text, const QString &question);
    // The list's current entry, or null after asking the operator to select one.
    QListWidgetItem *currentItemOf(QListWidget *list);
    void moveToGivenList(QListWidgetItem *photoItem, const QString &sentPath);
    // Asks for the Bluetooth device that gets the key, when Bluetooth can beam, first offering to turn Bluetooth on
    // when it is off; false when nothing can beam or the operator cancelled. Nothing has changed by then.
    bool chooseReceiver(std::optional<BluetoothDevice> &receiver);
    bool askToTurnBluetoothOn();
    // Beams the key of that entry again; false when it was not beamed (the operator cancelled, or it cannot be).
    bool beamKeyAgain(QListWidgetItem *keyItem);
    void beamAgainFromNotice(const QString &sentPath);
    QStringList givenKeyPaths() const;
    // A key list that came in over the air shows at once, selected, without a refresh.
    void showReceivedList(const QString &path, const QString &sender, const QDateTime &at);
    // The thumbnails of the files, made on every core while the window repaints and ignores the operator.
    QList<QImage> thumbnailsOf(const QStringList &paths);
    void addLeftOutNotice(QWidget *page, const QListWidget *list);

    // Outlives the memory of thumbnails, whose decodes hand it thumbnails to write.
    DesktopThumbnails m_desktopThumbnails;
    ThumbnailCache m_thumbnails;
    BeamNotices *m_notices;
    KeyBeams *m_beams;
    // The line at the top of each list's tab that tells of the files its last scan left out.
    QHash<const QListWidget *, LeftOutNotice *> m_leftOutNotices;
};

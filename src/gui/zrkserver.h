// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "bluetoothdevices.h"
#include "desktopthumbnails.h"
#include "thumbnailcache.h"
#include "zrkserverbase.h"

#include <optional>

class Ir;
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

protected:
    // Beams still waiting or running end with the window, so the operator is asked first.
    void closeEvent(QCloseEvent *event) override;

private:
    // reason, when given, says what the system answered, under the text.
    void showMessage(const QString &text, const QString &reason = QString());
    // The same box with the question under the text, answered Yes (true) or No.
    bool askYesNo(const QString &text, const QString &question);
    // The list's current entry, or null after asking the operator to select one.
    QListWidgetItem *currentItemOf(QListWidget *list);
    void moveToGivenList(QListWidgetItem *photoItem, const QString &sentPath);
    // Asks for the Bluetooth device that gets the key, when Bluetooth can beam; false when the operator cancelled.
    bool chooseReceiver(std::optional<BluetoothDevice> &receiver);
    void beam(const QString &sentPath, const std::optional<BluetoothDevice> &receiver);
    void beamEnded(Ir *ir);
    QList<Ir *> pendingBeams() const;
    QStringList givenKeyPaths() const;
    // The thumbnails of the files, made on every core while the window repaints and ignores the operator.
    QList<QImage> thumbnailsOf(const QStringList &paths);

    // Outlives the memory of thumbnails, whose decodes hand it thumbnails to write.
    DesktopThumbnails m_desktopThumbnails;
    ThumbnailCache m_thumbnails;

    // Offered first the next time; forgotten when the program ends.
    QString m_lastReceiver;
};

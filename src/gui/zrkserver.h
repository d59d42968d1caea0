#pragma once

#include "thumbnailcache.h"
#include "zrkserverbase.h"

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

private:
    // reason, when given, says what the system answered, under the text.
    void showMessage(const QString &text, const QString &reason = QString());
    // The list's current entry, or null after asking the operator to select one.
    QListWidgetItem *currentItemOf(QListWidget *list);
    void moveToGivenList(QListWidgetItem *photoItem, const QString &sentPath);
    void beam(const QString &sentPath);
    QStringList givenKeyPaths() const;
    // The thumbnails of the files, made on every core while the window repaints and ignores the operator.
    QList<QImage> thumbnailsOf(const QStringList &paths);

    ThumbnailCache m_thumbnails;
};

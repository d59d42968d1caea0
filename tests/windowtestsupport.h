#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QListWidget;

// What the window says to the operator, spelt once for every test.
namespace Message {
inline const QString selectItem = QStringLiteral("Please select an item.");
inline const QString photoGone = QStringLiteral("file doesn't exists.");
inline const QString cannotRename = QStringLiteral("Can't rename file.");
inline const QString cannotMove = QStringLiteral("Can't move file.");
inline const QString cannotRead = QStringLiteral("Can't read file.");
inline const QString prize = QStringLiteral("Give them a T-Shirt!");
inline const QString noKeys = QStringLiteral("No keys in list.");
inline QString invalidKey(const QString &line)
{
    return QStringLiteral("Invalid Key: ") + line + QLatin1Char('.');
}
} // namespace Message

// The texts of a list widget's entries, in order.
QStringList textsOf(const QListWidget *list);

// One message box as the operator saw it.
struct ShownMessage
{
    QString caption;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool modal = false;
    QWidget *parent = nullptr;
};

// Runs action; every modal box that opens meanwhile is recorded and closed with its first button.
QList<ShownMessage> messagesDuring(const std::function<void()> &action);
// The same, when only the texts matter.
QStringList messageTextsDuring(const std::function<void()> &action);

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class DeviceChoice;
class QListWidget;
class ZRKServer;

// What the window says to the operator, spelt once for every test.
namespace Message {
inline const QString selectItem = QStringLiteral("Please select an item.");
inline const QString photoGone = QStringLiteral("file doesn't exists.");
inline const QString cannotRename = QStringLiteral("Can't rename file.");
inline const QString cannotMove = QStringLiteral("Can't move file.");
inline const QString cannotRead = QStringLiteral("Can't read file.");
inline const QString prize = QStringLiteral("Give them a T-Shirt!");
inline const QString noKeys = QStringLiteral("No keys in list.");
inline const QString noLink = QStringLiteral("No key can be beamed: this device has neither Bluetooth nor infrared.");
inline const QString keyListTooLong = QStringLiteral("Key list too long.");
inline QString invalidKey(const QString &line)
{
    return QStringLiteral("Invalid Key: ") + line + QLatin1Char('.');
}
inline QString stillBeaming(int keys)
{
    return keys == 1 ? QStringLiteral("1 key is still being beamed.")
                     : QString::number(keys) + QStringLiteral(" keys are still being beamed.");
}
} // namespace Message

// The texts of a list widget's entries, in order.
QStringList textsOf(const QListWidget *list);
// The texts of the notices in the window, from top to bottom.
QStringList noticesOf(const ZRKServer &window);

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

// Runs action; every modal box that opens meanwhile is recorded and closed with the button labelled answer, or with
// its first button when no answer is given.
QList<ShownMessage> messagesDuring(const std::function<void()> &action, const QString &answer = QString());
// The same, when only the texts matter.
QStringList messageTextsDuring(const std::function<void()> &action);

// Runs action; when the window asks which device gets a key, waits until the choice lists the device of that address,
// picks it and presses Ok, or presses Cancel when address is empty. Returns the choice's entries as it showed them
// when it was answered (one list per time it opened).
QList<QStringList> devicesChosenDuring(const QString &address, const std::function<void()> &action);

// Runs action; every few milliseconds meanwhile, the open device choice, if any, goes to handle, which answers it when
// it has seen enough.
void handlingDeviceChoice(const std::function<void()> &action, const std::function<void(DeviceChoice *)> &handle);

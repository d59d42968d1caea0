// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "windowtestsupport.h"

#include "devicechoice.h"
#include "zrkserver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace {

// Runs action; every few milliseconds meanwhile, the visible modal window of type Dialog, if any, goes to handle.
template<typename Dialog>
void handlingModal(const std::function<void()> &action, const std::function<void(Dialog *)> &handle)
{
    QTimer poller;
    poller.setInterval(5);
    QObject::connect(&poller, &QTimer::timeout, [&handle] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible())
            handle(dialog);
    });
    poller.start();
    action();
}

} // namespace

QStringList textsOf(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

QStringList noticesOf(const ZRKServer &window)
{
    QStringList texts;
    const QLayout *notices = window.findChild<QWidget *>(QStringLiteral("beamNotices"))->layout();
    for (int i = 0; i < notices->count(); ++i) {
        const QWidget *notice = notices->itemAt(i)->widget();
        // A dismissed notice loses its name at once and goes a moment later.
        if (notice && notice->objectName() == QLatin1String("beamNotice"))
            texts.append(notice->findChild<QLabel *>(QStringLiteral("noticeText"))->text());
    }
    return texts;
}

QList<ShownMessage> messagesDuring(const std::function<void()> &action, const QString &answer)
{
    QList<ShownMessage> shown;
    handlingModal<QMessageBox>(action, [&shown, &answer](QMessageBox *box) {
        ShownMessage message;
        message.caption = box->windowTitle();
        message.text = box->text();
        message.informativeText = box->informativeText();
        message.icon = box->icon();
        message.modal = box->isModal();
        message.parent = box->parentWidget();
        const QList<QAbstractButton *> buttons = box->buttons();
        for (const QAbstractButton *button : buttons)
            message.buttons.append(button->text());
        shown.append(message);
        const qsizetype chosen = answer.isEmpty() ? 0 : message.buttons.indexOf(answer);
        if (chosen >= 0 && chosen < buttons.size())
            buttons.at(chosen)->click();
        else
            box->reject();
    });
    return shown;
}

QStringList messageTextsDuring(const std::function<void()> &action)
{
    QStringList texts;
    for (const ShownMessage &message : messagesDuring(action))
        texts.append(message.text);
    return texts;
}

QList<QStringList> devicesChosenDuring(const QString &address, const std::function<void()> &action)
{
    QList<QStringList> listed;
    handlingModal<DeviceChoice>(action, [&listed, &address](DeviceChoice *choice) {
        auto *devices = choice->findChild<QListWidget *>(QStringLiteral("devices"));
        auto *buttons = choice->findChild<QDialogButtonBox *>();
        if (address.isEmpty()) {
            listed.append(textsOf(devices));
            buttons->button(QDialogButtonBox::Cancel)->click();
            return;
        }
        for (int row = 0; row < devices->count(); ++row) {
            if (devices->item(row)->data(Qt::UserRole).toString() == address) {
                listed.append(textsOf(devices));
                devices->setCurrentRow(row);
                buttons->button(QDialogButtonBox::Ok)->click();
                return;
            }
        }
    });
    return listed;
}

void handlingDeviceChoice(const std::function<void()> &action, const std::function<void(DeviceChoice *)> &handle)
{
    handlingModal<DeviceChoice>(action, handle);
}

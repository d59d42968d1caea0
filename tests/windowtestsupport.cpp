#include "windowtestsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QTimer>

QStringList textsOf(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

QList<ShownMessage> messagesDuring(const std::function<void()> &action)
{
    QList<ShownMessage> shown;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&shown] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
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
        if (!buttons.isEmpty())
            buttons.first()->click();
        else
            box->reject();
    });
    closer.start();
    action();
    return shown;
}

QStringList messageTextsDuring(const std::function<void()> &action)
{
    QStringList texts;
    for (const ShownMessage &message : messagesDuring(action))
        texts.append(message.text);
    return texts;
}

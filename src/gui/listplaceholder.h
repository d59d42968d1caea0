// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QString>

class QListWidget;

// A text drawn in an empty list's place, saying why it is empty and what would show there. Drawing only: the list
// gets no entry, and the text goes as soon as the list has one.
class ListPlaceholder : public QObject
{
    Q_OBJECT
public:
    // The list's placeholder, made with no text on first use.
    static ListPlaceholder *of(QListWidget *list);

    QString text() const { return m_text; }
    void setText(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit ListPlaceholder(QListWidget *list);

    QListWidget *m_list;
    QString m_text;
};

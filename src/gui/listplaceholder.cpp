// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "listplaceholder.h"

#include <QEvent>
#include <QListWidget>
#include <QPainter>

namespace {

// As far from the list's edges as the pages keep their widgets from theirs.
constexpr int margin = 11;

} // namespace

ListPlaceholder *ListPlaceholder::of(QListWidget *list)
{
    if (auto *placeholder = list->findChild<ListPlaceholder *>(QString(), Qt::FindDirectChildrenOnly))
        return placeholder;
    return new ListPlaceholder(list);
}

ListPlaceholder::ListPlaceholder(QListWidget *list) : QObject(list), m_list(list)
{
    m_list->viewport()->installEventFilter(this);
}

void ListPlaceholder::setText(const QString &text)
{
    m_text = text;
    m_list->viewport()->update();
}

// Drawn before the list paints its entries, of which it has none, so the text stays.
bool ListPlaceholder::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && m_list->count() == 0 && !m_text.isEmpty()) {
        QWidget *viewport = m_list->viewport();
        QPainter painter(viewport);
        painter.setPen(viewport->palette().color(QPalette::PlaceholderText));
        painter.drawText(
            viewport->rect().adjusted(margin, margin, -margin, -margin), Qt::AlignCenter | Qt::TextWordWrap, m_text);
    }
    return QObject::eventFilter(watched, event);
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

// Draws a list entry, its thumbnail and its path, within the list's width, so that no list ever scrolls sideways.
// Where the whole path does not fit, folders give way in the middle before the file name does, since the file name
// (a key's number) is what the operator reads: "/home/root/…/zrk_16505627.key.jpg". The entry's text stays the full
// path.
class EntryDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // path as it fits in width: whole, else with as many whole leading folders as fit, "…/" and the file name, else
    // the file name alone with its middle elided.
    static QString elidedPath(const QString &path, const QFontMetrics &metrics, int width);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

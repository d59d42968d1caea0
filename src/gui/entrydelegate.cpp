// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "entrydelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

namespace {

const QChar separator = QLatin1Char('/');

QStyle *styleOf(const QStyleOptionViewItem &option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

} // namespace

QString EntryDelegate::elidedPath(const QString &path, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(path) <= width)
        return path;
    const qsizetype lastSeparator = path.lastIndexOf(separator);
    const QString fileName = path.mid(lastSeparator + 1);
    const QString elidedFolders = QStringLiteral("\u2026/") + fileName;
    for (qsizetype end = lastSeparator; end > 0;) {
        end = path.lastIndexOf(separator, end - 1);
        if (end < 0)
            break;
        const QString shortened = path.left(end + 1) + elidedFolders;
        if (metrics.horizontalAdvance(shortened) <= width)
            return shortened;
    }
    return metrics.elidedText(fileName, Qt::ElideMiddle, width);
}

void EntryDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem entry = option;
    initStyleOption(&entry, index);
    const QStyle *style = styleOf(entry);
    // The style keeps a margin on either side of the text within its rectangle.
    const int textMargin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &entry, entry.widget) + 1;
    const int textWidth = style->subElementRect(QStyle::SE_ItemViewItemText, &entry, entry.widget).width();
    entry.text = elidedPath(entry.text, entry.fontMetrics, textWidth - 2 * textMargin);
    entry.textElideMode = Qt::ElideMiddle;
    style->drawControl(QStyle::CE_ItemViewItem, &entry, painter, entry.widget);
}

QSize EntryDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // A list lays its rows out as wide as the widest hint or the list, whichever is wider: the path asks for no
    // width, so a row is as wide as the list and no wider.
    QSize hint = QStyledItemDelegate::sizeHint(option, index);
    hint.setWidth(option.decorationSize.width());
    return hint;
}

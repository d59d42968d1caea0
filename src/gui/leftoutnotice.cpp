// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "leftoutnotice.h"

#include <QStringList>

namespace {

// A tool tip taller than the screen shows nothing useful.
constexpr qsizetype namedAtMost = 10;

} // namespace

LeftOutNotice::LeftOutNotice(QWidget *parent) : QLabel(parent)
{
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    hide();
}

void LeftOutNotice::setLeftOut(const QByteArrayList &paths)
{
    setText(textFor(paths.size()));
    setToolTip(toolTipFor(paths));
    setVisible(!paths.isEmpty());
}

QString LeftOutNotice::textFor(qsizetype count)
{
    if (count == 1)
        return QStringLiteral("1 file was left out: its name is not valid UTF-8. Rename it to list it.");
    return QStringLiteral("%1 files were left out: their names are not valid UTF-8. Rename them to list them.")
        .arg(count);
}

QString LeftOutNotice::toolTipFor(const QByteArrayList &paths)
{
    QStringList lines;
    for (qsizetype i = 0; i < paths.size() && i < namedAtMost; ++i)
        lines.append(QString::fromUtf8(paths.at(i)));
    if (paths.size() > namedAtMost)
        lines.append(QStringLiteral("and %1 more").arg(paths.size() - namedAtMost));
    return lines.join(QLatin1Char('\n'));
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArrayList>
#include <QLabel>

// A line at the top of a tab that tells of the files its last scan had to leave out because their names are not
// valid UTF-8; hidden when there were none. It never renames anything: the names may mean something elsewhere, for
// example on the camera that wrote them.
class LeftOutNotice : public QLabel
{
    Q_OBJECT
public:
    explicit LeftOutNotice(QWidget *parent = nullptr);

    // The native paths of the files left out; their names as near as they can be shown go into the tool tip.
    void setLeftOut(const QByteArrayList &paths);

private:
    static QString textFor(qsizetype count);
    static QString toolTipFor(const QByteArrayList &paths);
};

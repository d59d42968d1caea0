// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QProxyStyle>

// The platform's own look with targets for a finger: push buttons (those of every dialog too), tabs and list rows at
// least fingerHeight logical pixels high, and lists that scroll by flicking. Only for a handheld; on a desktop with a
// mouse the platform's style stays as it is.
class TouchStyle : public QProxyStyle
{
    Q_OBJECT
public:
    // The least height a fingertip hits reliably.
    static constexpr int fingerHeight = 44;

    // Whether the application runs on a handheld: the screen's available area is at most 600 logical pixels wide,
    // or a touchscreen is attached.
    static bool wanted();

    QSize sizeFromContents(
        ContentsType type, const QStyleOption *option, const QSize &contentsSize, const QWidget *widget) const override;
    using QProxyStyle::polish;
    void polish(QWidget *widget) override;
    using QProxyStyle::unpolish;
    void unpolish(QWidget *widget) override;
};

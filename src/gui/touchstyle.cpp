// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "touchstyle.h"

#include <QAbstractItemView>
#include <QGuiApplication>
#include <QInputDevice>
#include <QScreen>
#include <QScroller>

#include <algorithm>

namespace {

// Wider than any phone held upright, narrower than any desktop or laptop.
constexpr int maxHandheldWidth = 600;

bool touchscreenAttached()
{
    const QList<const QInputDevice *> devices = QInputDevice::devices();
    return std::any_of(devices.cbegin(), devices.cend(),
        [](const QInputDevice *device) { return device->type() == QInputDevice::DeviceType::TouchScreen; });
}

} // namespace

bool TouchStyle::wanted()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return touchscreenAttached() || (screen && screen->availableGeometry().width() <= maxHandheldWidth);
}

QSize TouchStyle::sizeFromContents(
    ContentsType type, const QStyleOption *option, const QSize &contentsSize, const QWidget *widget) const
{
    QSize size = QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
    switch (type) {
    case CT_PushButton:
    case CT_ToolButton:
    case CT_TabBarTab:
    case CT_ItemViewItem:
        size.setHeight(std::max(size.height(), fingerHeight));
        break;
    default:
        break;
    }
    return size;
}

void TouchStyle::polish(QWidget *widget)
{
    QProxyStyle::polish(widget);
    // A finger drags a list to scroll it and taps an entry to select it; rows glide by the pixel, not jump by the row.
    // A widget may be polished more than once: a second grab would leave the first one's recognizer behind.
    auto *view = qobject_cast<QAbstractItemView *>(widget);
    if (view && QScroller::grabbedGesture(view->viewport()) == Qt::GestureType(0)) {
        view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        QScroller::grabGesture(view->viewport(), QScroller::LeftMouseButtonGesture);
    }
}

void TouchStyle::unpolish(QWidget *widget)
{
    if (auto *view = qobject_cast<QAbstractItemView *>(widget))
        QScroller::ungrabGesture(view->viewport());
    QProxyStyle::unpolish(widget);
}

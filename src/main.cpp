// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "instanceguard.h"
#include "qpeapplication.h"
#include "runtimefolder.h"
#include "zrkserver.h"

#include <QIcon>

namespace {

// Another start asked for the window: it may be minimised or behind others, and stays maximised. Qt keeps the active
// flag in the state once set, so for a window that is only covered the new state changes nothing: activateWindow()
// brings it forward, and raise() too, as not every window manager raises what it activates. The window is never
// hidden (closing it ends the program), so it needs no show().
void bringToFront(QWidget &window)
{
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.raise();
    window.activateWindow();
}

} // namespace

int main(int argc, char **argv)
{
    QPEApplication app(argc, argv, QPEApplication::GuiClient);
    // The launcher's icon and entry, so that task bars show and group the window like the launcher does.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zrk-server.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("zrk-server"));

    const RuntimeFolder runtime = RuntimeFolder::ofThisUser();
    if (!runtime.passedOver.isEmpty())
        qWarning("zrk-server: %s", qPrintable(runtime.passedOver));
    if (runtime.path.isEmpty()) {
        qCritical("zrk-server: not started: %s", qPrintable(runtime.errorString));
        return 1;
    }
    InstanceGuard guard(runtime.path);
    switch (guard.claim()) {
    case InstanceGuard::Claimed:
        break;
    case InstanceGuard::ActivatedRunning:
        qInfo("zrk-server: already running with its lock in \"%s\"; its window was asked to come to the front",
            qPrintable(runtime.path));
        return 0;
    case InstanceGuard::Failed:
        qCritical("zrk-server: not started: %s", qPrintable(guard.errorString()));
        return 1;
    }

    ZRKServer window;
    QObject::connect(&guard, &InstanceGuard::activationRequested, &window, [&window] { bringToFront(window); });
    window.showMaximized();
    return app.exec();
}

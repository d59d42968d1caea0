// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QApplication>

// The handheld's application object: the event loop ends when the last window is closed. On a handheld (a small
// screen or a touchscreen) every window is drawn for a finger (TouchStyle); on a desktop it is a plain QApplication.
class QPEApplication : public QApplication
{
    Q_OBJECT
public:
    enum Type { Tty = 0, GuiClient = 1, GuiServer = 2 };

    // On a desktop every type of application is a windowed client; the type is kept for the handheld's callers.
    QPEApplication(int &argc, char **argv, Type type);

    static int exec();
};

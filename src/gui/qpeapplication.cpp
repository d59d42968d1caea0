// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "qpeapplication.h"

#include "touchstyle.h"

QPEApplication::QPEApplication(int &argc, char **argv, Type) : QApplication(argc, argv)
{
    setQuitOnLastWindowClosed(true);
    if (TouchStyle::wanted())
        setStyle(new TouchStyle);
}

int QPEApplication::exec()
{
    return QApplication::exec();
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "zrkserverbase.h"

ZRKServerBase::ZRKServerBase(QWidget *parent, const char *name, Qt::WindowFlags flags) : QWidget(parent, flags)
{
    setupUi(this);
    // The form names itself "ZRKServerBase"; a given name, even an empty one, takes its place.
    if (name)
        setObjectName(QString::fromLatin1(name));
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "ui_zrkserverbase.h"

#include <QWidget>

// The window's form: three tabs of lists and buttons, and no behaviour of its own.
class ZRKServerBase : public QWidget, public Ui::ZRKServerBase
{
    Q_OBJECT
public:
    explicit ZRKServerBase(QWidget *parent = nullptr, const char *name = nullptr, Qt::WindowFlags flags = {});
};

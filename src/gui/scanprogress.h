// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>

class QProgressDialog;
class QWidget;

// Tells the operator that a long scan is under way: once the scan has run for a while, a progress dialog, modal to
// the window, shows how many of its files are done, until the scan ends. A quick scan shows nothing.
class ScanProgress : public QObject
{
    Q_OBJECT
public:
    ScanProgress(QWidget *window, int fileCount);
    ~ScanProgress() override;

    void setFilesDone(int done);

    // How long a scan runs before the dialog shows.
    static std::chrono::milliseconds delay();
    static void setDelayForTesting(std::chrono::milliseconds delay);

private:
    void showDialog();

    QWidget *m_window;
    int m_fileCount;
    int m_done = 0;
    QTimer m_delay;
    QPointer<QProgressDialog> m_dialog;
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "scanprogress.h"

#include <QProgressBar>
#include <QProgressDialog>

namespace {

// About a second: shorter scans would only flash a dialog.
std::chrono::milliseconds shownAfter {1000};

} // namespace

ScanProgress::ScanProgress(QWidget *window, int fileCount) : m_window(window), m_fileCount(fileCount)
{
    m_delay.setSingleShot(true);
    connect(&m_delay, &QTimer::timeout, this, &ScanProgress::showDialog);
    m_delay.start(shownAfter);
}

ScanProgress::~ScanProgress()
{
    delete m_dialog;
}

void ScanProgress::setFilesDone(int done)
{
    m_done = done;
    if (m_dialog)
        m_dialog->setValue(done);
}

std::chrono::milliseconds ScanProgress::delay()
{
    return shownAfter;
}

void ScanProgress::setDelayForTesting(std::chrono::milliseconds delay)
{
    shownAfter = delay;
}

void ScanProgress::showDialog()
{
    m_dialog = new QProgressDialog(m_window);
    m_dialog->setLabelText(QStringLiteral("Reading photos\u2026"));
    // The scan cannot be stopped half-way: the list is filled with all of its files or none.
    m_dialog->setCancelButton(nullptr);
    auto *bar = new QProgressBar(m_dialog);
    bar->setFormat(QStringLiteral("%v of %m"));
    m_dialog->setBar(bar);
    m_dialog->setRange(0, m_fileCount);
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(0);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setValue(m_done);
    m_dialog->show();
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QWidget>

class QVBoxLayout;

// Failed beams, told inside the window above the tabs, newest first. A notice never takes the focus or covers a
// dialog, so a failure never lands on the device choice open for the next visitor. Each one names the key, the
// device and the reason, with "Beam Again" and "Dismiss"; the system's own words are in its tool tip.
class BeamNotices : public QWidget
{
    Q_OBJECT
public:
    explicit BeamNotices(QWidget *parent);

    void add(const QString &sentPath, const QString &text, const QString &detail);
    // The key was withdrawn or goes out again: what was said about it no longer holds.
    void dismiss(const QString &sentPath);
    int count() const;

Q_SIGNALS:
    void beamAgainRequested(const QString &sentPath);

private:
    QWidget *noticeFor(const QString &sentPath, const QString &text, const QString &detail);

    QVBoxLayout *m_layout;
};

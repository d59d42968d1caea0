// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QStyle>
#include <QWidget>

class QFrame;
class QPushButton;
class QVBoxLayout;

// Failed beams, and the good news of a key list that arrived, told inside the window above the tabs, newest first. A
// notice never takes the focus or covers a dialog, so it never lands on the device choice open for the next visitor.
// A failure names the key, the device and the reason, with "Beam Again" and "Dismiss"; the system's own words are in
// its tool tip.
class BeamNotices : public QWidget
{
    Q_OBJECT
public:
    explicit BeamNotices(QWidget *parent);

    void add(const QString &sentPath, const QString &text, const QString &detail);
    // Good news, with only "Dismiss".
    void tell(const QString &text);
    // The key was withdrawn or goes out again: what was said about it no longer holds.
    void dismiss(const QString &sentPath);
    int count() const;

Q_SIGNALS:
    void beamAgainRequested(const QString &sentPath);

private:
    QFrame *noticeFor(const QString &text, const QString &styleSheet, QStyle::StandardPixmap iconKind);
    // Puts the notice on top, with its action (if any) and "Dismiss" under its text.
    void present(QFrame *notice, QPushButton *action);

    QVBoxLayout *m_layout;
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "beamnotices.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const char sentPathProperty[] = "sentPath";

// The colours of KDE's inline error and positive messages, so that they read as such wherever that look is known.
const QString failureStyle = QStringLiteral("QFrame#beamNotice { background-color: rgba(218, 68, 83, 40); "
                                            "border: 1px solid rgb(218, 68, 83); border-radius: 4px; }");
const QString goodNewsStyle = QStringLiteral("QFrame#beamNotice { background-color: rgba(39, 174, 96, 40); "
                                             "border: 1px solid rgb(39, 174, 96); border-radius: 4px; }");

QPushButton *noticeButton(const QString &text, const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    // A tap on the notice leaves the focus where the operator works.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

BeamNotices::BeamNotices(QWidget *parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("beamNotices"));
    setFocusPolicy(Qt::NoFocus);
    m_layout->setContentsMargins(6, 6, 6, 0);
    hide();
}

void BeamNotices::add(const QString &sentPath, const QString &text, const QString &detail)
{
    QFrame *notice = noticeFor(text, failureStyle, QStyle::SP_MessageBoxWarning);
    notice->setProperty(sentPathProperty, sentPath);
    notice->setToolTip(detail);
    QPushButton *again = noticeButton(QStringLiteral("Beam Again"), QStringLiteral("noticeBeamAgain"), notice);
    connect(again, &QPushButton::clicked, this, [this, sentPath] { Q_EMIT beamAgainRequested(sentPath); });
    present(notice, again);
}

void BeamNotices::tell(const QString &text)
{
    present(noticeFor(text, goodNewsStyle, QStyle::SP_MessageBoxInformation), nullptr);
}

void BeamNotices::dismiss(const QString &sentPath)
{
    const QList<QFrame *> notices = findChildren<QFrame *>(QStringLiteral("beamNotice"), Qt::FindDirectChildrenOnly);
    for (QFrame *notice : notices) {
        if (notice->property(sentPathProperty).toString() == sentPath)
            delete notice;
    }
    setVisible(count() > 0);
}

int BeamNotices::count() const
{
    return int(findChildren<QFrame *>(QStringLiteral("beamNotice"), Qt::FindDirectChildrenOnly).size());
}

QFrame *BeamNotices::noticeFor(const QString &text, const QString &styleSheet, QStyle::StandardPixmap iconKind)
{
    auto *notice = new QFrame(this);
    notice->setObjectName(QStringLiteral("beamNotice"));
    notice->setStyleSheet(styleSheet);
    auto *icon = new QLabel(notice);
    const int iconSize = style()->pixelMetric(QStyle::PM_SmallIconSize);
    icon->setPixmap(style()->standardIcon(iconKind).pixmap(iconSize));
    auto *label = new QLabel(text, notice);
    label->setObjectName(QStringLiteral("noticeText"));
    label->setWordWrap(true);
    auto *message = new QHBoxLayout;
    message->addWidget(icon, 0, Qt::AlignTop);
    message->addWidget(label, 1);
    auto *layout = new QVBoxLayout(notice);
    layout->addLayout(message);
    return notice;
}

void BeamNotices::present(QFrame *notice, QPushButton *action)
{
    QPushButton *dismissButton = noticeButton(QStringLiteral("Dismiss"), QStringLiteral("noticeDismiss"), notice);
    connect(dismissButton, &QPushButton::clicked, this, [this, notice] {
        // Not at once: its own button is still at work. Unnamed, it no longer counts.
        notice->setObjectName(QString());
        notice->hide();
        notice->deleteLater();
        setVisible(count() > 0);
    });
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    if (action)
        buttons->addWidget(action);
    buttons->addWidget(dismissButton);
    qobject_cast<QVBoxLayout *>(notice->layout())->addLayout(buttons);
    m_layout->insertWidget(0, notice);
    show();
}

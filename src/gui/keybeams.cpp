// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keybeams.h"

#include "beamnotices.h"
#include "ir.h"
#include "keystore.h"
#include "tooltiptime.h"

#include <QListWidget>
#include <QLocale>

KeyBeams::KeyBeams(QWidget *window, QListWidget *givenList, BeamNotices *notices)
    : QObject(window), m_window(window), m_givenList(givenList), m_notices(notices)
{ }

void KeyBeams::beam(const QString &sentPath, const std::optional<BluetoothDevice> &receiver)
{
    m_notices->dismiss(sentPath);
    auto *ir = new Ir(m_window, "IR");
    if (receiver)
        ir->setReceiver(receiver->address, receiver->name);
    connect(ir, &Ir::done, this, &KeyBeams::ended);
    connect(ir, &Ir::progressed, this, &KeyBeams::progressed);
    setToolTip(sentPath, QStringLiteral("Waiting to be beamed %1.").arg(ir->destination()));
    ir->send(sentPath, QStringLiteral("A New Key!"), QStringLiteral("text/plain"));
}

void KeyBeams::withdraw(const QString &sentPath)
{
    const QList<Ir *> beams = pending();
    // The waiting ones first, so that none starts only to be ended.
    for (auto it = beams.crbegin(); it != beams.crend(); ++it) {
        if ((*it)->fileName() == sentPath)
            delete *it;
    }
    m_notices->dismiss(sentPath);
}

QList<Ir *> KeyBeams::pending() const
{
    QList<Ir *> pending = m_window->findChildren<Ir *>(Qt::FindDirectChildrenOnly);
    pending.removeIf([](const Ir *ir) { return !ir->isPending(); });
    return pending;
}

void KeyBeams::progressed(Ir *ir)
{
    setToolTip(ir->fileName(), QStringLiteral("Beaming %1: %2%.").arg(ir->destination()).arg(ir->percent()));
}

void KeyBeams::ended(Ir *ir)
{
    const QString sentPath = ir->fileName();
    const QString keyName = KeyStore::fileNameOf(sentPath);
    const QString when = toolTipTime(ir->endedAt());
    if (ir->failure().isEmpty()) {
        setToolTip(sentPath, QStringLiteral("Beamed %1 at %2.").arg(ir->destination(), when));
        if (!ir->receiverAddress().isEmpty())
            m_deliveries.insert(ir->receiverAddress(),
                QStringLiteral("got %1 at %2")
                    .arg(keyName, QLocale::c().toString(ir->endedAt(), QStringLiteral("hh:mm"))));
    } else {
        QString toolTip = QStringLiteral("Not beamed %1 at %2: %3").arg(ir->destination(), when, ir->failure());
        if (!ir->failureDetail().isEmpty())
            toolTip += QLatin1Char('\n') + ir->failureDetail();
        setToolTip(sentPath, toolTip);
        m_notices->add(sentPath, QStringLiteral("Can't beam %1 %2.\n%3").arg(keyName, ir->destination(), ir->failure()),
            ir->failureDetail());
    }
    // Not from inside the beam's own signal.
    ir->deleteLater();
}

void KeyBeams::setToolTip(const QString &sentPath, const QString &toolTip)
{
    // The key may have been withdrawn meanwhile.
    const QList<QListWidgetItem *> entries = m_givenList->findItems(sentPath, Qt::MatchExactly);
    for (QListWidgetItem *entry : entries)
        entry->setToolTip(toolTip);
}

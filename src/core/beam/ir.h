// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

class BeamTransfer;

// Beaming of one file to a visitor's device: over Bluetooth to the receiver chosen, else over infrared to whatever
// device faces the port. Beams run one at a time, in the order sent; the caller never waits for one.
class Ir : public QObject
{
    Q_OBJECT
public:
    Ir(QObject *parent, const char *name);
    // A beam still waiting or running when its owner goes is ended with it.
    ~Ir() override;

    // True when either link can beam now.
    static bool supported();
    // True when a receiver can be chosen for a Bluetooth beam now.
    static bool bluetoothSupported();

    // The Bluetooth device that gets the file; without one, the file goes over infrared.
    void setReceiver(const QString &address, const QString &name);
    // Queues the beam and returns at once; done() follows when the transfer has ended, whatever its outcome. The
    // description and the MIME type are not sent: OBEX carries the file's name, from which receivers take its type.
    void send(const QString &fileName, const QString &description, const QString &mimeType);

    QString fileName() const { return m_fileName; }
    // Until done(): whether the beam waits or runs.
    bool isPending() const { return m_pending; }
    // After done(): empty when the file arrived, else why not.
    QString failure() const { return m_failure; }
    QDateTime endedAt() const { return m_endedAt; }
    // Where the file goes, for the operator: "to" the device's name and address, or "over infrared".
    QString destination() const;

    // The beam queue starts the beam when its turn comes; once only.
    void start();

Q_SIGNALS:
    void done(Ir *ir);

private:
    void finish(const QString &failure);

    QString m_fileName;
    QString m_receiverAddress;
    QString m_receiverName;
    BeamTransfer *m_transfer = nullptr;
    bool m_pending = false;
    QString m_failure;
    QDateTime m_endedAt;
};

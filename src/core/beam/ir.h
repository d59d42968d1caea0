// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

class BeamTransfer;
struct BeamFailure;

// Beaming of one file to a visitor's device: over Bluetooth to the receiver chosen, else over infrared to whatever
// device faces the port. Beams to one device run one at a time, in the order sent, and beams to different devices
// side by side; the caller never waits for one.
class Ir : public QObject
{
    Q_OBJECT
public:
    Ir(QObject *parent, const char *name);
    // A beam still waiting or running when its owner goes is ended with it.
    ~Ir() override;

    // Which link can beam now. Bluetooth that is only switched off can be turned on.
    enum class Links { Bluetooth, BluetoothOff, InfraredOnly, None };
    static Links links();
    // True when either link can beam now.
    static bool supported();
    // Switches the Bluetooth adapter on; empty when it is on, else what BlueZ said.
    static QString turnBluetoothOn();

    // The Bluetooth device that gets the file; without one, the file goes over infrared.
    void setReceiver(const QString &address, const QString &name);
    // Queues the beam and returns at once; done() follows when the transfer has ended, whatever its outcome. The
    // description and the MIME type are not sent: OBEX carries the file's name, from which receivers take its type.
    void send(const QString &fileName, const QString &description, const QString &mimeType);

    QString fileName() const { return m_fileName; }
    // Empty for a beam over infrared.
    QString receiverAddress() const { return m_receiverAddress; }
    // Until done(): whether the beam waits or runs.
    bool isPending() const { return m_pending; }
    // Whether the transfer has started: the beam no longer waits for its turn.
    bool isRunning() const { return m_pending && m_transfer; }
    // How much of the file has arrived, in per cent; -1 before the receiver said.
    int percent() const { return m_percent; }
    // After done(): empty when the file arrived, else why not, in the operator's words.
    QString failure() const { return m_failure; }
    // The system's own words about the failure, for support; may be empty.
    QString failureDetail() const { return m_failureDetail; }
    QDateTime endedAt() const { return m_endedAt; }
    // Where the file goes, for the operator: "to" the device's name and address, or "over infrared".
    QString destination() const;

    // The beam queue starts the beam when its turn comes; once only.
    void start();

Q_SIGNALS:
    void done(Ir *ir);
    void progressed(Ir *ir);

private:
    void finish(const BeamFailure &failure);

    QString m_fileName;
    QString m_receiverAddress;
    QString m_receiverName;
    BeamTransfer *m_transfer = nullptr;
    bool m_pending = false;
    int m_percent = -1;
    QString m_failure;
    QString m_failureDetail;
    QDateTime m_endedAt;
};

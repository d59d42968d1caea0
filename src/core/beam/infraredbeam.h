// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "beamtransfer.h"

#include <optional>

class QProcess;

// An OBEX push over IrDA by the obexftp tool, to whatever device faces the port. The tool's output on its standard
// output counts as progress.
class InfraredBeam : public BeamTransfer
{
    Q_OBJECT
public:
    explicit InfraredBeam(QObject *parent);
    // A beam still running is ended with its owner.
    ~InfraredBeam() override;

    // True when obexftp is on PATH and the kernel offers IrDA sockets (Linux dropped them in 4.17).
    static bool available();
    // Tests stand in for the kernel's answer; std::nullopt asks the kernel again.
    static void setKernelIrdaForTesting(std::optional<bool> present);

    void start(const QString &fileName) override;

protected:
    void abort() override;

private:
    void processFinished(int exitCode, int exitStatus);

    QProcess *m_process = nullptr;
};

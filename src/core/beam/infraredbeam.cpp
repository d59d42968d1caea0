// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "infraredbeam.h"

#include <QProcess>
#include <QStandardPaths>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString tool = QStringLiteral("obexftp");
std::optional<bool> kernelIrdaForTesting;

bool kernelHasIrda()
{
    if (kernelIrdaForTesting)
        return *kernelIrdaForTesting;
    const int fd = ::socket(AF_IRDA, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

InfraredBeam::InfraredBeam(QObject *parent)
    : BeamTransfer(QStringLiteral("the device at the infrared port"), parent) { }

InfraredBeam::~InfraredBeam()
{
    abort();
}

bool InfraredBeam::available()
{
    return !QStandardPaths::findExecutable(tool).isEmpty() && kernelHasIrda();
}

void InfraredBeam::setKernelIrdaForTesting(std::optional<bool> present)
{
    kernelIrdaForTesting = present;
}

void InfraredBeam::start(const QString &fileName)
{
    m_process = new QProcess(this);
    // Its complaints still reach the terminal; its progress output only keeps the stall watch quiet.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::readyReadStandardOutput, this, [this] {
        m_process->readAllStandardOutput();
        madeProgress();
    });
    connect(m_process, &QProcess::finished, this, &InfraredBeam::processFinished);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A crash or a read/write error is followed by finished(); only a failed start is not.
        if (error == QProcess::FailedToStart)
            end(BeamFailure::infraredCannotStart(
                QStringLiteral("%1 cannot start: %2").arg(tool, m_process->errorString())));
    });
    madeProgress();
    m_process->start(tool, {QStringLiteral("--irda"), QStringLiteral("--put"), fileName});
}

void InfraredBeam::abort()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished();
    }
}

void InfraredBeam::processFinished(int exitCode, int exitStatus)
{
    if (exitStatus != QProcess::NormalExit)
        end(BeamFailure::infraredFailed(QStringLiteral("%1 crashed").arg(tool)));
    else if (exitCode != 0)
        end(BeamFailure::infraredFailed(QStringLiteral("%1 ended with status %2").arg(tool).arg(exitCode)));
    else
        end({});
}

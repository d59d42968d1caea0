#include "ir.h"

#include <QProcess>
#include <QStandardPaths>

namespace {
const QString beamTool = QStringLiteral("obexftp");
}

Ir::Ir(QObject *parent, const char *name) : QObject(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

Ir::~Ir()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished();
    }
}

bool Ir::supported()
{
    return !QStandardPaths::findExecutable(beamTool).isEmpty();
}

void Ir::send(const QString &fileName, const QString & /*description*/, const QString & /*mimeType*/)
{
    m_process = new QProcess(this);
    // Nobody reads the tool's chatter; its complaints still reach the terminal.
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::finished, this, &Ir::finish);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A crash or a read/write error is followed by finished(); only a failed start is not.
        if (error == QProcess::FailedToStart)
            finish();
    });
    m_process->start(beamTool, {QStringLiteral("--irda"), QStringLiteral("--put"), fileName});
}

void Ir::finish()
{
    Q_EMIT done(this);
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "instanceguard.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

const QByteArray activateRequest = QByteArrayLiteral("activate\n");

// The holder takes the lock a moment before it listens, and may just be giving both up: a later start tries again
// for this long before it calls the holder silent.
constexpr int holderAnswerTime = 5000;
constexpr int retryInterval = 100;
constexpr int socketTimeout = 1000;

// A request is one short line, sent at once. Whatever else connects (a stray client, or one that floods or stays
// silent) costs the holder no more than this, and cannot keep later starts out for longer.
constexpr qint64 requestSizeLimit = 4096;
constexpr int requestTimeLimit = 5000;
constexpr int connectionLimit = 16;

void closeConnection(QLocalSocket *connection)
{
    connection->abort();
    connection->deleteLater();
}

} // namespace

InstanceGuard::InstanceGuard(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_socketPath(QDir(folder).absoluteFilePath(QStringLiteral("zrk-server.socket")))
    , m_lock(QDir(folder).absoluteFilePath(QStringLiteral("zrk-server.lock")))
{
    // The lock is held for as long as the program runs; only a holder that is gone leaves a stale one (its process
    // ended, or another program took its process id, or the machine restarted since).
    m_lock.setStaleLockTime(0);
    connect(&m_server, &QLocalServer::newConnection, this, &InstanceGuard::acceptRequests);
}

InstanceGuard::Outcome InstanceGuard::claim()
{
    // Checked first: from an empty folder name the lock's path would lead into the working folder.
    if (!QFileInfo(m_folder).isDir())
        return fail(QStringLiteral("the runtime folder \"%1\" does not exist").arg(m_folder));
    const QDeadlineTimer deadline(holderAnswerTime);
    do {
        if (m_lock.tryLock())
            return startListening();
        if (m_lock.error() != QLockFile::LockFailedError)
            return fail(lockErrorString());
        if (askHolderToActivate())
            return ActivatedRunning;
        QThread::msleep(retryInterval);
    } while (!deadline.hasExpired());
    return fail(QStringLiteral("%1 holds the lock %2 but does not answer on %3")
                    .arg(holderDescription(), m_lock.fileName(), m_socketPath));
}

InstanceGuard::Outcome InstanceGuard::fail(const QString &reason)
{
    m_errorString = reason;
    return Failed;
}

QString InstanceGuard::lockErrorString() const
{
    if (m_lock.error() == QLockFile::PermissionError)
        return QStringLiteral("no permission to create the lock %1").arg(m_lock.fileName());
    return QStringLiteral("cannot create the lock %1").arg(m_lock.fileName());
}

QString InstanceGuard::holderDescription() const
{
    qint64 pid = 0;
    if (m_lock.getLockInfo(&pid, nullptr, nullptr))
        return QStringLiteral("process %1").arg(pid);
    return QStringLiteral("another process");
}

InstanceGuard::Outcome InstanceGuard::startListening()
{
    // Only the lock holder gets here, so a socket file already there was left by a holder that crashed.
    QLocalServer::removeServer(m_socketPath);
    if (m_server.listen(m_socketPath))
        return Claimed;
    // Unanswered, every later start would fail against this one; better to say so now, once.
    m_lock.unlock();
    return fail(QStringLiteral("cannot listen on %1: %2").arg(m_socketPath, m_server.errorString()));
}

// The holder listens before it builds its window, which scans the key store and can take many seconds, so its event
// loop may not run for a while. The kernel accepts a connection into the listen backlog meanwhile and keeps what is
// written, and the holder reads it once its loop runs: a request written is as good as answered, and a later start
// never waits on the holder's scan. The price: a holder hung for good takes the request and never shows its window.
bool InstanceGuard::askHolderToActivate()
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(socketTimeout))
        return false;
    socket.write(activateRequest);
    return socket.waitForBytesWritten(socketTimeout) && socket.bytesToWrite() == 0;
}

void InstanceGuard::acceptRequests()
{
    while (QLocalSocket *connection = m_server.nextPendingConnection()) {
        if (openConnections() > connectionLimit) {
            closeConnection(connection);
            continue;
        }
        connection->setReadBufferSize(requestSizeLimit);
        connect(connection, &QLocalSocket::readyRead, this, [this, connection] { readRequest(connection); });
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        QTimer::singleShot(requestTimeLimit, connection, [connection] { closeConnection(connection); });
        readRequest(connection);
    }
}

// The server's connections that are still open, the one just taken included; closed ones wait to be deleted.
qsizetype InstanceGuard::openConnections() const
{
    const QList<QLocalSocket *> connections = m_server.findChildren<QLocalSocket *>(Qt::FindDirectChildrenOnly);
    return std::count_if(connections.cbegin(), connections.cend(),
        [](const QLocalSocket *connection) { return connection->state() != QLocalSocket::UnconnectedState; });
}

void InstanceGuard::readRequest(QLocalSocket *connection)
{
    if (!connection->canReadLine()) {
        // The buffer holds no more than the limit: full without a line, it is no request.
        if (connection->bytesAvailable() >= requestSizeLimit)
            closeConnection(connection);
        return;
    }
    if (connection->readLine() == activateRequest)
        Q_EMIT activationRequested();
    connection->disconnectFromServer();
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalSocket;

// Keeps to one running program per key store: two would each trust their own view of the issued keys. The first
// start holds a lock file in folder and listens on a local socket beside it; a later start finds the lock taken and
// asks the holder over that socket to bring its window to the front.
class InstanceGuard : public QObject
{
    Q_OBJECT
public:
    enum Outcome {
        Claimed, // this process holds the lock and answers later starts
        ActivatedRunning, // another process holds it and was asked to come to the front
        Failed, // neither: errorString() says why
    };
    Q_ENUM(Outcome)

    explicit InstanceGuard(const QString &folder, QObject *parent = nullptr);

    Outcome claim();
    // Why claim() failed, as one line for the operator.
    QString errorString() const { return m_errorString; }

Q_SIGNALS:
    // A later start asked this program to show its window.
    void activationRequested();

private:
    Outcome fail(const QString &reason);
    QString lockErrorString() const;
    Outcome startListening();
    bool askHolderToActivate();
    void acceptRequests();
    qsizetype openConnections() const;
    void readRequest(QLocalSocket *connection);
    QString holderDescription() const;

    QString m_folder;
    QString m_socketPath;
    QLockFile m_lock;
    // Declared after the lock so that it closes, removing its socket file, before the lock is given up: a socket file
    // removed later could be that of the next holder.
    QLocalServer m_server;
    QString m_errorString;
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

class QDBusMessage;
class QDBusPendingCallWatcher;

// obexd's agent on the session bus for as long as it lives: obexd receives a file a phone pushes only when its
// agent authorizes it. Only a key list of at most KeyListCheck::maxListBytes is taken in; it is written into the
// hidden incoming folder (see IncomingFolder) and reaches the document folder only once it is whole. Where obexd is
// missing, or another program is its agent, one line on stderr says so, and the agent registers again as soon as
// obexd comes onto the bus.
class KeyListAgent : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.obex.Agent1")
public:
    explicit KeyListAgent(QObject *parent = nullptr);
    ~KeyListAgent() override;

    // The agent's object on the session bus.
    static QString objectPath();

Q_SIGNALS:
    // A key list arrived whole and lies at path in the document folder. sender: the device's name, else its address.
    void received(const QString &path, const QString &sender, const QDateTime &at);

public Q_SLOTS:
    // obexd's calls. AuthorizePush answers where obexd writes the file, or org.bluez.obex.Error.Rejected.
    Q_SCRIPTABLE QString AuthorizePush(const QDBusObjectPath &transfer);
    Q_SCRIPTABLE void Cancel();
    Q_SCRIPTABLE void Release();

private Q_SLOTS:
    void transferChanged(const QDBusMessage &message);

private:
    struct Incoming
    {
        QString stagedPath;
        QString name;
        qint64 size = 0;
        QString sender;
        bool started = false;
    };

    void registerAgent();
    void agentRegistered(QDBusPendingCallWatcher *call);
    void obexdGone();
    QString reject(const QString &why);
    void finish(const QString &transfer);
    void discard(const QString &transfer);

    QHash<QString, Incoming> m_incoming;
    // Registered, or asked to be and not yet refused.
    bool m_registered = false;
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QIODevice;

// The outcome of reading one key list against the keys issued.
struct KeyListVerdict
{
    enum Outcome { Prize, InvalidKey, NoKeys };

    Outcome outcome = NoKeys;
    // The failing line as the operator is shown it: at most maxShownLength characters, "..." when cut.
    QString invalidLine;
};

// Decides whether every key on a key list was issued here. A line passes when, less its last four characters, it
// equals the name of an issued key photo less that name's last four characters: peers may store a received key
// under another four-character ending, but nothing shorter or merely similar passes.
class KeyListCheck
{
public:
    static constexpr int maxLineLength = 4096;
    static constexpr int maxShownLength = 80;

    // issuedKeyPaths: the paths (or names) of the key photos issued so far.
    explicit KeyListCheck(const QStringList &issuedKeyPaths);

    // Reads the list line by line until its end or its first invalid line; lineRead sees every line read.
    KeyListVerdict check(QIODevice *keyList, const std::function<void(const QString &)> &lineRead = {}) const;

private:
    bool passes(const QString &line) const;

    QSet<QString> m_issuedStems;
};

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

class QIODevice;

// The outcome of reading one key list against the keys issued.
struct KeyListVerdict
{
    enum Outcome { Prize, InvalidKey, NoKeys, TooLong };

    Outcome outcome = NoKeys;
    // The failing line as the operator is shown it: at most maxShownLength characters, "..." when cut.
    QString invalidLine;
};

// Decides whether every key on a key list was issued here. A line passes when, less its last four characters, it
// equals the name of an issued key photo less that name's last four characters: peers may store a received key
// under another four-character ending, but nothing shorter or merely similar passes. An issued key passes only while
// its photo is still there when the list is checked: a key whose photo never arrived in the sent-keys folder, or was
// taken out of it by hand, is no longer issued.
class KeyListCheck
{
public:
    // A list of keys issued at one stand is a small fraction of this; anything larger is refused unread.
    static constexpr qint64 maxListBytes = 1024 * 1024;
    static constexpr int maxLineLength = 4096;
    static constexpr int maxShownLength = 80;

    // Whether the key photo at an issued path is still there.
    using PhotoTest = std::function<bool(const QString &path)>;

    // issuedKeyPaths: the paths of the key photos issued so far. photoIsThere is asked at most once per key and
    // list; by default it wants a regular file at the path.
    explicit KeyListCheck(const QStringList &issuedKeyPaths, PhotoTest photoIsThere = {});

    // Reads the list line by line until its end or its first invalid line; lineRead sees every line read. A list of
    // more than maxListBytes is refused before any line is read.
    KeyListVerdict check(QIODevice *keyList, const std::function<void(const QString &)> &lineRead = {}) const;

private:
    // The issued photos' paths by stem: names that differ only in their last four characters share one.
    using IssuedPaths = QHash<QString, QStringList>;
    // Whether the key photo of each stem looked at so far in one list is there.
    using PhotosSeen = QHash<QString, bool>;

    IssuedPaths issuedPathsByStem() const;
    bool passes(const QString &line, const IssuedPaths &issuedPaths, PhotosSeen &seen) const;
    bool anyPhotoIsThere(const QStringList &paths) const;

    QStringList m_issuedKeyPaths;
    PhotoTest m_photoIsThere;
};

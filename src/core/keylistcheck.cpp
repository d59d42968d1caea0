// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keylistcheck.h"

#include "keystore.h"

#include <QIODevice>
#include <QTextStream>

namespace {

// The four characters of a key name's ending (".jpg", ".txt", ...) are not compared.
constexpr int endingLength = 4;

QString stemOf(const QString &name)
{
    return name.size() > endingLength ? name.chopped(endingLength) : QString();
}

QString shownLine(const QString &line)
{
    if (line.size() <= KeyListCheck::maxShownLength)
        return line;
    return line.left(KeyListCheck::maxShownLength) + QStringLiteral("...");
}

} // namespace

KeyListCheck::KeyListCheck(const QStringList &issuedKeyPaths)
{
    m_issuedStems.reserve(issuedKeyPaths.size());
    for (const QString &path : issuedKeyPaths) {
        const QString stem = stemOf(KeyStore::fileNameOf(path));
        if (!stem.isEmpty())
            m_issuedStems.insert(stem);
    }
}

bool KeyListCheck::passes(const QString &line) const
{
    const QString stem = stemOf(line);
    return !stem.isEmpty() && m_issuedStems.contains(stem);
}

KeyListVerdict KeyListCheck::check(QIODevice *keyList, const std::function<void(const QString &)> &lineRead) const
{
    QTextStream stream(keyList);
    QString line;
    bool sawKey = false;
    // One character more than allowed tells an overlong line without ever holding more of it.
    while (stream.readLineInto(&line, maxLineLength + 1)) {
        if (lineRead)
            lineRead(line);
        if (line.size() > maxLineLength)
            return {KeyListVerdict::InvalidKey, shownLine(line)};
        const QString key = line.trimmed();
        if (key.isEmpty())
            continue;
        if (!passes(key))
            return {KeyListVerdict::InvalidKey, shownLine(line)};
        sawKey = true;
    }
    return {sawKey ? KeyListVerdict::Prize : KeyListVerdict::NoKeys, {}};
}

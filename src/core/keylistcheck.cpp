// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keylistcheck.h"

#include "keystore.h"
#include "regularfile.h"

#include <QBuffer>
#include <QIODevice>
#include <QTextStream>

#include <algorithm>

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

KeyListCheck::KeyListCheck(const QStringList &issuedKeyPaths, PhotoTest photoIsThere)
    : m_issuedKeyPaths(issuedKeyPaths)
    , m_photoIsThere(photoIsThere ? std::move(photoIsThere) : PhotoTest(&RegularFile::exists))
{ }

KeyListCheck::IssuedPaths KeyListCheck::issuedPathsByStem() const
{
    IssuedPaths issuedPaths;
    issuedPaths.reserve(m_issuedKeyPaths.size());
    for (const QString &path : m_issuedKeyPaths) {
        const QString stem = stemOf(KeyStore::fileNameOf(path));
        if (!stem.isEmpty())
            issuedPaths[stem].append(path);
    }
    return issuedPaths;
}

bool KeyListCheck::passes(const QString &line, const IssuedPaths &issuedPaths, PhotosSeen &seen) const
{
    const QString stem = stemOf(line);
    const auto issued = issuedPaths.constFind(stem);
    if (issued == issuedPaths.cend())
        return false;
    // A list may name one key on every line: its photo is looked at once.
    auto known = seen.constFind(stem);
    if (known == seen.cend())
        known = seen.insert(stem, anyPhotoIsThere(*issued));
    return *known;
}

bool KeyListCheck::anyPhotoIsThere(const QStringList &paths) const
{
    return std::any_of(paths.cbegin(), paths.cend(), m_photoIsThere);
}

KeyListVerdict KeyListCheck::check(QIODevice *keyList, const std::function<void(const QString &)> &lineRead) const
{
    // The size alone answers a huge list at once. What is read is bounded too, for a list that grows meanwhile or a
    // device that cannot tell its size.
    if (keyList->size() > maxListBytes)
        return {KeyListVerdict::TooLong, {}};
    QByteArray bytes = keyList->read(maxListBytes + 1);
    if (bytes.size() > maxListBytes)
        return {KeyListVerdict::TooLong, {}};
    QBuffer content(&bytes);
    content.open(QIODevice::ReadOnly);
    QTextStream stream(&content);
    // Gathered only for a list that is read, so that a refusal costs nothing however many keys were issued.
    const IssuedPaths issuedPaths = issuedPathsByStem();
    QString line;
    bool sawKey = false;
    PhotosSeen seen;
    // One character more than allowed tells an overlong line without ever holding more of it.
    while (stream.readLineInto(&line, maxLineLength + 1)) {
        if (lineRead)
            lineRead(line);
        if (line.size() > maxLineLength)
            return {KeyListVerdict::InvalidKey, shownLine(line)};
        const QString key = line.trimmed();
        if (key.isEmpty())
            continue;
        if (!passes(key, issuedPaths, seen))
            return {KeyListVerdict::InvalidKey, shownLine(line)};
        sawKey = true;
    }
    return {sawKey ? KeyListVerdict::Prize : KeyListVerdict::NoKeys, {}};
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keylistcheck.h"

#include <QBuffer>
#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Any bytes at all, read as a key list against a few issued keys: paths as the Given Keys list holds them, a bare
// name, names at the edges of the rules, and one key whose photo has gone. Besides crashes and sanitizer findings, a
// failure is a line held beyond its bound, a shown line beyond its bound, a photo looked at twice in one list, or a
// verdict that disagrees with the rule applied to the lines read: a key passes when, less its last four characters,
// it is an issued name less its last four, and its photo is there; a list over the size bound is refused unread.

namespace {

const QString gonePhoto = QStringLiteral("/home/root/Documents/.sentKeys/zrk_2147483647.key.jpg");

// How often each photo was looked at during the current input.
QHash<QString, int> &photoLooks()
{
    static QHash<QString, int> looks;
    return looks;
}

const KeyListCheck &issuedKeys()
{
    static const KeyListCheck check({QStringLiteral("/home/root/Documents/.sentKeys/zrk_0.key.jpg"),
                                        QStringLiteral("/home/root/Documents/.sentKeys/zrk_15.key.jpg"), gonePhoto,
                                        QStringLiteral("zrk_7.key.jpg"), QStringLiteral("abcd"), QString()},
        [](const QString &path) {
            ++photoLooks()[path];
            return path != gonePhoto;
        });
    return check;
}

bool passes(const QString &key)
{
    static const QSet<QString> stems = {
        QStringLiteral("zrk_0.key"), QStringLiteral("zrk_15.key"), QStringLiteral("zrk_7.key")};
    return key.size() > 4 && stems.contains(key.chopped(4));
}

// Every line read but the last passes or is blank; the last one decides the verdict.
bool agreesWithLines(const KeyListVerdict &verdict, const QStringList &lines, size_t size)
{
    if ((verdict.outcome == KeyListVerdict::TooLong) != (size > size_t(KeyListCheck::maxListBytes)))
        return false;
    if (verdict.outcome == KeyListVerdict::TooLong)
        return lines.isEmpty() && verdict.invalidLine.isEmpty();
    bool sawKey = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString key = lines.at(i).trimmed();
        const bool fails = lines.at(i).size() > KeyListCheck::maxLineLength || (!key.isEmpty() && !passes(key));
        const bool last = i == lines.size() - 1;
        if (fails != (last && verdict.outcome == KeyListVerdict::InvalidKey))
            return false;
        sawKey = sawKey || !key.isEmpty();
    }
    switch (verdict.outcome) {
    case KeyListVerdict::Prize:
        return sawKey && verdict.invalidLine.isEmpty();
    case KeyListVerdict::NoKeys:
        return !sawKey && verdict.invalidLine.isEmpty();
    case KeyListVerdict::InvalidKey:
        return !verdict.invalidLine.isEmpty() && verdict.invalidLine.size() <= KeyListCheck::maxShownLength + 3;
    case KeyListVerdict::TooLong:
        break;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QBuffer keyList;
    keyList.setData(reinterpret_cast<const char *>(data), qsizetype(size));
    keyList.open(QIODevice::ReadOnly);
    QStringList lines;
    photoLooks().clear();
    const KeyListVerdict verdict = issuedKeys().check(&keyList, [&lines](const QString &line) { lines.append(line); });
    const bool bounded = std::all_of(lines.cbegin(), lines.cend(),
        [](const QString &line) { return line.size() <= KeyListCheck::maxLineLength + 1; });
    const QList<int> looks = photoLooks().values();
    const bool lookedOnce = std::all_of(looks.cbegin(), looks.cend(), [](int times) { return times == 1; });
    if (!bounded || !lookedOnce || !agreesWithLines(verdict, lines, size))
        abort();
    return 0;
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "receivedlistname.h"

#include "keystore.h"

#include <QList>

namespace {

// What is left when nothing of the sent name can be used before its ".list".
const QString fallbackStem = QStringLiteral("received");
// The longest character takes 4 bytes in UTF-8: the stem keeps at least its first one.
constexpr int maxCharBytes = 4;

bool showsAsText(char32_t character)
{
    switch (QChar::category(character)) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

QString printableOnly(const QString &text)
{
    QString printable;
    printable.reserve(text.size());
    for (const char32_t character : text.toUcs4()) {
        if (showsAsText(character))
            printable.append(QString::fromUcs4(&character, 1));
    }
    return printable;
}

int utf8Bytes(char32_t character)
{
    return character < 0x80 ? 1 : character < 0x800 ? 2 : character < 0x10000 ? 3 : maxCharBytes;
}

// The longest start of text that takes at most bytes in UTF-8.
QString cutToBytes(const QString &text, qsizetype bytes)
{
    QString cut;
    for (const char32_t character : text.toUcs4()) {
        bytes -= utf8Bytes(character);
        if (bytes < 0)
            break;
        cut.append(QString::fromUcs4(&character, 1));
    }
    return cut;
}

QString withoutLeadingDots(const QString &text)
{
    qsizetype dots = 0;
    while (dots < text.size() && text.at(dots) == QLatin1Char('.'))
        ++dots;
    return text.mid(dots);
}

} // namespace

namespace ReceivedListName {

QString fileName(const QString &sentName, int copy)
{
    const QString pattern = KeyStore::keyListPattern();
    const QString component = printableOnly(KeyStore::fileNameOf(sentName));
    // Split before the last ".list", so that the copy's number and any cut go in front of it.
    const qsizetype patternAt = component.lastIndexOf(pattern);
    QString stem = withoutLeadingDots(patternAt < 0 ? component : component.left(patternAt));
    const QString tail = patternAt < 0 ? pattern : component.mid(patternAt);
    if (stem.isEmpty())
        stem = fallbackStem;
    const QString number = copy > 1 ? QStringLiteral(" (%1)").arg(copy) : QString();
    const qsizetype room = maxBytes - number.toUtf8().size();
    const QString cutTail = pattern + cutToBytes(tail.mid(pattern.size()), room - pattern.size() - maxCharBytes);
    const QString cutStem = cutToBytes(stem, room - cutTail.toUtf8().size());
    return cutStem + number + cutTail;
}

} // namespace ReceivedListName

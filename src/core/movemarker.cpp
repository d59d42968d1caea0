// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "movemarker.h"

#include <QList>

namespace {

// The first line names the format, the last one ends it: a marker cut short by a power cut lacks it.
const QByteArray firstLine = "zrk-server move 1";
const QByteArray lastLine = "end";

} // namespace

QByteArray MoveMarker::namePrefix()
{
    return QByteArrayLiteral(".zrk-moving-");
}

QByteArray MoveMarker::temporaryCopyPrefix()
{
    return QByteArrayLiteral(".zrk-move-");
}

QByteArray MoveMarker::encoded() const
{
    // Names are bytes that may hold anything but "/" and NUL, line ends too.
    const QList<QByteArray> lines = {firstLine, source.toPercentEncoding("/"), targetName.toPercentEncoding(),
        QByteArray::number(size), sha256.toHex(), lastLine};
    QByteArray bytes;
    for (const QByteArray &line : lines)
        bytes += line + '\n';
    return bytes;
}

std::optional<MoveMarker> MoveMarker::decoded(const QByteArray &bytes)
{
    const QList<QByteArray> lines = bytes.split('\n');
    // Six lines, each ended.
    if (lines.size() != 7 || lines.at(0) != firstLine || lines.at(5) != lastLine || !lines.at(6).isEmpty())
        return std::nullopt;
    MoveMarker marker;
    marker.source = QByteArray::fromPercentEncoding(lines.at(1));
    marker.targetName = QByteArray::fromPercentEncoding(lines.at(2));
    bool sizeRead = false;
    marker.size = lines.at(3).toLongLong(&sizeRead);
    marker.sha256 = QByteArray::fromHex(lines.at(4));
    if (!sizeRead || marker.size < 0 || marker.sha256.toHex() != lines.at(4)
        || (marker.isCopy() && marker.sha256.size() != 32))
        return std::nullopt;
    return marker;
}

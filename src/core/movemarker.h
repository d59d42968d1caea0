// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>

#include <optional>

// What a move that is more than one rename writes into its target folder, flushed to the disk, before the photo takes
// its name there, and removes once the photo is gone from where it was. Found at a start, it tells what a kill or a
// power cut interrupted; only the folders hold it. Like the move's temporary copy, its name is hidden from every list.
struct MoveMarker
{
    // The names of the hidden files a move makes in its target folder: the marker and the temporary copy.
    static QByteArray namePrefix();
    static QByteArray temporaryCopyPrefix();

    // The photo's path before the move, as the move was given it.
    QByteArray source;
    // The photo's name in the marker's own folder after the move.
    QByteArray targetName;
    // What a whole copy holds; empty when the photo is not copied but given a second name, which is the same file.
    qint64 size = 0;
    QByteArray sha256;

    bool isCopy() const { return !sha256.isEmpty(); }

    QByteArray encoded() const;
    // Nothing for anything that is not a marker written whole.
    static std::optional<MoveMarker> decoded(const QByteArray &bytes);
};

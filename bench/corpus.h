// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

// A folder of photos to measure on, and the files in it that the scanner lists, in its order.
struct PhotoSet
{
    QString title;
    QString folder;
    QStringList files;
    // Every photo carries a camera's preview.
    bool previews = false;
};

// The photos the figures are taken on.
namespace Corpus {

// Writes the default corpus below root: photoCount camera-like 4000 x 3000 baseline JPEGs (quality 90) in one
// folder, the same photos with a camera's EXIF block and 160 x 120 preview in a second, and a few progressive
// 12-megapixel ones with some 1-megapixel ones in a third.
QList<PhotoSet> make(const QString &root, int photoCount);

// Writes a key store below root/name: photoCount new photos in its document folder and keyCount issued key photos
// in its sent-keys folder, all 4000 x 3000 baseline JPEGs, with previews or without. A few pictures are encoded once
// and written again and again; they have less detail than the camera-like ones, to keep the store small. Returns its
// document folder.
QString makeKeyStore(const QString &root, const QString &name, int photoCount, int keyCount, bool previews);

// The photos already in folder.
PhotoSet adopt(const QString &folder);

} // namespace Corpus

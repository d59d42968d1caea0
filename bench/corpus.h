#pragma once

#include <QString>
#include <QStringList>

// A folder of photos to measure on, and the files in it that the scanner lists, in its order.
struct PhotoSet
{
    QString title;
    QString folder;
    QStringList files;
};

// The photos the figures are taken on.
namespace Corpus {

// Writes the default corpus below root: photoCount camera-like 4000 x 3000 baseline JPEGs (quality 90) in one
// folder, and a few progressive 12-megapixel ones with some 1-megapixel ones in another.
QList<PhotoSet> make(const QString &root, int photoCount);

// The photos already in folder.
PhotoSet adopt(const QString &folder);

} // namespace Corpus

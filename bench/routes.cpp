// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "routes.h"

#include "desktopthumbnails.h"
#include "keystore.h"
#include "regularfile.h"
#include "thumbnail.h"
#include "zrkserver.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QProcess>
#include <QTextStream>

namespace {

bool runsClean(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

ScannerRoute::ScannerRoute() : m_window(std::make_unique<ZRKServer>()) { }

ScannerRoute::~ScannerRoute() = default;

void ScannerRoute::refresh(const QString &folder)
{
    m_window->sendList->clear();
    m_window->scanFolder(folder, m_window->sendList, KeyStore::photoPattern());
}

void ScannerRoute::forgetThumbnails()
{
    // The window waits for its thumbnails to be written as it goes.
    m_window.reset();
    forgetDesktopThumbnails();
    m_window = std::make_unique<ZRKServer>();
}

Listing ScannerRoute::listing(const QStringList &files) const
{
    const QListWidget *list = m_window->sendList;
    Listing listing;
    QStringList entries;
    for (int row = 0; row < list->count(); ++row) {
        const QListWidgetItem *item = list->item(row);
        entries.append(item->text());
        if (item->data(Qt::DecorationRole).value<QPixmap>().size() == Thumbnail::size())
            ++listing.pictures;
    }
    listing.sameEntries = entries == files;
    return listing;
}

void forgetDesktopThumbnails()
{
    QDir(DesktopThumbnails::folder()).removeRecursively();
}

double startUpSeconds(int photoCount, int keyCount, bool &listed)
{
    QElapsedTimer timer;
    timer.start();
    const ZRKServer window;
    const double seconds = timer.nsecsElapsed() / 1e9;
    listed = window.sendList->count() == photoCount && window.givenList->count() == keyCount;
    return seconds;
}

void fullDecodeThumbnails(const QStringList &files)
{
    for (const QString &file : files) {
        QPixmap pixmap;
        pixmap.load(file);
        const QImage thumbnail =
            pixmap.toImage().scaled(Thumbnail::size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        pixmap = QPixmap::fromImage(thumbnail);
    }
}

bool djpegEighthScale(const QStringList &files)
{
    // A file that is no JPEG fails on its own and does not stop the others.
    const QString loop = QStringLiteral("for f do djpeg -scale 1/8 -outfile /dev/null \"$f\" 2>/dev/null; done");
    return runsClean(QStringLiteral("sh"), QStringList {QStringLiteral("-c"), loop, QStringLiteral("sh")} + files);
}

bool vipsThumbnails(const QStringList &files, const QString &outputFolder)
{
    const QStringList options {QStringLiteral("--size"), QStringLiteral("33x22!"), QStringLiteral("-o"),
        outputFolder + QStringLiteral("/%s.jpg")};
    return runsClean(QStringLiteral("vipsthumbnail"), options + files);
}

KeyListFixture writeKeyList(const QString &folder, int keyCount)
{
    KeyListFixture fixture;
    fixture.listPath = folder + QStringLiteral("/keys.list");
    // The check looks at every issued key's photo, so each one is there, if empty.
    const QString photos = folder + QStringLiteral("/issued");
    QFile list(fixture.listPath);
    if (!QDir().mkpath(photos) || !list.open(QIODevice::WriteOnly))
        return fixture;
    QTextStream stream(&list);
    fixture.issuedKeyPaths.reserve(keyCount);
    for (int i = 0; i < keyCount; ++i) {
        // Spread like rand()'s key numbers rather than counting up.
        const QString name = KeyStore::keyName(long(i) * 21467 + 12345);
        const QString path = photos + QLatin1Char('/') + name;
        if (QFile photo(path); !photo.open(QIODevice::WriteOnly))
            return fixture;
        fixture.issuedKeyPaths.append(path);
        stream << name << '\n';
    }
    return fixture;
}

KeyListVerdict checkKeyList(const KeyListFixture &fixture, bool debugLines)
{
    QFile list;
    if (!RegularFile::openForReading(list, fixture.listPath))
        return {};
    const KeyListCheck check(fixture.issuedKeyPaths);
    if (!debugLines)
        return check.check(&list);
    return check.check(&list, [](const QString &line) { qDebug().noquote() << line; });
}

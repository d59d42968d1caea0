// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "desktopthumbnails.h"

#include "descriptor.h"
#include "regularfile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString normalFolder = QStringLiteral("normal");
// From the smallest up, so that the cheapest to read is tried first.
const QStringList sizeFolders {
    normalFolder, QStringLiteral("large"), QStringLiteral("x-large"), QStringLiteral("xx-large")};

const QString uriKey = QStringLiteral("Thumb::URI");
const QString modifiedKey = QStringLiteral("Thumb::MTime");
const QString sizeKey = QStringLiteral("Thumb::Size");

// Writes wait in memory at some 50 KiB each; past this many, a thumbnail is left unwritten (the next start decodes
// the photo again) rather than the lists waiting for the disk.
constexpr int maxPendingWrites = 64;

bool tells(const QImage &thumbnail, const QString &key, qint64 value)
{
    bool ok = false;
    return thumbnail.text(key).toLongLong(&ok) == value && ok;
}

bool madeFor(const QImage &thumbnail, const QByteArray &uri, const DesktopThumbnails::Stamp &stamp)
{
    return thumbnail.text(uriKey) == QLatin1StringView(uri) && tells(thumbnail, modifiedKey, stamp.modifiedSeconds)
        && (thumbnail.text(sizeKey).isEmpty() || tells(thumbnail, sizeKey, stamp.size));
}

QImage readThumbnail(const QString &thumbnailPath)
{
    QFile file;
    if (!RegularFile::openForReading(file, thumbnailPath))
        return {};
    QImageReader reader(&file, "png");
    return reader.read();
}

bool makeFolder(const QString &folder)
{
    // The standard keeps the thumbnails private to their user.
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

bool writeAll(int descriptor, const QByteArray &bytes)
{
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t now = ::write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (now < 0 && errno == EINTR)
            continue;
        if (now <= 0)
            return false;
        written += now;
    }
    return true;
}

// Under a temporary name first, then renamed: a reader never sees half a thumbnail, nor does a kill leave one.
void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    static std::atomic<unsigned> written;
    const QString temporary = QStringLiteral("%1.zrk-%2-%3.tmp").arg(path).arg(::getpid()).arg(written++);
    const QByteArray temporaryName = QFile::encodeName(temporary);
    bool complete = false;
    {
        const Descriptor file(::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        complete = file.isValid() && writeAll(file.get(), bytes);
    }
    if (!complete || ::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0)
        ::unlink(temporaryName.constData());
}

void writeThumbnail(const QString &path, QImage thumbnail, const QByteArray &uri, const DesktopThumbnails::Stamp &stamp)
{
    const QString folder = DesktopThumbnails::folder();
    if (!makeFolder(QFileInfo(folder).path()) || !makeFolder(folder)
        || !makeFolder(folder + QLatin1Char('/') + normalFolder))
        return;
    thumbnail.setText(uriKey, QString::fromLatin1(uri));
    thumbnail.setText(modifiedKey, QString::number(stamp.modifiedSeconds));
    thumbnail.setText(sizeKey, QString::number(stamp.size));
    thumbnail.setText(QStringLiteral("Software"), QStringLiteral("ZRK Server"));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // The fastest compression: a thumbnail is small either way, and its writing shares the cores with the decodes.
    writer.setQuality(80);
    if (writer.write(thumbnail))
        writeFileAtomically(DesktopThumbnails::thumbnailPath(normalFolder, path), png);
}

QImage normalThumbnailOf(const QImage &picture)
{
    if (std::max(picture.width(), picture.height()) <= DesktopThumbnails::normalSize)
        return picture;
    return picture.scaled(
        DesktopThumbnails::normalSize, DesktopThumbnails::normalSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

bool stampOf(const QString &path, DesktopThumbnails::Stamp &stamp)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    stamp = DesktopThumbnails::Stamp::of(status);
    return true;
}

} // namespace

DesktopThumbnails::Stamp DesktopThumbnails::Stamp::of(const struct stat &status)
{
    return {qint64(status.st_mtim.tv_sec), qint64(status.st_size)};
}

DesktopThumbnails::DesktopThumbnails()
{
    m_writer.setMaxThreadCount(1);
}

DesktopThumbnails::~DesktopThumbnails()
{
    waitForWrites();
}

QString DesktopThumbnails::folder()
{
    // The base directory standard ignores a relative path there.
    const QString cacheHome = qEnvironmentVariable("XDG_CACHE_HOME");
    const QString base =
        QDir::isAbsolutePath(cacheHome) ? QDir::cleanPath(cacheHome) : QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/thumbnails");
}

QByteArray DesktopThumbnails::uriOf(const QString &path)
{
    return QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(path).absoluteFilePath())).toEncoded();
}

QString DesktopThumbnails::thumbnailPath(const QString &sizeFolder, const QString &path)
{
    const QByteArray md5 = QCryptographicHash::hash(uriOf(path), QCryptographicHash::Md5).toHex();
    return folder() + QLatin1Char('/') + sizeFolder + QLatin1Char('/') + QLatin1StringView(md5)
        + QStringLiteral(".png");
}

QImage DesktopThumbnails::find(const QString &path, const Stamp &stamp, const QSize &minimum)
{
    const QByteArray uri = uriOf(path);
    for (const QString &sizeFolder : sizeFolders) {
        const QImage thumbnail = readThumbnail(thumbnailPath(sizeFolder, path));
        // Smaller than the picture wanted, it would be blown up; the photo gives a sharper one.
        if (!thumbnail.isNull() && madeFor(thumbnail, uri, stamp) && thumbnail.width() >= minimum.width()
            && thumbnail.height() >= minimum.height())
            return thumbnail;
    }
    return {};
}

void DesktopThumbnails::save(const QString &path, const Stamp &stamp, const QImage &picture)
{
    if (picture.isNull())
        return;
    inBackground(
        [path, stamp, thumbnail = normalThumbnailOf(picture)] { writeThumbnail(path, thumbnail, uriOf(path), stamp); });
}

void DesktopThumbnails::moved(const QString &from, const QString &to)
{
    inBackground([from, to] {
        Stamp stamp;
        // A rename keeps the modification time, so the old thumbnail is still the file's.
        const QString oldPath = thumbnailPath(normalFolder, from);
        const QImage thumbnail = readThumbnail(oldPath);
        if (thumbnail.isNull() || !stampOf(to, stamp) || !madeFor(thumbnail, uriOf(from), stamp))
            return;
        writeThumbnail(to, thumbnail, uriOf(to), stamp);
        // Nothing lies at the old URI any more.
        QFile::remove(oldPath);
    });
}

void DesktopThumbnails::waitForWrites()
{
    m_writer.waitForDone();
}

void DesktopThumbnails::inBackground(std::function<void()> write)
{
    if (m_pending.fetch_add(1) >= maxPendingWrites) {
        --m_pending;
        return;
    }
    m_writer.start([this, write = std::move(write)] {
        write();
        --m_pending;
    });
}

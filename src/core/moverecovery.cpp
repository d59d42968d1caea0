// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "moverecovery.h"

#include "descriptor.h"
#include "keystore.h"
#include "movemarker.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QList>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

// Markers are a few hundred bytes; anything far larger is not one.
constexpr qint64 largestMarker = 64 * 1024;
constexpr qsizetype chunk = 256 * 1024;

struct Leftovers
{
    // The marker's path and the folder it lies in, the target folder of its move.
    QList<std::pair<QByteArray, QByteArray>> markers;
    QList<QByteArray> temporaryCopies;
};

QByteArray canonical(const QByteArray &path)
{
    char *resolved = ::realpath(path.constData(), nullptr);
    const QByteArray result(resolved);
    ::free(resolved);
    return result;
}

// A name the lists could show: a hidden one is never moved.
bool isListedName(const QByteArray &name)
{
    return !name.isEmpty() && !name.contains('/') && !name.startsWith('.');
}

QByteArray sentKeysName()
{
    return QFile::encodeName(KeyStore::fileNameOf(KeyStore::sentKeysFolder()));
}

bool isFolder(const QByteArray &path, unsigned char type)
{
    struct stat status;
    return type == DT_DIR || (type == DT_UNKNOWN && ::lstat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode));
}

// The folders a move can reach, as the lists see them: the document folder, its sub-folders that are not hidden,
// and the sent-keys folder; links are not followed.
void collect(const QByteArray &folder, bool top, Leftovers &found)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const QByteArray path = folder + '/' + name;
        if (name.startsWith(MoveMarker::namePrefix()))
            found.markers.append({path, folder});
        else if (name.startsWith(MoveMarker::temporaryCopyPrefix()))
            found.temporaryCopies.append(path);
        else if ((isListedName(name) || (top && name == sentKeysName())) && isFolder(path, entry->d_type))
            collect(path, false, found);
    }
    ::closedir(dir);
}

bool regularFileAt(const QByteArray &path, struct stat &status)
{
    return ::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

// The file itself, never what a link at its place points to, nor anything that could block.
Descriptor openRegular(const QByteArray &path, struct stat &status)
{
    const int descriptor = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor >= 0 && (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(descriptor);
        return Descriptor(-1);
    }
    return Descriptor(descriptor);
}

// Reads up to length bytes; fewer only at the end of the file.
QByteArray readUpTo(int descriptor, qsizetype length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    qsizetype done = 0;
    while (done < length) {
        const ssize_t got = ::read(descriptor, bytes.data() + done, size_t(length - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    bytes.truncate(done);
    return bytes;
}

std::optional<MoveMarker> readMarker(const QByteArray &path)
{
    struct stat status;
    const Descriptor file = openRegular(path, status);
    if (!file.isValid() || status.st_size > largestMarker)
        return std::nullopt;
    return MoveMarker::decoded(readUpTo(file.get(), largestMarker + 1));
}

// The path of a marker's source, when it lies in a folder a move can reach; links in its folder are resolved.
std::optional<QByteArray> sourceInStore(const QByteArray &source, const QByteArray &documents)
{
    const qsizetype slash = source.lastIndexOf('/');
    if (slash < 0 || !isListedName(source.mid(slash + 1)))
        return std::nullopt;
    const QByteArray folder = canonical(source.left(slash));
    if (folder.isEmpty())
        return std::nullopt;
    if (folder != documents) {
        if (!folder.startsWith(QByteArray(documents + '/')))
            return std::nullopt;
        const QList<QByteArray> parts = folder.mid(documents.size() + 1).split('/');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (!isListedName(parts.at(i)) && !(i == 0 && parts.at(i) == sentKeysName()))
                return std::nullopt;
        }
    }
    return folder + source.mid(slash);
}

// Whether the file at path holds what the marker says a whole copy holds.
bool holdsWholePhoto(const QByteArray &path, const MoveMarker &marker)
{
    struct stat status;
    const Descriptor file = openRegular(path, status);
    if (!file.isValid() || status.st_size != marker.size)
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (QByteArray bytes; !(bytes = readUpTo(file.get(), chunk)).isEmpty();)
        hash.addData(bytes);
    return hash.result() == marker.sha256;
}

// Whether everything the file at part holds is the start of the file at whole, and it holds less.
bool isCutShortCopyOf(const QByteArray &part, const QByteArray &whole)
{
    struct stat partStatus;
    struct stat wholeStatus;
    const Descriptor partFile = openRegular(part, partStatus);
    const Descriptor wholeFile = openRegular(whole, wholeStatus);
    if (!partFile.isValid() || !wholeFile.isValid() || partStatus.st_size >= wholeStatus.st_size)
        return false;
    for (;;) {
        const QByteArray bytes = readUpTo(partFile.get(), chunk);
        if (bytes.isEmpty())
            return true;
        if (readUpTo(wholeFile.get(), bytes.size()) != bytes)
            return false;
    }
}

bool flushFolderOf(const QByteArray &path)
{
    const Descriptor folder(::open(path.left(path.lastIndexOf('/')).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.isValid() && ::fsync(folder.get()) == 0;
}

// False while the marker is still needed: the file stayed, or its removal may not outlast a power cut.
bool removeAndFlush(const QByteArray &path)
{
    return ::unlink(path.constData()) == 0 && flushFolderOf(path);
}

// Two places hold the whole photo: the move is finished where it can be, else undone.
bool keepOne(const QByteArray &source, const QByteArray &target)
{
    if (::unlink(source.constData()) == 0)
        return flushFolderOf(source);
    return removeAndFlush(target);
}

// Makes each photo the marker concerns whole in exactly one place where that can be told; false while the marker
// is still needed, because a file that should go could not.
bool settle(const MoveMarker &marker, const QByteArray &targetFolder, const QByteArray &documents)
{
    const std::optional<QByteArray> source = sourceInStore(marker.source, documents);
    const QByteArray target = targetFolder + '/' + marker.targetName;
    struct stat sourceStatus;
    struct stat targetStatus;
    if (!source || !isListedName(marker.targetName) || *source == target || !regularFileAt(*source, sourceStatus)
        || !regularFileAt(target, targetStatus))
        return true;
    // Killed between the two names of a move that cannot rename: one file, so either name can go.
    if (sourceStatus.st_dev == targetStatus.st_dev && sourceStatus.st_ino == targetStatus.st_ino)
        return keepOne(*source, target);
    if (!marker.isCopy() || !holdsWholePhoto(*source, marker))
        return true;
    if (holdsWholePhoto(target, marker))
        return keepOne(*source, target);
    if (isCutShortCopyOf(target, *source))
        return removeAndFlush(target);
    // Another file has that name: it is not the move's to remove.
    return true;
}

} // namespace

namespace MoveRecovery {

void finishInterruptedMoves()
{
    const QByteArray documents = canonical(QFile::encodeName(KeyStore::documentFolder()));
    if (documents.isEmpty())
        return;
    Leftovers found;
    collect(documents, true, found);
    for (const auto &[path, folder] : std::as_const(found.markers)) {
        const std::optional<MoveMarker> marker = readMarker(path);
        if (!marker || settle(*marker, folder, documents))
            ::unlink(path.constData());
    }
    // By construction only ever a copy, and never the only one.
    for (const QByteArray &path : std::as_const(found.temporaryCopies)) {
        struct stat status;
        if (regularFileAt(path, status))
            ::unlink(path.constData());
    }
}

} // namespace MoveRecovery

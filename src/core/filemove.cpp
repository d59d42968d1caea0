// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "filemove.h"

#include "descriptor.h"
#include "movemarker.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileMove::TestHooks &testHooks()
{
    static FileMove::TestHooks hooks;
    return hooks;
}

FileMove::Result succeeded()
{
    return {true, QString()};
}

FileMove::Result failed(const QString &path, const QString &why)
{
    return {false, QStringLiteral("%1: %2").arg(path, why)};
}

FileMove::Result failedWithErrno(const QString &path, int error)
{
    return failed(path, qt_error_string(error));
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool unchanged(const struct stat &before, const struct stat &after)
{
    return sameFile(before, after) && before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec
        && before.st_mtim.tv_nsec == after.st_mtim.tv_nsec;
}

Descriptor openFolder(const QString &folder)
{
    return Descriptor(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Where a test kills the move.
void step()
{
    if (testHooks().betweenSteps)
        testHooks().betweenSteps();
}

enum class Rename { Done, Failed, Unsupported };

// Gives from the name to in one step that happens at once or not at all, never replacing a file there.
Rename renameAtOnce(const QByteArray &from, const QByteArray &to)
{
    if (testHooks().renameCannotRefuseToReplace)
        return Rename::Unsupported;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return Rename::Done;
    return errno == EINVAL || errno == ENOSYS ? Rename::Unsupported : Rename::Failed;
}

// Where the file system's rename cannot refuse to replace, a new hard link can: it fails on a taken name just the
// same. Until the old name goes, the file has both.
bool linkThenUnlink(const QByteArray &from, const QByteArray &to)
{
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    step();
    if (::unlink(from.constData()) == 0)
        return true;
    // Two names for one photo would list it twice; the new name goes again.
    const int error = errno;
    ::unlink(to.constData());
    errno = error;
    return false;
}

bool renameWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    switch (renameAtOnce(from, to)) {
    case Rename::Done:
        return true;
    case Rename::Failed:
        return false;
    case Rename::Unsupported:
        break;
    }
    return linkThenUnlink(from, to);
}

void runBeforePlacing(const QString &target)
{
    if (testHooks().beforePlacing)
        testHooks().beforePlacing(target);
}

// Writes all of length bytes, however many calls that takes.
bool writeAll(int descriptor, const char *data, ssize_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(length));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

// The hidden file a copy is written into before it takes its name. It goes with its owner unless it was placed.
class TemporaryCopy
{
public:
    explicit TemporaryCopy(const QString &folder)
        : m_path(QFile::encodeName(folder) + '/' + MoveMarker::temporaryCopyPrefix() + "XXXXXX")
        , m_descriptor(::mkostemp(m_path.data(), O_CLOEXEC))
    {
        step();
    }
    ~TemporaryCopy()
    {
        if (m_descriptor.isValid() && !m_placed)
            ::unlink(m_path.constData());
    }
    TemporaryCopy(const TemporaryCopy &) = delete;
    TemporaryCopy &operator=(const TemporaryCopy &) = delete;

    bool isValid() const { return m_descriptor.isValid(); }
    int descriptor() const { return m_descriptor.get(); }
    const QByteArray &path() const { return m_path; }
    void setPlaced() { m_placed = true; }

private:
    QByteArray m_path;
    Descriptor m_descriptor;
    bool m_placed = false;
};

// The marker of a move in its target folder, on the disk once it is made; it goes with its owner unless kept.
class WrittenMarker
{
public:
    WrittenMarker(const QString &folder, int folderDescriptor, const MoveMarker &marker)
        : m_path(QFile::encodeName(folder) + '/' + MoveMarker::namePrefix() + "XXXXXX")
    {
        const Descriptor file(::mkostemp(m_path.data(), O_CLOEXEC));
        if (!file.isValid())
            return;
        const QByteArray bytes = marker.encoded();
        m_written = writeAll(file.get(), bytes.constData(), bytes.size()) && ::fsync(file.get()) == 0
            && ::fsync(folderDescriptor) == 0;
        step();
        if (!m_written) {
            const int error = errno;
            ::unlink(m_path.constData());
            errno = error;
        }
    }
    ~WrittenMarker()
    {
        // What failed before it went is what the move reports.
        const int error = errno;
        if (m_written && !m_kept)
            ::unlink(m_path.constData());
        errno = error;
    }
    WrittenMarker(const WrittenMarker &) = delete;
    WrittenMarker &operator=(const WrittenMarker &) = delete;

    bool isWritten() const { return m_written; }
    // For the next start, which finishes what this move could not make sure of.
    void keep() { m_kept = true; }

private:
    QByteArray m_path;
    bool m_written = false;
    bool m_kept = false;
};

// Copies everything from source into copy, and says which side failed when that cannot be done.
FileMove::Result copyContent(int source, const QString &from, int copy, const QString &to, QCryptographicHash &hash)
{
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(source, buffer.data(), size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failedWithErrno(from, errno);
        if (got == 0)
            return succeeded();
        if (!writeAll(copy, buffer.constData(), got))
            return failedWithErrno(to, errno);
        hash.addData(QByteArrayView(buffer.constData(), got));
        step();
    }
}

// The photo keeps its owner, permissions and times, as a rename would keep them.
void copyAttributes(int copy, const struct stat &status)
{
    // The owner first, since changing it may clear mode bits. A file system without owners (a FAT card) refuses,
    // which is no reason to stop.
    [[maybe_unused]] const bool owned = ::fchown(copy, status.st_uid, status.st_gid) == 0;
    ::fchmod(copy, status.st_mode & 07777);
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    ::futimens(copy, times);
}

// Removes path only while it is still the copy this move made.
void removeCopy(const QByteArray &path, const struct stat &copy)
{
    struct stat current;
    if (::lstat(path.constData(), &current) == 0 && sameFile(current, copy))
        ::unlink(path.constData());
}

FileMove::Result changedMeanwhile(const QString &path)
{
    return failed(path, QStringLiteral("changed while it was being moved"));
}

bool flushFolderOf(const QString &path)
{
    const Descriptor folder = openFolder(QFileInfo(path).path());
    return folder.isValid() && ::fsync(folder.get()) == 0;
}

FileMove::Result copyAcross(const QString &from, const QString &to, const struct stat &original)
{
    const QByteArray fromName = QFile::encodeName(from);
    const QByteArray toName = QFile::encodeName(to);
    // The file itself, never what a link that took its place points to.
    const Descriptor source(::open(fromName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!source.isValid())
        return failedWithErrno(from, errno);
    struct stat status;
    if (::fstat(source.get(), &status) != 0 || !unchanged(original, status))
        return changedMeanwhile(from);

    const QString targetFolder = QFileInfo(to).path();
    const Descriptor folder = openFolder(targetFolder);
    if (!folder.isValid())
        return failedWithErrno(targetFolder, errno);
    TemporaryCopy copy(targetFolder);
    if (!copy.isValid())
        return failedWithErrno(targetFolder, errno);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (const FileMove::Result copied = copyContent(source.get(), from, copy.descriptor(), to, hash); !copied.moved)
        return copied;
    copyAttributes(copy.descriptor(), status);
    if (::fsync(copy.descriptor()) != 0)
        return failedWithErrno(to, errno);
    step();
    // Whole means every byte of the original as it still is.
    struct stat copied;
    if (::fstat(source.get(), &status) != 0 || !unchanged(original, status) || ::fstat(copy.descriptor(), &copied) != 0
        || copied.st_size != original.st_size)
        return changedMeanwhile(from);

    // From the moment the copy has its name until the original is gone, the photo is in two places.
    WrittenMarker marker(targetFolder, folder.get(),
        MoveMarker {fromName, QFile::encodeName(QFileInfo(to).fileName()), copied.st_size, hash.result()});
    if (!marker.isWritten())
        return failedWithErrno(targetFolder, errno);
    runBeforePlacing(to);
    if (!renameWithoutReplacing(copy.path(), toName))
        return failedWithErrno(to, errno);
    copy.setPlaced();
    step();
    if (::fsync(folder.get()) != 0) {
        const int error = errno;
        removeCopy(toName, copied);
        return failedWithErrno(targetFolder, error);
    }
    struct stat placed;
    if (::lstat(toName.constData(), &placed) != 0 || !sameFile(placed, copied))
        return changedMeanwhile(to);

    // Only now that the copy is whole and on the disk does the original go. A file that has taken its name
    // meanwhile belongs to another program and stays.
    struct stat current;
    if (::lstat(fromName.constData(), &current) == 0 && sameFile(current, original)
        && ::unlink(fromName.constData()) != 0) {
        const int error = errno;
        removeCopy(toName, copied);
        return failedWithErrno(from, error);
    }
    step();
    // The move is done whatever this answers; but should a power cut bring the original's name back, beside its
    // copy, the marker tells the next start to remove it.
    if (!flushFolderOf(from))
        marker.keep();
    return succeeded();
}

// For file systems whose rename cannot refuse to replace: a marker tells which name goes, should the move be
// killed while the photo has both. False, with errno set, when the photo keeps its name.
bool renameInTwoSteps(const QString &from, const QString &to)
{
    const QString targetFolder = QFileInfo(to).path();
    const Descriptor folder = openFolder(targetFolder);
    if (!folder.isValid())
        return false;
    const QByteArray fromName = QFile::encodeName(from);
    WrittenMarker marker(
        targetFolder, folder.get(), MoveMarker {fromName, QFile::encodeName(QFileInfo(to).fileName()), 0, {}});
    if (!marker.isWritten() || !linkThenUnlink(fromName, QFile::encodeName(to)))
        return false;
    if (::fsync(folder.get()) != 0 || !flushFolderOf(from))
        marker.keep();
    return true;
}

bool onOtherFileSystem(const QString &folder, const struct stat &file)
{
    struct stat status;
    return ::stat(QFile::encodeName(folder).constData(), &status) == 0 && status.st_dev != file.st_dev;
}

} // namespace

namespace FileMove {

Result move(const QString &from, const QString &to)
{
    struct stat original;
    if (::lstat(QFile::encodeName(from).constData(), &original) != 0)
        return failedWithErrno(from, errno);
    if (!S_ISREG(original.st_mode))
        return failed(from, QStringLiteral("not a regular file"));
    if (onOtherFileSystem(QFileInfo(to).path(), original))
        return copyAcross(from, to, original);
    runBeforePlacing(to);
    switch (renameAtOnce(QFile::encodeName(from), QFile::encodeName(to))) {
    case Rename::Done:
        return succeeded();
    case Rename::Unsupported:
        if (renameInTwoSteps(from, to))
            return succeeded();
        break;
    case Rename::Failed:
        break;
    }
    // One file system mounted in two places still cannot rename from one to the other.
    if (errno == EXDEV)
        return copyAcross(from, to, original);
    return failedWithErrno(to, errno);
}

void setTestHooks(const TestHooks &hooks)
{
    testHooks() = hooks;
}

} // namespace FileMove

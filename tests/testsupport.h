// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "filemove.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

// Any warning a test does not announce with QTest::ignoreMessage() fails it. Called from every test's init(). Two
// notices of the headless test platform are no fault: it has no window manager to pass size hints to, and the
// machine's fonts may lack shaping tables for a script that a binary key list's text happens to hold.
inline void failOnUnexpectedWarnings()
{
    QTest::failOnWarning(
        QRegularExpression(QStringLiteral("^(?!This plugin does not support propagateSizeHints\\(\\)$|  OpenType "
                                          "support missing for .*, script \\d+$)")));
}

// A key store in a temporary folder: root()/Documents (unless told otherwise), with the program pointed at it, and
// the desktop's thumbnails at cacheHome()/thumbnails, a temporary folder of its own.
class KeyStoreFixture
{
public:
    enum DocumentFolder { WithDocumentFolder, WithoutDocumentFolder };

    explicit KeyStoreFixture(DocumentFolder documentFolder = WithDocumentFolder);

    QString root() const { return m_dir.path(); }
    QString documents() const;
    QString sentKeys() const;
    // Where XDG_CACHE_HOME points.
    QString cacheHome() const { return m_cacheHome.path(); }

    // Writes a file below the document folder (parent folders made as needed) and returns its full path.
    QString writeFile(const QString &relativePath, const QByteArray &bytes = QByteArray()) const;
    // Writes a real JPEG photo with some texture and returns its full path.
    QString writePhoto(const QString &relativePath, const QSize &size = QSize(64, 48), int seed = 0) const;

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_cacheHome;
};

// The bytes of a JPEG of that size, with gradients and noise drawn from seed.
QByteArray jpegBytes(const QSize &size, int seed = 0, int quality = 90);

// Writes a file anywhere (parent folders made as needed) and returns its path.
QString writeFileAt(const QString &path, const QByteArray &bytes);
QByteArray readAll(const QString &path);
// Every regular file below folder (hidden ones included), as paths relative to it, sorted.
QStringList filesBelow(const QString &folder);
// A tmpfs of sizeKiB mounted over folder (made when missing) for as long as it lives: the folder then lies on a file
// system of its own, which moves have to cross and which fills up. It mounts only in the private mount namespace
// that ctest runs these tests in (unshare --user --map-root-user --mount) and tells them of.
class ScratchFileSystem
{
public:
    ScratchFileSystem(const QString &folder, int sizeKiB);
    // Or the folder source mounted over folder as well: one file system in two places, between which a rename fails
    // as between two file systems.
    ScratchFileSystem(const QString &folder, const QString &source);
    ~ScratchFileSystem();
    ScratchFileSystem(const ScratchFileSystem &) = delete;
    ScratchFileSystem &operator=(const ScratchFileSystem &) = delete;

    bool isMounted() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    // A test that cannot mount is skipped when started by hand, and fails under ctest.
    static bool mountsPromised();

private:
    QString m_folder;
    QString m_error;
};

#define ZRK_REQUIRE_MOUNTED(fileSystem)                                                                                \
    do {                                                                                                               \
        if (!(fileSystem).isMounted()) {                                                                               \
            if (ScratchFileSystem::mountsPromised())                                                                   \
                QFAIL(qPrintable(QStringLiteral("cannot mount a scratch file system: ") + (fileSystem).error()));      \
            QSKIP("needs the private mount namespace that ctest runs it in");                                          \
        }                                                                                                              \
    } while (false)

// Runs moves in a child process that is killed, as a kill or a power cut stops the program, at the step-th step
// that they take between changes to the disk (with hooks of the layout's own besides); false when they ended first.
bool killedAtStep(int step, const std::function<void()> &moves, FileMove::TestHooks hooks = {});

// Makes infrared available by putting a recording obexftp first on PATH and standing in for a kernel with IrDA
// sockets, or unavailable with a PATH that has none. The recording script notes, for every beam, whether the named
// file was there and the arguments it got, and then behaves as told.
class FakeInfrared
{
public:
    enum Behaviour { Succeeds, Fails, Crashes, Hangs, CannotStart };

    FakeInfrared();
    ~FakeInfrared();

    void setAvailable(bool available);
    void setBehaviour(Behaviour behaviour);
    // Whether the kernel offers IrDA sockets, as the program is told; it is true from the start.
    void setKernelHasIrda(bool present);

    struct Beam
    {
        bool fileWasThere = false;
        QStringList arguments;
    };
    QList<Beam> beams() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
};

// A private system bus with python3-dbusmock's BlueZ on it and a private session bus with a stand-in obexd
// (obexd-standin.py, which says how each device answers), both started here and pointed to by the environment. Qt
// keeps its first connection to each bus, so a test program makes one before it uses D-Bus and keeps it to the end.
// Debian's own obexd can take the stand-in's place: it checks the calls as the real one does, but without Bluetooth
// in the kernel it reaches no device.
class StandInBluetooth
{
public:
    enum Obexd { StandInObexd, DebianObexd };
    static QString debianObexd() { return QStringLiteral("/usr/libexec/bluetooth/obexd"); }

    explicit StandInBluetooth(Obexd obexd = StandInObexd);
    ~StandInBluetooth();
    StandInBluetooth(const StandInBluetooth &) = delete;
    StandInBluetooth &operator=(const StandInBluetooth &) = delete;

    // Empty when everything runs; else what did not start.
    QString error() const { return m_error; }

    // An adapter hci0, powered or not, and devices on it; false when BlueZ did not take them.
    bool addAdapter(bool powered = true);
    bool setPowered(bool powered);
    // A device in range, with that signal strength in dBm (BlueZ's RSSI).
    bool addDevice(const QString &address, const QString &name, bool paired, int rssi = -79);
    // A device BlueZ knows that is not in range: it has no RSSI.
    bool addDeviceOutOfRange(const QString &address, const QString &name);
    // The device moved: BlueZ tells its new signal strength.
    bool setRssi(const QString &address, int rssi);
    bool isDiscovering() const;
    // Takes the adapter and its devices away and forgets the calls obexd got.
    void reset();
    // The calls obexd got, one tab-separated line each (see obexd-standin.py).
    QStringList obexCalls() const;
    // What Debian's obexd wrote to its debug log.
    QString obexdLog() const;

private:
    QProcess *startProcess(const QString &program, const QStringList &arguments);
    void startDebianObexd();
    QString startBus(const QString &name);
    bool waitUntil(const std::function<bool()> &ready);

    QTemporaryDir m_dir;
    QList<QProcess *> m_processes;
    QString m_error;
};

// Captures the debug lines written while it lives.
class DebugLines
{
public:
    DebugLines();
    ~DebugLines();
    QStringList lines() const;
};

// A build with AddressSanitizer (-DZRK_SANITIZE=ON) has its own allocator and runs several times slower: memory
// figures mean little there, and long runs are shortened.
#ifdef ZRK_SANITIZED
constexpr bool builtWithSanitizers = true;
#else
constexpr bool builtWithSanitizers = false;
#endif

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "instanceguard.h"
#include "runtimefolder.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Started with this option and a folder, the test program claims that folder, says so and waits to be killed.
const QString claimAndWaitOption = QStringLiteral("--claim-and-wait");

int claimAndWait(const QString &folder)
{
    InstanceGuard guard(folder);
    if (guard.claim() != InstanceGuard::Claimed)
        return 1;
    std::fputs("claimed\n", stdout);
    std::fflush(stdout);
    return QCoreApplication::exec();
}

QString ownProcessName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

// A process id that no process can have: the kernel hands out only ids below pid_max.
qint64 unusedProcessId()
{
    QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
    if (!pidMax.open(QIODevice::ReadOnly))
        return 0;
    return pidMax.readAll().trimmed().toLongLong();
}

// A lock file as QLockFile writes it, for a holder that did not write it itself.
bool writeLockFile(
    const QString &path, qint64 pid, const QString &processName, const QByteArray &bootId, qint64 ageSeconds)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::number(pid) + '\n' + processName.toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8()
        + '\n' + QSysInfo::machineUniqueId() + '\n' + bootId + '\n');
    return file.flush()
        && file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
}

// The address of the socket file at path; none when the path is too long for one.
std::optional<sockaddr_un> socketAddress(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return std::nullopt;
    qstrcpy(address.sun_path, name.constData());
    return address;
}

// A socket file as a crashed holder leaves it: bound once, nobody listening.
bool leaveDeadSocket(const QString &path)
{
    const std::optional<sockaddr_un> address = socketAddress(path);
    const int fd = address ? socket(AF_UNIX, SOCK_STREAM, 0) : -1;
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&*address), sizeof *address) == 0;
    if (fd >= 0)
        close(fd);
    return bound;
}

// A user id that no account here has, for a folder that belongs to someone else.
constexpr uid_t otherUser = 54321;

// A connection to the socket at path that the test drives byte by byte, as any client could; -1 when none.
int connectRaw(const QString &path)
{
    const std::optional<sockaddr_un> address = socketAddress(path);
    const int fd = address ? socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&*address), sizeof *address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// Whether the other end has closed the connection; reads nothing that a client would have been sent.
bool closedByHolder(int fd)
{
    char byte;
    const ssize_t got = recv(fd, &byte, 1, MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

// The most memory the process has ever had resident, in KiB.
qint64 peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// A holder in a process of its own, whose memory can be read apart from the test's; killed when it goes.
class HolderProcess
{
public:
    explicit HolderProcess(const QString &folder)
    {
        m_process.start(QCoreApplication::applicationFilePath(), {claimAndWaitOption, folder});
    }
    ~HolderProcess()
    {
        m_process.kill();
        m_process.waitForFinished(30000);
    }
    HolderProcess(const HolderProcess &) = delete;
    HolderProcess &operator=(const HolderProcess &) = delete;

    bool claimed() { return m_process.waitForReadyRead(30000) && m_process.readLine() == "claimed\n"; }
    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
};

} // namespace

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void laterStartActivatesHolder_data();
    void laterStartActivatesHolder();
    void claimsAgainOnceHolderEnds();
    void killedHolderLeavesNothingThatBlocks();
    void staleLockDoesNotBlock_data();
    void staleLockDoesNotBlock();
    void silentLiveHolderFails_data();
    void silentLiveHolderFails();
    void unusableFolderFails_data();
    void unusableFolderFails();
    void startsWhateverTheRuntimeFolder_data();
    void startsWhateverTheRuntimeFolder();
    void unsoundOwnFolderFails_data();
    void unsoundOwnFolderFails();
    void floodingClientIsClosed();
    void silentClientsAreClosed();

private:
    QString folder() const { return m_folder->path(); }
    QString lockPath() const { return m_folder->filePath(QStringLiteral("zrk-server.lock")); }
    QString socketPath() const { return m_folder->filePath(QStringLiteral("zrk-server.socket")); }
    void verifyAnswersLaterStart(InstanceGuard &holder);
    // Points the environment at a home of the test's own, with XDG_RUNTIME_DIR as given (unset when empty), until
    // the returned guard goes.
    [[nodiscard]] auto useEnvironment(const QByteArray &runtimeFolder);
    QString ownFolder() const { return folder() + QStringLiteral("/home/.cache/zrk-server"); }

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestInstanceGuard::init()
{
    failOnUnexpectedWarnings();
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY2(m_folder->isValid(), "no temporary folder");
}

// The later start runs on this thread, so the holder's event loop cannot run before the later start is done: it must
// succeed on a request the holder has not read yet.
void TestInstanceGuard::verifyAnswersLaterStart(InstanceGuard &holder)
{
    QSignalSpy activations(&holder, &InstanceGuard::activationRequested);
    InstanceGuard later(folder());
    QCOMPARE(later.claim(), InstanceGuard::ActivatedRunning);
    QTRY_COMPARE_WITH_TIMEOUT(activations.count(), 1, 30000);
}

void TestInstanceGuard::laterStartActivatesHolder_data()
{
    QTest::addColumn<qint64>("lockAgeSeconds");
    QTest::newRow("lock taken just now") << qint64(0);
    QTest::newRow("lock held for a day") << qint64(24 * 60 * 60);
}

void TestInstanceGuard::laterStartActivatesHolder()
{
    QFETCH(qint64, lockAgeSeconds);
    InstanceGuard holder(folder());
    QCOMPARE(holder.claim(), InstanceGuard::Claimed);
    QFile lock(lockPath());
    QVERIFY(lock.open(QIODevice::ReadOnly));
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-lockAgeSeconds), QFileDevice::FileModificationTime));

    verifyAnswersLaterStart(holder);
    if (QTest::currentTestFailed())
        return;
    // A second request on a fresh connection is answered too.
    verifyAnswersLaterStart(holder);
}

void TestInstanceGuard::claimsAgainOnceHolderEnds()
{
    {
        InstanceGuard first(folder());
        QCOMPARE(first.claim(), InstanceGuard::Claimed);
    }
    QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    InstanceGuard next(folder());
    QCOMPARE(next.claim(), InstanceGuard::Claimed);
    verifyAnswersLaterStart(next);
}

void TestInstanceGuard::killedHolderLeavesNothingThatBlocks()
{
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {claimAndWaitOption, folder()});
    QTRY_VERIFY_WITH_TIMEOUT(holder.canReadLine(), 30000);
    QCOMPARE(holder.readLine(), QByteArray("claimed\n"));
    // SIGKILL: the holder gets no chance to remove its lock or its socket.
    holder.kill();
    QVERIFY(holder.waitForFinished(30000));
    QVERIFY(QFileInfo::exists(lockPath()));
    QVERIFY(QFileInfo::exists(socketPath()));

    InstanceGuard next(folder());
    QCOMPARE(next.claim(), InstanceGuard::Claimed);
    verifyAnswersLaterStart(next);
}

void TestInstanceGuard::staleLockDoesNotBlock_data()
{
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<QString>("processName");
    QTest::addColumn<QByteArray>("bootId");

    const QByteArray thisBoot = QSysInfo::bootUniqueId();
    QTest::newRow("no process with that id") << unusedProcessId() << ownProcessName() << thisBoot;
    QTest::newRow("process id now another program's")
        << qint64(QCoreApplication::applicationPid()) << QStringLiteral("zrk-server") << thisBoot;
    QTest::newRow("written before the machine restarted")
        << qint64(QCoreApplication::applicationPid()) << ownProcessName() << QByteArray("an earlier boot");
}

void TestInstanceGuard::staleLockDoesNotBlock()
{
    QFETCH(qint64, pid);
    QFETCH(QString, processName);
    QFETCH(QByteArray, bootId);
    QVERIFY2(pid > 0, "no process id for the stale lock");
    QVERIFY(writeLockFile(lockPath(), pid, processName, bootId, 0));

    InstanceGuard next(folder());
    QCOMPARE(next.claim(), InstanceGuard::Claimed);
    verifyAnswersLaterStart(next);
}

void TestInstanceGuard::silentLiveHolderFails_data()
{
    QTest::addColumn<qint64>("lockAgeSeconds");
    QTest::addColumn<bool>("deadSocketLeft");
    QTest::newRow("no socket") << qint64(0) << false;
    QTest::newRow("no socket, lock written a day ago") << qint64(24 * 60 * 60) << false;
    QTest::newRow("socket left with nobody listening") << qint64(0) << true;
}

// The lock names this test's own live process, which never listens.
void TestInstanceGuard::silentLiveHolderFails()
{
    QFETCH(qint64, lockAgeSeconds);
    QFETCH(bool, deadSocketLeft);
    const qint64 pid = QCoreApplication::applicationPid();
    QVERIFY(writeLockFile(lockPath(), pid, ownProcessName(), QSysInfo::bootUniqueId(), lockAgeSeconds));
    if (deadSocketLeft)
        QVERIFY(leaveDeadSocket(socketPath()));
    const QByteArray lockBefore = readAll(lockPath());

    InstanceGuard later(folder());
    QCOMPARE(later.claim(), InstanceGuard::Failed);
    const QString reason = later.errorString();
    QVERIFY2(reason.contains(QStringLiteral("process %1 ").arg(pid)), qPrintable(reason));
    QVERIFY2(reason.contains(lockPath()), qPrintable(reason));
    QVERIFY2(!reason.contains(QLatin1Char('\n')), qPrintable(reason));
    // The live holder keeps its lock.
    QCOMPARE(readAll(lockPath()), lockBefore);
}

void TestInstanceGuard::unusableFolderFails_data()
{
    // Below the test's folder; empty for no folder at all.
    QTest::addColumn<QString>("name");
    QTest::newRow("folder missing") << QStringLiteral("missing");
    QTest::newRow("no folder named") << QString();
}

void TestInstanceGuard::unusableFolderFails()
{
    QFETCH(QString, name);
    const QString unusable = name.isEmpty() ? name : m_folder->filePath(name);

    InstanceGuard guard(unusable);
    QCOMPARE(guard.claim(), InstanceGuard::Failed);
    QVERIFY2(guard.errorString().contains(QStringLiteral("\"%1\"").arg(unusable)), qPrintable(guard.errorString()));
    QVERIFY(!QFileInfo::exists(unusable));
    QVERIFY(!QFileInfo::exists(QStringLiteral("zrk-server.lock")));
}

auto TestInstanceGuard::useEnvironment(const QByteArray &runtimeFolder)
{
    const QList<const char *> names {"XDG_RUNTIME_DIR", "HOME", "XDG_CACHE_HOME"};
    QList<std::optional<QByteArray>> saved;
    for (const char *name : names)
        saved.append(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    if (runtimeFolder.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", runtimeFolder);
    qputenv("HOME", QFile::encodeName(folder() + QStringLiteral("/home")));
    qunsetenv("XDG_CACHE_HOME");
    return qScopeGuard([names, saved] {
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (saved.at(i))
                qputenv(names.at(i), *saved.at(i));
            else
                qunsetenv(names.at(i));
        }
    });
}

void TestInstanceGuard::startsWhateverTheRuntimeFolder_data()
{
    // The runtime folder below the test's folder (empty for none set), what is done to it, and why it is not taken
    // (empty when it is).
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("made");
    QTest::addColumn<QString>("reason");

    QTest::newRow("sound") << u"run"_s << u"private"_s << QString();
    QTest::newRow("not set") << QString() << QString() << QString();
    QTest::newRow("missing") << u"run"_s << QString() << u"does not exist"_s;
    QTest::newRow("owned by another user") << u"run"_s << u"other user's"_s << u"belongs to user 54321"_s;
    QTest::newRow("a link to a sound folder") << u"run"_s << u"link"_s << u"is a symbolic link"_s;
    QTest::newRow("open to everyone") << u"run"_s << u"mode 0777"_s << u"is open to other users (mode 0777)"_s;
    QTest::newRow("a shared folder with a planted lock and socket")
        << u"run"_s << u"planted"_s << u"is open to other users (mode 1777)"_s;
    QTest::newRow("a file") << u"run"_s << u"file"_s << u"is not a folder"_s;
    QTest::newRow("relative") << u"."_s << QString() << u"is not an absolute path"_s;
}

void TestInstanceGuard::startsWhateverTheRuntimeFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, made);
    QFETCH(QString, reason);

    const QString runtime = name.isEmpty() || name == u"."_s ? name : m_folder->filePath(name);
    const QString sound = m_folder->filePath(u"sound"_s);
    QVERIFY(QDir().mkdir(sound, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (made == u"private"_s || made == u"other user's"_s)
        QVERIFY(QDir().mkdir(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    if (made == u"other user's"_s && ::chown(QFile::encodeName(runtime).constData(), otherUser, otherUser) != 0)
        QSKIP("giving a folder to another user takes root");
    if (made == u"link"_s)
        QVERIFY(QFile::link(sound, runtime));
    if (made == u"file"_s)
        writeFileAt(runtime, "x");
    // Like /tmp: anyone may put things in it. What was put there claims a live holder that answers every start.
    QLocalServer planted;
    if (made == u"mode 0777"_s || made == u"planted"_s) {
        QVERIFY(QDir().mkdir(runtime));
        QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), made == u"planted"_s ? 01777 : 0777), 0);
    }
    if (made == u"planted"_s) {
        QVERIFY(writeLockFile(runtime + u"/zrk-server.lock"_s, QCoreApplication::applicationPid(), ownProcessName(),
            QSysInfo::bootUniqueId(), 0));
        QVERIFY(planted.listen(runtime + u"/zrk-server.socket"_s));
    }
    const auto restore = useEnvironment(QFile::encodeName(runtime));

    const RuntimeFolder chosen = RuntimeFolder::ofThisUser();
    const QString expected = made == u"private"_s ? runtime : ownFolder();
    QCOMPARE(chosen.path, expected);
    QCOMPARE(chosen.errorString, QString());
    if (reason.isEmpty()) {
        QCOMPARE(chosen.passedOver, QString());
    } else {
        QCOMPARE(chosen.passedOver,
            u"the runtime folder \"%1\" %2; the lock and the socket are in \"%3\" instead"_s.arg(
                runtime, reason, expected));
    }
    // Made private, and the program claims it.
    QCOMPARE(QFileInfo(expected).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    InstanceGuard guard(chosen.path);
    QCOMPARE(guard.claim(), InstanceGuard::Claimed);
    QVERIFY(QFileInfo::exists(expected + u"/zrk-server.lock"_s));
    QVERIFY(!planted.hasPendingConnections());
    QCOMPARE(QDir(sound).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), QStringList());
}

void TestInstanceGuard::unsoundOwnFolderFails_data()
{
    QTest::addColumn<QString>("made");
    QTest::addColumn<QString>("reason");

    QTest::newRow("a link") << u"link"_s << u"is a symbolic link"_s;
    QTest::newRow("open to the group") << u"mode 0750"_s << u"is open to other users (mode 0750)"_s;
    QTest::newRow("owned by another user") << u"other user's"_s << u"belongs to user 54321"_s;
    QTest::newRow("cache folder a file") << u"cache file"_s << u"cannot be made (Not a directory)"_s;
}

void TestInstanceGuard::unsoundOwnFolderFails()
{
    QFETCH(QString, made);
    QFETCH(QString, reason);

    const QString target = m_folder->filePath(u"target"_s);
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QDir().mkpath(QFileInfo(ownFolder()).path()));
    if (made == u"link"_s)
        QVERIFY(QFile::link(target, ownFolder()));
    if (made == u"mode 0750"_s || made == u"other user's"_s) {
        QVERIFY(QDir().mkdir(ownFolder()));
        QCOMPARE(::chmod(QFile::encodeName(ownFolder()).constData(), made == u"other user's"_s ? 0700 : 0750), 0);
    }
    if (made == u"other user's"_s && ::chown(QFile::encodeName(ownFolder()).constData(), otherUser, otherUser) != 0)
        QSKIP("giving a folder to another user takes root");
    if (made == u"cache file"_s) {
        QVERIFY(QDir(QFileInfo(ownFolder()).path()).removeRecursively());
        writeFileAt(QFileInfo(ownFolder()).path(), "x");
    }
    const auto restore = useEnvironment(QByteArray());

    const RuntimeFolder chosen = RuntimeFolder::ofThisUser();
    QCOMPARE(chosen.path, QString());
    QCOMPARE(
        chosen.errorString, u"no private folder for the lock and the socket: \"%1\" %2"_s.arg(ownFolder(), reason));
    QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System), QStringList());
}

// Before the limits, 200 MB without a newline grew the holder by 200 MB.
void TestInstanceGuard::floodingClientIsClosed()
{
    HolderProcess holder(folder());
    QVERIFY(holder.claimed());
    InstanceGuard warmUp(folder());
    QCOMPARE(warmUp.claim(), InstanceGuard::ActivatedRunning);
    const qint64 peakBefore = peakResidentKiB(holder.processId());
    QVERIFY(peakBefore > 0);

    const int fd = connectRaw(socketPath());
    QVERIFY(fd >= 0);
    const auto closeClient = qScopeGuard([fd] { close(fd); });
    // A holder that stopped reading without closing would leave the client blocked: it gives up after a while.
    const timeval sendTimeout {30, 0};
    QCOMPARE(setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout), 0);
    const QByteArray chunk(64 * 1024, 'k');
    constexpr qint64 flood = 64 * 1024 * 1024;
    qint64 sent = 0;
    ssize_t written = 0;
    while (sent < flood && (written = send(fd, chunk.constData(), chunk.size(), MSG_NOSIGNAL)) > 0)
        sent += written;
    const int sendError = errno;
    QVERIFY2(sent < flood, "the holder took 64 MiB without a newline");
    QVERIFY2(sendError == EPIPE || sendError == ECONNRESET, std::strerror(sendError));

    InstanceGuard later(folder());
    QCOMPARE(later.claim(), InstanceGuard::ActivatedRunning);
    const qint64 grown = peakResidentKiB(holder.processId()) - peakBefore;
    QVERIFY2(grown < 4 * 1024, qPrintable(QStringLiteral("the holder grew by %1 KiB").arg(grown)));
}

void TestInstanceGuard::silentClientsAreClosed()
{
    HolderProcess holder(folder());
    QVERIFY(holder.claimed());
    QList<int> clients;
    const auto closeClients = qScopeGuard([&clients] {
        for (const int fd : std::as_const(clients))
            close(fd);
    });
    for (int i = 0; i < 20; ++i) {
        clients.append(connectRaw(socketPath()));
        QVERIFY(clients.constLast() >= 0);
    }
    const auto closedOnes = [&clients] {
        QList<int> closed;
        for (qsizetype i = 0; i < clients.size(); ++i) {
            if (closedByHolder(clients.at(i)))
                closed.append(int(i));
        }
        return closed;
    };

    // Those beyond the first 16 at once; the first ones only when their time is up.
    QTRY_VERIFY_WITH_TIMEOUT(!closedOnes().isEmpty(), 30000);
    QCOMPARE(closedOnes(), (QList<int> {16, 17, 18, 19}));
    QTRY_COMPARE_WITH_TIMEOUT(closedOnes().size(), 20, 30000);
    InstanceGuard later(folder());
    QCOMPARE(later.claim(), InstanceGuard::ActivatedRunning);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments.at(1) == claimAndWaitOption)
        return claimAndWait(arguments.at(2));
    TestInstanceGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instanceguard.moc"

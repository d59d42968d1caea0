// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "instanceguard.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

// A socket file as a crashed holder leaves it: bound once, nobody listening.
bool leaveDeadSocket(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    qstrcpy(address.sun_path, name.constData());
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return bound;
}

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

private:
    QString folder() const { return m_folder->path(); }
    QString lockPath() const { return m_folder->filePath(QStringLiteral("zrk-server.lock")); }
    QString socketPath() const { return m_folder->filePath(QStringLiteral("zrk-server.socket")); }
    void verifyAnswersLaterStart(InstanceGuard &holder);

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

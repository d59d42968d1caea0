// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "measure.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <malloc.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A field of /proc/self/status, in KiB.
qint64 statusKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith(QByteArray(field + ':')))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Writing "5" resets the peak resident size (VmHWM) to the current one.
bool resetPeakResidentSize()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

// sched_setaffinity on each thread: the call itself only moves the thread that makes it.
void setProcessAffinity(const cpu_set_t &mask)
{
    const QStringList threads = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &thread : threads)
        sched_setaffinity(thread.toInt(), sizeof mask, &mask);
}

// Ticks the machine's CPUs spent busy: the first line of /proc/stat less idle and I/O wait.
qint64 machineBusyTicks()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    qint64 busy = 0;
    // user nice system idle iowait irq softirq steal
    for (int field : {1, 2, 3, 6, 7, 8})
        busy += fields.value(field).toLongLong();
    return busy;
}

// Ticks this process and its waited-for children spent on the CPUs.
qint64 ownTicks()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may hold spaces: state is first, utime the 12th.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    qint64 ticks = 0;
    for (int field = 11; field <= 14; ++field)
        ticks += fields.value(field).toLongLong();
    return ticks;
}

} // namespace

QList<double> medianMs(const QList<TimedWork> &works)
{
    std::vector<std::vector<double>> times(works.size());
    const int rounds = std::max_element(works.cbegin(), works.cend(), [](const TimedWork &a, const TimedWork &b) {
        return a.rounds < b.rounds;
    })->rounds;
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype i = 0; i < works.size(); ++i) {
            if (round >= works.at(i).rounds)
                continue;
            if (works.at(i).prepare)
                works.at(i).prepare();
            QElapsedTimer timer;
            timer.start();
            works.at(i).work();
            times[i].push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    QList<double> medians;
    for (std::vector<double> &workTimes : times) {
        std::sort(workTimes.begin(), workTimes.end());
        const size_t middle = workTimes.size() / 2;
        medians.append(workTimes.size() % 2 ? workTimes[middle] : (workTimes[middle - 1] + workTimes[middle]) / 2);
    }
    return medians;
}

double peakGrowthMiB(const std::function<void()> &work)
{
    // Memory freed by earlier work but kept by the allocator would hide growth; hand it back first.
    malloc_trim(0);
    const qint64 before = statusKiB("VmRSS");
    if (before < 0)
        return -1;
    // The kernel notes the peak only at some unmaps, and memory the allocator hands back through madvise escapes
    // it, so a sampler watches the resident size as well.
    const bool peakReset = resetPeakResidentSize();
    std::atomic<bool> done = false;
    qint64 sampledPeak = before;
    std::thread sampler([&] {
        for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            sampledPeak = std::max(sampledPeak, statusKiB("VmRSS"));
    });
    work();
    done = true;
    sampler.join();
    const qint64 peak = peakReset ? std::max(sampledPeak, statusKiB("VmHWM")) : sampledPeak;
    return (peak - before) / 1024.0;
}

PageFaults pageFaultsDuring(const std::function<void()> &work)
{
    const auto faults = [](int who) {
        struct rusage usage
        {
        };
        getrusage(who, &usage);
        return qint64(usage.ru_minflt) + usage.ru_majflt;
    };
    const qint64 ownBefore = faults(RUSAGE_SELF);
    const qint64 childrenBefore = faults(RUSAGE_CHILDREN);
    work();
    return {faults(RUSAGE_SELF) - ownBefore, faults(RUSAGE_CHILDREN) - childrenBefore};
}

OneCore::OneCore() : m_savedPoolSize(QThreadPool::globalInstance()->maxThreadCount()), m_cpu(sched_getcpu())
{
    sched_getaffinity(0, sizeof m_savedMask, &m_savedMask);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(m_cpu, &one);
    setProcessAffinity(one);
    QThreadPool::globalInstance()->setMaxThreadCount(1);
}

OneCore::~OneCore()
{
    QThreadPool::globalInstance()->setMaxThreadCount(m_savedPoolSize);
    setProcessAffinity(m_savedMask);
}

OtherLoad::OtherLoad() : m_busyTicks(machineBusyTicks()), m_ownTicks(ownTicks())
{
    m_timer.start();
}

double OtherLoad::cores() const
{
    const double seconds = m_timer.nsecsElapsed() / 1e9;
    const qint64 otherTicks = (machineBusyTicks() - m_busyTicks) - (ownTicks() - m_ownTicks);
    return seconds > 0 ? std::max<qint64>(otherTicks, 0) / double(sysconf(_SC_CLK_TCK)) / seconds : 0;
}

// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QElapsedTimer>
#include <QList>

#include <functional>
#include <sched.h>

// Work to time, how many rounds it gets, and what to do before each round without timing it.
struct TimedWork
{
    std::function<void()> work;
    int rounds = 1;
    std::function<void()> prepare = {};
};

// The median wall-clock time of each work, in milliseconds. Their rounds take turns, so that a change in the
// machine's load falls on all of them alike.
QList<double> medianMs(const QList<TimedWork> &works);

// Peak growth of the process's resident memory while work runs, in MiB.
double peakGrowthMiB(const std::function<void()> &work);

// Page faults (minor and major) while work runs: the process's own, and those of the children it waited for.
struct PageFaults
{
    qint64 own = 0;
    qint64 children = 0;
};
PageFaults pageFaultsDuring(const std::function<void()> &work);

// For its lifetime the process runs as on a one-core machine: every thread pinned to one CPU and the global thread
// pool limited to one thread.
class OneCore
{
public:
    OneCore();
    ~OneCore();
    OneCore(const OneCore &) = delete;
    OneCore &operator=(const OneCore &) = delete;

    int cpu() const { return m_cpu; }

private:
    cpu_set_t m_savedMask;
    int m_savedPoolSize;
    int m_cpu;
};

// How busy the rest of the machine keeps its CPUs from construction on: other processes take cores from the figures.
class OtherLoad
{
public:
    OtherLoad();
    // CPUs kept busy on average by everything but this process and the children it waited for.
    double cores() const;

private:
    qint64 m_busyTicks;
    qint64 m_ownTicks;
    QElapsedTimer m_timer;
};

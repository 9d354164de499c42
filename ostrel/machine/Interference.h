// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/machine/SystemFiles.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace ostrel::machine {

// What the kernel counts about other work taking the processor, read at the start and at the end of a test,
// outside its timed span. A counter the machine does not have (no pressure file, no cpufreq) stays empty.
struct InterferenceCounters
{
    // Seconds on a monotonic clock.
    double at = 0.0;
    // <proc>/pressure/cpu "some" total: microseconds in which runnable work waited for a CPU.
    std::optional<double> cpuWaitMicros;
    // Steal ticks (USER_HZ) of all CPUs from <proc>/stat, and how many CPUs that line sums.
    std::optional<double> stealTicks;
    int cpus = 0;
    // This thread's involuntary context switches.
    std::optional<long> involuntarySwitches;
    // The current frequency of the CPU the thread ran on and its maximum, in kHz (cpufreq).
    std::optional<double> frequencyKHz;
    std::optional<double> maxFrequencyKHz;
    // Thermal throttling events of all CPUs (thermal_throttle/*_throttle_count).
    std::optional<qint64> throttleEvents;
};

// Reads the counters now. cpu is the CPU the calling thread runs on (sched_getcpu()), for its frequency.
InterferenceCounters readInterferenceCounters(double now, int cpu, const SystemRoots& roots = {});

// The single readers, for their tests.
std::optional<double> cpuSomeTotal(const QByteArray& pressure);
// The steal column of the "cpu" line and the number of "cpuN" lines.
std::optional<double> stealTicksOf(const QByteArray& stat, int* cpus);

// One test's share of interference, each empty where its counters are.
struct Interference
{
    // The share of the test's time in which runnable work waited for a CPU (0 to 1).
    std::optional<double> cpuWait;
    // The share of the CPUs' time the hypervisor gave to others.
    std::optional<double> steal;
    // The mean of the frequencies read at the start and the end, as a share of the maximum.
    std::optional<double> frequency;
    // Involuntary context switches of the test's thread during the test.
    std::optional<long> involuntarySwitches;
    // Thermal throttling events during the test.
    std::optional<qint64> throttleEvents;

    // Where a test counts as disturbed: its scores say as much about the other work as about this machine.
    static constexpr double kMostCpuWait = 0.10;
    static constexpr double kMostSteal = 0.10;
    static constexpr double kLeastFrequency = 0.90;

    bool disturbed() const;
    // "等待处理器 23%，宿主占用 12%"; empty when not disturbed.
    QString reasons() const;

    friend bool operator==(const Interference&, const Interference&) = default;
};

// From the counters at a test's start and end. userHz is sysconf(_SC_CLK_TCK).
Interference interferenceBetween(const InterferenceCounters& start, const InterferenceCounters& end, long userHz = 100);

// "干扰：浮点运算 等待处理器 23%" for a disturbed test; empty otherwise.
QString interferenceLine(const QString& testTitle, const Interference& interference);

} // namespace ostrel::machine

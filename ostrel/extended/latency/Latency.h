// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/latency/Chase.h"
#include "ostrel/extended/latency/LatencyResult.h"
#include "platform/Result.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

// How fast memory answers as the working set grows: the L1, L2 and L3 caches, main memory and what the TLB adds,
// measured by a pointer chase on huge pages and again on 4 KiB pages.
namespace ostrel::latency {

// The sweep's first working set.
inline constexpr qint64 kSmallestWorkingSet = 4 * kKiB;
// It goes at least this far, and to four times the last-level cache.
inline constexpr qint64 kLeastLargestWorkingSet = 256 * kMiB;
// A point measured with less of the CPU than this is measured again, up to kRemeasures times.
inline constexpr double kLeastOnCpuShare = 0.9;
inline constexpr int kRemeasures = 3;

struct WorkingSets
{
    // Rising, in whole cache lines.
    std::vector<qint64> bytes;
    // They end below what was asked for, to stay within a quarter of the memory the process may take.
    bool reduced = false;

    friend bool operator==(const WorkingSets&, const WorkingSets&) = default;
};

// Two working sets a doubling, x and 1.5 x, from 4 KiB up to `largest` (rounded down to a line), which ends the
// list; one nearer to it than a tenth of its size is left out.
std::vector<qint64> workingSetsUpTo(qint64 largest);

// The sweep's working sets: up to four times the last-level cache and at least 256 MiB, but no more than a quarter
// of the memory the process may take (`roomBytes`), with fewer points when that is less. An unknown cache counts as
// none.
WorkingSets workingSets(std::optional<qint64> lastLevelCache, qint64 roomBytes);

// One measurement of a point: its best pass's seconds a load, and the thread's share of the CPU meanwhile.
struct Reading
{
    double seconds = 0.0;
    double onCpuShare = 1.0;
};

// Measures a point; nothing when a stop came.
using MeasureOnce = std::function<std::optional<Reading>()>;

// The point at `bytes`: measured, and measured again up to kRemeasures times while the thread had less than
// kLeastOnCpuShare of the CPU. The first reading with enough of the CPU counts; when none had, the one with the most
// counts, marked disturbed. Nothing when a stop came.
std::optional<Point> settledPoint(qint64 bytes, const MeasureOnce& measure);

struct LatencyError
{
    enum class Kind {
        // A stop was requested.
        Stopped,
        // /proc/meminfo says nothing of the available memory.
        NoMemoryFigure,
        // Not even the smallest working set fits a quarter of the memory the process may take.
        TooLittleMemory,
        // The buffer could not be mapped.
        OutOfMemory,
    };
    Kind kind = Kind::Stopped;
    // A complete sentence for the user; empty after a stop.
    QString message;
};

struct Options
{
    QString sysRoot = QStringLiteral("/sys");
    // Where meminfo, the process's control group and smaps_rollup are read.
    QString procRoot = QStringLiteral("/proc");
    QString cgroupRoot = QStringLiteral("/sys/fs/cgroup");
    // These working sets whatever the cache and memory (small ones for the unit tests, the levels for a bench).
    std::optional<std::vector<qint64>> workingSets = {};
    // The 4 KiB-page curve after the huge-page one.
    bool smallPages = true;
    // Each timed pass of a point takes about this long: fewer loads where each is slow, as a short first pass
    // tells, within leastLoads and mostLoads. Short enough that both curves to 1 GiB, remeasures included, stay
    // within 15 s of CPU time.
    double passSeconds = 0.012;
    qint64 leastLoads = 16 * 1024;
    qint64 mostLoads = 1024 * 1024;
    // Timed passes of a point; the fastest counts.
    int passes = 3;
    // Looked at between chunks of loads, of linking and of touching pages: a stop ends the measurement within
    // milliseconds.
    Stop stop = {};
    // The fraction done, 0 to 1, after each point.
    std::function<void(double)> progress = {};
    // The thread's CPU seconds (threadCpuSeconds()); the tests read a slower CPU through it.
    std::function<double()> cpuSeconds = {};
};

// The measurement: the working sets' pointer chase on huge pages, then on 4 KiB pages, on the CPU the thread runs
// on; then the figures from CPU 0's cache layout.
platform::Result<LatencyResult, LatencyError> measureLatency(const Options& options = {});

} // namespace ostrel::latency

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/bandwidth/MemoryBandwidthResult.h"
#include "platform/MemoryRoom.h"

#include <QString>
#include <atomic>
#include <functional>
#include <optional>

namespace ostrel::bandwidth {

inline constexpr qint64 kMiB = qint64(1) << 20;
// Each array is at least this large and four times the last-level cache, as STREAM asks.
inline constexpr qint64 kLeastArrayBytes = 64 * kMiB;
// Below this (and below twice the last-level cache) the kernels would largely run from the cache.
inline constexpr qint64 kSmallestArrayBytes = 16 * kMiB;

// The size of the highest-level data or unified cache of CPU 0, from
// <sysRoot>/devices/system/cpu/cpu0/cache/index*/{level,size,type}; nothing when none is listed.
std::optional<qint64> lastLevelCacheBytes(const QString& sysRoot);

struct ArraySize
{
    qint64 bytes = 0;
    bool reduced = false;
    // The memory the arrays had to fit was the control group's limit, lower than MemAvailable.
    bool groupLimited = false;

    friend bool operator==(const ArraySize&, const ArraySize&) = default;
};

// Each array's size: four times the last-level cache and at least 64 MiB, in whole MiB, with the three arrays
// together at most a quarter of the memory the process may take (platform::memoryRoom()). When that is less, the
// arrays shrink to fit (reduced), but not below twice the last-level cache or 16 MiB: then the test refuses
// (TooLittleMemory). An unknown cache counts as none, so the 64 MiB and 16 MiB bounds hold.
Result<ArraySize> arraySize(std::optional<qint64> lastLevelCache, const platform::MemoryRoom& room);

struct Options
{
    // The threads of the kernels; platform::usableCpuCount() in the application.
    int threads = 1;
    QString sysRoot = QStringLiteral("/sys");
    // Where meminfo and the process's control group are read (platform::memoryRoom()).
    QString procRoot = QStringLiteral("/proc");
    QString cgroupRoot = QStringLiteral("/sys/fs/cgroup");
    // Arrays of this size whatever the cache and memory (small ones for the unit tests).
    std::optional<qint64> arrayBytes = {};
    // Timed passes of each kernel; the best counts.
    int passes = 10;
};

// arraySize() for this machine as the options give it.
Result<ArraySize> arraySize(const Options& options);

// The fraction of the test done, 0 to 1.
using Progress = std::function<void(double fraction)>;

// The test: the three arrays made and first touched by the threads that use them, one untimed pass of each kernel,
// then `passes` rounds of copy and triad on a monotonic clock, each kernel's best pass counting. The results are
// checked after the passes. A stop is looked at before the test and between passes: the test then returns soon with
// Kind::Stopped. progress is called on the calling thread after each step.
Result<MemoryBandwidthResult> measureMemoryBandwidth(const Options& options, const std::atomic<bool>& stop,
                                                     const Progress& progress = {});

} // namespace ostrel::bandwidth

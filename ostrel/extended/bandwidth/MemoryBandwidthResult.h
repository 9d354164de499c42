// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QString>
#include <QtGlobal>
#include <array>

namespace ostrel {

// The memory-bandwidth test: STREAM's copy and triad kernels over arrays far
// larger than the last-level cache, on every CPU the process may run on.
// Rates in GB/s are 10^9 bytes a second.
struct MemoryBandwidthResult
{
    int threads = 0;
    // The size of each of the three arrays.
    qint64 arrayBytes = 0;
    // The arrays were made smaller than the rule asks for, to fit the available memory.
    bool reduced = false;
    double copyGbps = 0.0;
    double triadGbps = 0.0;
    // They were made smaller to fit the process's control group's memory limit, lower than the available memory.
    bool groupLimited = false;

    friend bool operator==(const MemoryBandwidthResult&, const MemoryBandwidthResult&) = default;
};

namespace bandwidth {

// The kernels in the order they run: their key in JSON and metric labels, their name on screen, and the bytes
// that one element moves (read and written), by which a pass's time becomes a rate.
struct Kernel
{
    const char* key; // "copy"
    const char16_t* title; // "复制"
    int bytesPerElement;
    double MemoryBandwidthResult::*gbps;
};

inline constexpr std::array<Kernel, 2> kKernels { {
    { "copy", u"复制", 2 * int(sizeof(double)), &MemoryBandwidthResult::copyGbps },
    { "triad", u"三元组", 3 * int(sizeof(double)), &MemoryBandwidthResult::triadGbps },
} };

// Why the memory-bandwidth test gave no result, or why a stored result was refused. The message is a complete
// sentence for the user (empty after a stop).
struct BandwidthError
{
    enum class Kind {
        // A stop was requested.
        Stopped,
        // /proc/meminfo says nothing of the available memory.
        NoMemoryFigure,
        // Arrays that fit a quarter of the available memory would largely stay in the cache.
        TooLittleMemory,
        // The arrays could not be allocated.
        OutOfMemory,
        // The kernels' results are not what they must be.
        WrongResult,
    };

    Kind kind = Kind::Stopped;
    QString message;
};

template <typename T> using Result = platform::Result<T, BandwidthError>;

} // namespace bandwidth

} // namespace ostrel

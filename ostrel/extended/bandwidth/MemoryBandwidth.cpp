// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/bandwidth/MemoryBandwidth.h"

#include "ostrel/extended/bandwidth/Kernels.h"
#include "ostrel/machine/SystemFiles.h"
#include "platform/Clock.h"

#include <QDir>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>

namespace ostrel::bandwidth {

namespace {

QByteArray fileText(const QString& path)
{
    return machine::readSystemFile(path).trimmed();
}

// "32768K", "1M" or a plain number of bytes, as sysfs writes cache sizes.
std::optional<qint64> cacheSize(QByteArray text)
{
    qint64 unit = 1;
    if (text.endsWith('K'))
        unit = qint64(1) << 10;
    else if (text.endsWith('M'))
        unit = qint64(1) << 20;
    else if (text.endsWith('G'))
        unit = qint64(1) << 30;
    if (unit != 1)
        text.chop(1);
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || number <= 0 || number > std::numeric_limits<qint64>::max() / unit)
        return std::nullopt;
    return number * unit;
}

struct FreeArray
{
    void operator()(double* array) const { std::free(array); }
};
using Array = std::unique_ptr<double[], FreeArray>;

// Cache-line aligned and untouched, so the pages land where the thread that first writes them runs.
Array uninitialisedArray(std::ptrdiff_t elements)
{
    constexpr std::size_t line = 64;
    const std::size_t bytes = (std::size_t(elements) * sizeof(double) + line - 1) / line * line;
    return Array(static_cast<double*>(std::aligned_alloc(line, bytes)));
}

BandwidthError stopped()
{
    return { BandwidthError::Kind::Stopped, QString() };
}

} // namespace

std::optional<qint64> lastLevelCacheBytes(const QString& sysRoot)
{
    const QDir caches(sysRoot + QStringLiteral("/devices/system/cpu/cpu0/cache"));
    int highestLevel = 0;
    std::optional<qint64> bytes;
    for (const QString& index : caches.entryList({ QStringLiteral("index*") }, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = caches.filePath(index) + QLatin1Char('/');
        if (fileText(folder + QStringLiteral("type")) == "Instruction")
            continue;
        bool ok = false;
        const int level = fileText(folder + QStringLiteral("level")).toInt(&ok);
        const std::optional<qint64> size = cacheSize(fileText(folder + QStringLiteral("size")));
        if (!ok || !size || level < highestLevel)
            continue;
        if (level > highestLevel)
            bytes.reset();
        highestLevel = level;
        bytes = std::max(bytes.value_or(0), *size);
    }
    return bytes;
}

Result<ArraySize> arraySize(std::optional<qint64> lastLevelCache, const platform::MemoryRoom& memory)
{
    const qint64 availableMemory = memory.bytes;
    const qint64 cache = std::clamp<qint64>(lastLevelCache.value_or(0), 0, qint64(1) << 40);
    const qint64 wanted = (std::max(4 * cache, kLeastArrayBytes) + kMiB - 1) / kMiB * kMiB;
    const qint64 room = std::max<qint64>(availableMemory, 0) / 4 / 3 / kMiB * kMiB;
    if (wanted <= room)
        return ArraySize { wanted, false, memory.groupLimited };
    const qint64 smallest = std::max(2 * cache, kSmallestArrayBytes);
    if (room < smallest) {
        return BandwidthError { BandwidthError::Kind::TooLittleMemory,
                                QStringLiteral("可用内存不足，无法测试内存带宽：需要 %1 MiB 可用内存，只有 %2 MiB%3")
                                    .arg((12 * smallest + kMiB - 1) / kMiB)
                                    .arg(std::max<qint64>(availableMemory, 0) / kMiB)
                                    .arg(memory.groupLimited ? QStringLiteral("（cgroup 内存限制）") : QString()) };
    }
    return ArraySize { room, true, memory.groupLimited };
}

Result<ArraySize> arraySize(const Options& options)
{
    if (options.arrayBytes)
        return ArraySize { *options.arrayBytes, false };
    const std::optional<platform::MemoryRoom> available = platform::memoryRoom(options.procRoot, options.cgroupRoot);
    if (!available) {
        return BandwidthError { BandwidthError::Kind::NoMemoryFigure,
                                QStringLiteral("无法得知可用内存（%1 中没有 MemAvailable），未测试内存带宽")
                                    .arg(QDir::toNativeSeparators(options.procRoot + QStringLiteral("/meminfo"))) };
    }
    return arraySize(lastLevelCacheBytes(options.sysRoot), *available);
}

Result<MemoryBandwidthResult> measureMemoryBandwidth(const Options& options, const std::atomic<bool>& stop,
                                                     const Progress& progress)
{
    if (stop.load())
        return stopped();
    const Result<ArraySize> size = arraySize(options);
    if (!size)
        return size.error();
    const int threads = std::max(1, options.threads);
    const int passes = std::max(1, options.passes);
    const std::ptrdiff_t n = std::max<std::ptrdiff_t>(1, std::ptrdiff_t(size->bytes / qint64(sizeof(double))));
    const Array a = uninitialisedArray(n);
    const Array b = uninitialisedArray(n);
    const Array c = uninitialisedArray(n);
    if (!a || !b || !c) {
        return BandwidthError { BandwidthError::Kind::OutOfMemory,
                                QStringLiteral("无法分配测试内存带宽所需的 %1 MiB 内存").arg(3 * size->bytes / kMiB) };
    }

    // STREAM's values: every pass writes the same numbers, which the check below knows.
    constexpr double bValue = 1.0;
    constexpr double cValue = 2.0;
    constexpr double q = 3.0;
    const std::array<std::function<void()>, kKernels.size()> kernels {
        [&] { copyKernel(a.get(), b.get(), n, threads); },
        [&] { triadKernel(a.get(), b.get(), c.get(), q, n, threads); },
    };
    // The first touch, the untimed pass of each kernel, then the timed ones.
    const int steps = 1 + int(kernels.size()) * (1 + passes);
    int done = 0;
    const auto stepDone = [&] {
        if (progress)
            progress(double(++done) / steps);
        return !stop.load();
    };

    fillArrays(a.get(), b.get(), c.get(), n, bValue, cValue, threads);
    if (!stepDone())
        return stopped();
    for (const std::function<void()>& kernel : kernels) {
        kernel();
        if (!stepDone())
            return stopped();
    }
    const platform::MonotonicClock clock;
    std::array<double, kKernels.size()> best;
    best.fill(std::numeric_limits<double>::infinity());
    for (int pass = 0; pass < passes; ++pass) {
        for (std::size_t k = 0; k < kernels.size(); ++k) {
            const double start = clock.now();
            kernels[k]();
            best[k] = std::min(best[k], clock.now() - start);
            if (!stepDone())
                return stopped();
        }
    }

    // Triad ran last. Reading the results also keeps the passes from being optimised away.
    const double triadValue = bValue + q * cValue;
    for (const std::ptrdiff_t i : { std::ptrdiff_t(0), n / 3, 2 * n / 3, n - 1 }) {
        if (a[i] != triadValue || b[i] != bValue || c[i] != cValue) {
            return BandwidthError { BandwidthError::Kind::WrongResult,
                                    QStringLiteral("内存带宽测试的计算结果不对，未得出数值") };
        }
    }
    MemoryBandwidthResult result;
    result.threads = threads;
    result.arrayBytes = qint64(n) * qint64(sizeof(double));
    result.reduced = size->reduced;
    result.groupLimited = size->reduced && size->groupLimited;
    for (std::size_t k = 0; k < kKernels.size(); ++k) {
        // A pass too short for the clock to see counts as one tick of a nanosecond.
        const double seconds = std::max(best[k], 1e-9);
        result.*kKernels[k].gbps = double(kKernels[k].bytesPerElement) * double(n) / seconds / 1e9;
    }
    return result;
}

} // namespace ostrel::bandwidth

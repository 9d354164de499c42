// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/bandwidth/Kernels.h"
#include "ostrel/extended/bandwidth/MemoryBandwidth.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace ostrel;
using namespace ostrel::bandwidth;

namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text);
}

struct Cache
{
    const char* level;
    const char* type;
    const char* size;
};

// A /sys with CPU 0's caches and a meminfo file in dir.
Options fakeMachine(const QTemporaryDir& dir, const std::vector<Cache>& caches, const QByteArray& meminfo)
{
    Options options;
    options.sysRoot = dir.filePath(QStringLiteral("sys"));
    options.procRoot = dir.path();
    // No control group: the machine's own must not count.
    options.cgroupRoot = dir.filePath(QStringLiteral("cgroup"));
    for (std::size_t i = 0; i < caches.size(); ++i) {
        const QString index = options.sysRoot + QStringLiteral("/devices/system/cpu/cpu0/cache/index%1/").arg(i);
        writeFile(index + QStringLiteral("level"), QByteArray(caches[i].level) + '\n');
        writeFile(index + QStringLiteral("type"), QByteArray(caches[i].type) + '\n');
        writeFile(index + QStringLiteral("size"), QByteArray(caches[i].size) + '\n');
    }
    writeFile(dir.filePath(QStringLiteral("meminfo")), meminfo);
    return options;
}

QByteArray meminfo(qint64 availableMiB)
{
    return "MemTotal:       32000000 kB\nMemFree:         1000 kB\nMemAvailable:   "
        + QByteArray::number(availableMiB * 1024) + " kB\nBuffers:          1000 kB\n";
}

std::vector<double> ramp(std::size_t n, double start, double step)
{
    std::vector<double> values(n);
    for (std::size_t i = 0; i < n; ++i)
        values[i] = start + step * double(i);
    return values;
}

} // namespace

TEST(MemoryBandwidth, SizesArraysFromCacheAndAvailableMemory)
{
    const std::vector<Cache> desktop {
        { "1", "Data", "32K" }, { "1", "Instruction", "32K" }, { "2", "Unified", "1024K" }, { "3", "Unified", "32768K" }
    };
    struct Case
    {
        const char* name;
        std::vector<Cache> caches;
        QByteArray meminfo;
        qint64 bytes; // 0: refused
        bool reduced;
        BandwidthError::Kind refusal;
    };
    using Kind = BandwidthError::Kind;
    const Case cases[] = {
        { "four times the last-level cache", desktop, meminfo(24 * 1024), 128 * kMiB, false, {} },
        { "room to spare at a quarter", desktop, meminfo(1536), 128 * kMiB, false, {} },
        { "smaller to fit a quarter", desktop, meminfo(1024), 85 * kMiB, true, {} },
        { "refused below twice the cache", desktop, meminfo(767), 0, false, Kind::TooLittleMemory },
        { "at least 64 MiB",
          { { "2", "Unified", "512K" }, { "3", "Unified", "8M" } },
          meminfo(8192),
          64 * kMiB,
          false,
          {} },
        { "whole MiB", { { "3", "Unified", "20000K" } }, meminfo(8192), 79 * kMiB, false, {} },
        { "an instruction cache is not the last level",
          { { "3", "Unified", "32768K" }, { "4", "Instruction", "1G" } },
          meminfo(8192),
          128 * kMiB,
          false,
          {} },
        { "unknown cache: 64 MiB", {}, meminfo(8192), 64 * kMiB, false, {} },
        { "unknown cache: down to 16 MiB", {}, meminfo(240), 20 * kMiB, true, {} },
        { "unknown cache: refused below 16 MiB", {}, meminfo(191), 0, false, Kind::TooLittleMemory },
        { "no MemAvailable", desktop, "MemTotal:       32000000 kB\nMemFree:  1000 kB\n", 0, false,
          Kind::NoMemoryFigure },
        { "MemAvailable without its unit", desktop, "MemAvailable:   2000000\n", 0, false, Kind::NoMemoryFigure },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const Result<ArraySize> size = arraySize(fakeMachine(dir, c.caches, c.meminfo));
        if (c.bytes == 0) {
            ASSERT_FALSE(size);
            EXPECT_EQ(size.error().kind, c.refusal);
            EXPECT_FALSE(size.error().message.isEmpty());
        } else {
            ASSERT_TRUE(size) << size.error().message.toStdString();
            EXPECT_EQ(*size, (ArraySize { c.bytes, c.reduced, false }));
        }
    }
    // A control group's limit is the room when it is the lower, and says so.
    const Result<ArraySize> limited = arraySize(32 * kMiB, platform::MemoryRoom { 1024 * kMiB, true });
    ASSERT_TRUE(limited);
    EXPECT_EQ(*limited, (ArraySize { 85 * kMiB, true, true }));
}

TEST(MemoryBandwidth, KernelsComputeEveryElementOnOneAndTwoThreads)
{
    // Odd, so the two threads' parts differ in length.
    const std::size_t n = 1001;
    for (const int threads : { 1, 2 }) {
        SCOPED_TRACE(threads);
        std::vector<double> a(n, -1.0), b(n, -1.0), c(n, -1.0);
        fillArrays(a.data(), b.data(), c.data(), std::ptrdiff_t(n), 1.5, 2.5, threads);
        EXPECT_EQ(a, std::vector<double>(n, 0.0));
        EXPECT_EQ(b, std::vector<double>(n, 1.5));
        EXPECT_EQ(c, std::vector<double>(n, 2.5));

        b = ramp(n, 0.5, 0.25);
        c = ramp(n, 1000.0, -1.0);
        copyKernel(a.data(), b.data(), std::ptrdiff_t(n), threads);
        EXPECT_EQ(a, b);
        triadKernel(a.data(), b.data(), c.data(), 3.0, std::ptrdiff_t(n), threads);
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_EQ(a[i], b[i] + 3.0 * c[i]) << i;
    }
}

TEST(MemoryBandwidth, MeasuresSmallArraysAndStepsProgressToTheEnd)
{
    for (const int threads : { 1, 2 }) {
        SCOPED_TRACE(threads);
        Options options;
        options.threads = threads;
        options.arrayBytes = 64 * 1024;
        options.passes = 3;
        // Not read when the size is given.
        options.procRoot = QStringLiteral("/nonexistent");
        std::vector<double> fractions;
        const std::atomic<bool> stop { false };
        const Result<MemoryBandwidthResult> result
            = measureMemoryBandwidth(options, stop, [&](double fraction) { fractions.push_back(fraction); });
        ASSERT_TRUE(result) << result.error().message.toStdString();
        EXPECT_EQ(result->threads, threads);
        EXPECT_EQ(result->arrayBytes, 64 * 1024);
        EXPECT_FALSE(result->reduced);
        for (const double rate : { result->copyGbps, result->triadGbps })
            EXPECT_TRUE(std::isfinite(rate) && rate > 0.0) << rate;
        // The first touch, one untimed and three timed passes of each kernel.
        ASSERT_EQ(fractions.size(), 9u);
        EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
        EXPECT_GT(fractions.front(), 0.0);
        EXPECT_EQ(fractions.back(), 1.0);
    }
}

TEST(MemoryBandwidth, StopsBeforeTheStartAndBetweenPasses)
{
    Options options;
    options.threads = 2;
    options.arrayBytes = 64 * 1024;
    std::atomic<bool> stop { true };
    int calls = 0;
    const auto counting = [&](double) {
        // Asked to stop during the third step.
        if (++calls == 3)
            stop = true;
    };
    Result<MemoryBandwidthResult> result = measureMemoryBandwidth(options, stop, counting);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, BandwidthError::Kind::Stopped);
    EXPECT_TRUE(result.error().message.isEmpty());
    EXPECT_EQ(calls, 0);

    stop = false;
    result = measureMemoryBandwidth(options, stop, counting);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, BandwidthError::Kind::Stopped);
    EXPECT_EQ(calls, 3);
}

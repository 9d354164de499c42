// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/latency/Latency.h"

#include "platform/Clock.h"
#include "platform/MemoryRoom.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel::latency {

namespace {

// The loads of the first, untimed pass of a point, which warms it and tells how long a load takes.
constexpr qint64 kEstimateLoads = 8 * 1024;
// The loads between two looks at the stop: a few milliseconds where each load goes to main memory.
constexpr qint64 kChunkLoads = 16 * 1024;

LatencyError stoppedError()
{
    return { LatencyError::Kind::Stopped, QString() };
}

bool stopped(const Stop& stop)
{
    return stop && stop();
}

Curve emptyCurve(const QString& name)
{
    return {
        name, QStringLiteral("工作集"), QStringLiteral("B"), QStringLiteral("延迟"), QStringLiteral("s"), true, {}
    };
}

// One curve's chase over a buffer as large as the largest working set.
class Sweep
{
public:
    Sweep(const Options& options, Line* lines)
        : m_options(options)
        , m_lines(lines)
        , m_cpuSeconds(options.cpuSeconds ? options.cpuSeconds : threadCpuSeconds)
    {
    }

    std::optional<Point> point(qint64 bytes)
    {
        const qint64 count = std::max<qint64>(1, bytes / kLineBytes);
        if (!linkCycle(m_lines, count, quint64(bytes), m_options.stop))
            return std::nullopt;
        m_position = m_lines;
        return settledPoint(count * kLineBytes, [this] { return measure(); });
    }

private:
    // Follows `loads` pointers in chunks, looking at the stop between them.
    bool run(qint64 loads)
    {
        for (qint64 done = 0; done < loads; done += kChunkLoads) {
            m_position = chase(m_position, std::min(kChunkLoads, loads - done));
            if (stopped(m_options.stop))
                return false;
        }
        return true;
    }

    std::optional<Reading> measure()
    {
        const double estimateStart = m_clock.now();
        if (!run(kEstimateLoads))
            return std::nullopt;
        const double perLoad = std::max(1e-12, (m_clock.now() - estimateStart) / double(kEstimateLoads));
        const double wanted = std::min(m_options.passSeconds / perLoad, double(m_options.mostLoads));
        const qint64 loads = std::max(m_options.leastLoads, (qint64(wanted) + 15) / 16 * 16);
        double best = std::numeric_limits<double>::infinity();
        double wall = 0.0;
        double cpu = 0.0;
        for (int pass = 0; pass < std::max(1, m_options.passes); ++pass) {
            const double cpuStart = m_cpuSeconds();
            const double start = m_clock.now();
            if (!run(loads))
                return std::nullopt;
            const double seconds = m_clock.now() - start;
            cpu += m_cpuSeconds() - cpuStart;
            wall += seconds;
            best = std::min(best, seconds);
        }
        return Reading { best / double(loads), wall > 0.0 ? std::clamp(cpu / wall, 0.0, 1.0) : 1.0 };
    }

    const Options& m_options;
    Line* m_lines;
    std::function<double()> m_cpuSeconds;
    platform::MonotonicClock m_clock;
    Line* m_position = nullptr;
};

} // namespace

std::vector<qint64> workingSetsUpTo(qint64 largest)
{
    largest = largest / kLineBytes * kLineBytes;
    std::vector<qint64> sets;
    if (largest < kSmallestWorkingSet)
        return sets;
    for (qint64 x = kSmallestWorkingSet; x < largest; x *= 2) {
        for (const qint64 set : { x, x * 3 / 2 / kLineBytes * kLineBytes }) {
            if (set < largest - largest / 10)
                sets.push_back(set);
        }
    }
    sets.push_back(largest);
    return sets;
}

WorkingSets workingSets(std::optional<qint64> lastLevelCache, qint64 roomBytes)
{
    const qint64 wanted = std::max(kLeastLargestWorkingSet, 4 * lastLevelCache.value_or(0));
    const qint64 allowed = std::max<qint64>(0, roomBytes / 4);
    return { workingSetsUpTo(std::min(wanted, allowed)), allowed < wanted };
}

std::optional<Point> settledPoint(qint64 bytes, const MeasureOnce& measure)
{
    std::optional<Reading> best;
    for (int attempt = 0; attempt <= kRemeasures; ++attempt) {
        const std::optional<Reading> reading = measure();
        if (!reading)
            return std::nullopt;
        if (reading->onCpuShare >= kLeastOnCpuShare)
            return Point { bytes, reading->seconds, reading->onCpuShare, false };
        if (!best || reading->onCpuShare > best->onCpuShare)
            best = reading;
    }
    return Point { bytes, best->seconds, best->onCpuShare, true };
}

platform::Result<LatencyResult, LatencyError> measureLatency(const Options& options)
{
    if (stopped(options.stop))
        return stoppedError();
    const std::vector<CacheLevel> layout = cacheLayout(options.sysRoot);
    WorkingSets sets;
    if (options.workingSets) {
        sets.bytes = *options.workingSets;
    } else {
        const std::optional<platform::MemoryRoom> room = platform::memoryRoom(options.procRoot, options.cgroupRoot);
        if (!room)
            return LatencyError { LatencyError::Kind::NoMemoryFigure,
                                  QStringLiteral("读不到可用内存的大小，无法测量内存延迟。") };
        sets = workingSets(lastLevelCacheBytes(layout), room->bytes);
    }
    if (sets.bytes.empty())
        return LatencyError { LatencyError::Kind::TooLittleMemory, QStringLiteral("可用内存太少，无法测量内存延迟。") };

    LatencyResult result;
    result.reduced = sets.reduced;
    const qint64 largest = *std::max_element(sets.bytes.begin(), sets.bytes.end());
    std::vector<Pages> curves { Pages::Huge };
    if (options.smallPages)
        curves.push_back(Pages::Small);
    const double total = double(curves.size() * sets.bytes.size());
    int done = 0;

    const PinnedThread pinned;
    for (const Pages pages : curves) {
        std::optional<ChaseBuffer> buffer = ChaseBuffer::map(largest, pages);
        if (!buffer)
            return LatencyError { LatencyError::Kind::OutOfMemory,
                                  QStringLiteral("无法为内存延迟测量分配 %1 内存。").arg(bytesText(largest)) };
        const std::optional<qint64> hugeBefore = anonHugePagesBytes(options.procRoot);
        if (!buffer->touch(options.stop))
            return stoppedError();
        Curve curve = emptyCurve(QStringLiteral("4 KiB 页"));
        if (pages == Pages::Huge) {
            const std::optional<qint64> hugeAfter = anonHugePagesBytes(options.procRoot);
            const qint64 bufferBytes = buffer->lineCount() * kLineBytes;
            result.hugePages = hugeBefore && hugeAfter && *hugeAfter - *hugeBefore >= bufferBytes / 2;
            curve.name = result.hugePages ? QStringLiteral("2 MiB 大页") : QStringLiteral("4 KiB 页（大页未生效）");
        }
        Sweep sweep(options, buffer->lines());
        for (const qint64 bytes : sets.bytes) {
            const std::optional<Point> point = sweep.point(bytes);
            if (!point)
                return stoppedError();
            curve.points.push_back(*point);
            if (options.progress)
                options.progress(double(++done) / total);
        }
        result.curves.push_back(std::move(curve));
    }
    result.figures = latencyFigures(result.curves.front(), result.curves.size() > 1 ? &result.curves[1] : nullptr,
                                    result.hugePages, layout);
    return result;
}

} // namespace ostrel::latency

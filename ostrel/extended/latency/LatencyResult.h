// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ResultCurve.h"
#include "platform/Result.h"

#include <QJsonObject>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace ostrel::latency {

// One working set's latency: the time of one dependent load.
struct Point
{
    qint64 bytes = 0;
    double seconds = 0.0;
    // The measuring thread's time on a CPU over the wall time it took.
    double onCpuShare = 1.0;
    // Even the last remeasure ran with too little of the CPU: the latency reads too slow.
    bool disturbed = false;

    friend bool operator==(const Point&, const Point&) = default;
};

// A curve as a chart draws it: x in bytes on a logarithmic axis, y in seconds.
struct Curve
{
    QString name;
    QString xTitle;
    QString xUnit;
    QString yTitle;
    QString yUnit;
    bool logarithmicX = true;
    std::vector<Point> points;

    friend bool operator==(const Curve&, const Curve&) = default;
};

// The curve as any test's curve: x in bytes, y in seconds.
ResultCurve resultCurve(const Curve& curve);

// A latency read off the curves for the summary.
struct Figure
{
    enum class Kind {
        L1,
        L2,
        L3,
        // Main memory, at four times the last-level cache.
        Memory,
        // What the 4 KiB pages cost over huge pages at the largest working set.
        Tlb,
    };
    Kind kind = Kind::L1;
    // The cache level's size; 0 for Memory and Tlb.
    qint64 cacheBytes = 0;
    // The working set the latency was read at.
    qint64 atBytes = 0;
    double seconds = 0.0;

    friend bool operator==(const Figure&, const Figure&) = default;
};

struct LatencyResult
{
    // The huge-page curve first, then the 4 KiB-page one when it was measured.
    std::vector<Curve> curves;
    std::vector<Figure> figures;
    // The huge pages were there: the first curve ran on them, not on 4 KiB pages.
    bool hugePages = false;
    // Fewer working sets than asked for, to stay within a quarter of the memory the process may take.
    bool reduced = false;

    friend bool operator==(const LatencyResult&, const LatencyResult&) = default;
};

// One level of CPU 0's caches, as sysfs lists it.
struct CacheLevel
{
    enum class Type { Data, Instruction, Unified };
    int level = 0;
    Type type = Type::Unified;
    qint64 bytes = 0;

    friend bool operator==(const CacheLevel&, const CacheLevel&) = default;
};

// CPU 0's caches from <sysRoot>/devices/system/cpu/cpu0/cache/index*/{level,type,size}, in the order listed;
// entries that do not read are left out.
std::vector<CacheLevel> cacheLayout(const QString& sysRoot);

// The largest data or unified cache of the highest level; nothing when none is listed.
std::optional<qint64> lastLevelCacheBytes(const std::vector<CacheLevel>& layout);

// The curve's latency at `bytes`, on a straight line between the points around it in log x; nothing outside the
// curve.
std::optional<double> latencyAt(const Curve& curve, qint64 bytes);

// The figures: each cache level's latency at half its size (L1 data, L2, L3) and main memory's at four times the
// last-level cache, from the huge-page curve; the TLB's cost at the largest working set both curves have (4 KiB
// pages less huge pages), when the huge pages were there. A level the layout lacks, or a size the curve does not
// reach, gives no figure.
std::vector<Figure> latencyFigures(const Curve& hugePages, const Curve* smallPages, bool hugePagesThere,
                                   const std::vector<CacheLevel>& layout);

// A latency as it reads: two significant digits below 10 ns ("1.5 ns"), whole nanoseconds above ("187 ns").
QString latencyText(double seconds);

// "1.5 KiB", "48 KiB", "260 MiB", "1 GiB".
QString bytesText(qint64 bytes);

// "内存延迟：L1 1.5 ns，L2 5.4 ns，L3 21 ns，内存 187 ns".
QString summaryText(const LatencyResult& result);

// The cache sizes, where each figure was read, the TLB's cost and what made the measurement less sure.
QString toolTipText(const LatencyResult& result);

// The member ("curves[1].points[3]") that does not read as a value of its kind.
struct LatencyJsonError
{
    QString member;
};

// Each curve as curveJson() writes it, with "onCpuShare": [share, …] beside its points.
QJsonObject toJson(const LatencyResult& result);
platform::Result<LatencyResult, LatencyJsonError> fromJson(const QJsonObject& json);

} // namespace ostrel::latency

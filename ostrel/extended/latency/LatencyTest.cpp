// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/latency/LatencyTest.h"

#include "ostrel/extended/JsonMembers.h"
#include "ostrel/extended/latency/Latency.h"

#include <QStringList>
#include <algorithm>

namespace ostrel::latency {

namespace {

class Test final : public ExtendedTest<LatencyResult>
{
public:
    std::size_t steps() const override { return 1; }

    ExtendedResult<LatencyResult> run(const FinishedRun&, const std::atomic<bool>& stop,
                                      ExtendedProgress& progress) override
    {
        progress.showState(state());
        progress.showStep(0, 0.0);
        Options options;
        options.stop = [&stop] { return stop.load(); };
        options.progress = [&progress](double fraction) { progress.showStep(0, fraction); };
        platform::Result<LatencyResult, LatencyError> result = measureLatency(options);
        if (result)
            return std::move(result).value();
        if (result.error().kind == LatencyError::Kind::Stopped)
            return ExtendedError { ExtendedError::Kind::Stopped, {} };
        return ExtendedError { ExtendedError::Kind::Failed, result.error().message };
    }
};

// A figure of the result by its kind.
std::optional<double> seconds(const LatencyResult& result, Figure::Kind kind)
{
    const auto found = std::find_if(result.figures.begin(), result.figures.end(),
                                    [kind](const Figure& figure) { return figure.kind == kind; });
    if (found == result.figures.end())
        return std::nullopt;
    return found->seconds;
}

std::optional<double> nanoseconds(const LatencyResult& result, Figure::Kind kind)
{
    const std::optional<double> s = seconds(result, kind);
    return s ? std::optional(*s * 1e9) : std::nullopt;
}

struct Level
{
    Figure::Kind kind;
    const char* key;
    const char16_t* title;
};

constexpr Level kLevels[] {
    { Figure::Kind::L1, "l1", u"L1 延迟 ns" },
    { Figure::Kind::L2, "l2", u"L2 延迟 ns" },
    { Figure::Kind::L3, "l3", u"L3 延迟 ns" },
    { Figure::Kind::Memory, "dram", u"内存延迟 ns" },
};

} // namespace

std::unique_ptr<ExtendedTest<LatencyResult>> makeTest(const ExtendedSetup&)
{
    return std::make_unique<Test>();
}

QString line(const LatencyResult& result)
{
    QStringList disturbed;
    for (const Curve& curve : result.curves) {
        QStringList sizes;
        for (const Point& point : curve.points) {
            if (point.disturbed)
                sizes << bytesText(point.bytes);
        }
        if (!sizes.isEmpty())
            disturbed << curve.name + QLatin1Char(' ') + sizes.join(QStringLiteral("、"));
    }
    const QString summary = summaryText(result);
    if (disturbed.isEmpty())
        return summary;
    return summary + QStringLiteral("（干扰：") + disturbed.join(QStringLiteral("；")) + QStringLiteral("）");
}

QString details(const LatencyResult& result, const FinishedRun&)
{
    return toolTipText(result);
}

QString historyTip(const LatencyResult& result)
{
    const QString tip = toolTipText(result);
    return tip.isEmpty() ? summaryText(result) : summaryText(result) + QLatin1Char('\n') + tip;
}

QString state()
{
    return QStringLiteral("正在测试 内存延迟");
}

QList<ostrel::Figure<LatencyResult>> figures()
{
    QList<ostrel::Figure<LatencyResult>> figures;
    for (const Level& level : kLevels) {
        // Main memory's latency, the figure machines are compared by, gets a column of its own in the list of runs.
        figures << ostrel::Figure<LatencyResult> { QLatin1String(level.key) + QStringLiteral("_ns"),
                                                   QString::fromUtf16(level.title),
                                                   1,
                                                   Better::Lower,
                                                   level.kind == Figure::Kind::Memory,
                                                   [kind = level.kind](const LatencyResult& r) {
                                                       return nanoseconds(r, kind);
                                                   } };
    }
    figures << ostrel::Figure<LatencyResult> { QStringLiteral("tlb_ns"),
                                               QStringLiteral("TLB 开销 ns"),
                                               1,
                                               Better::Lower,
                                               false,
                                               [](const LatencyResult& r) {
                                                   return nanoseconds(r, Figure::Kind::Tlb);
                                               } };
    return figures;
}

QList<ResultCurve> curves(const LatencyResult& result)
{
    QList<ResultCurve> curves;
    for (const Curve& curve : result.curves)
        curves << resultCurve(curve);
    return curves;
}

QList<MetricFamily> metrics(const LatencyResult& result)
{
    MetricFamily levels { QStringLiteral("ostrel_memory_latency_seconds"),
                          QStringLiteral("Time of one dependent load at half of each cache level and at four times "
                                         "the last-level cache (dram), on huge pages."),
                          {} };
    for (const Level& level : kLevels) {
        if (const std::optional<double> s = seconds(result, level.kind))
            levels.samples << MetricSample { *s, { { QStringLiteral("level"), QLatin1String(level.key) } } };
    }
    QList<MetricFamily> families;
    if (!levels.samples.isEmpty())
        families << levels;
    if (const std::optional<double> tlb = seconds(result, Figure::Kind::Tlb))
        families << MetricFamily { QStringLiteral("ostrel_memory_tlb_miss_cost_seconds"),
                                   QStringLiteral("What a load costs more on 4 KiB pages than on huge pages at the "
                                                  "largest working set."),
                                   { MetricSample { *tlb } } };
    return families;
}

QJsonObject rowJson(const LatencyResult& result)
{
    return toJson(result);
}

ExtendedResult<LatencyResult> rowFromJson(const QJsonObject& object)
{
    platform::Result<LatencyResult, LatencyJsonError> read = fromJson(object);
    if (!read)
        return json::badMember(read.error().member);
    return std::move(read).value();
}

} // namespace ostrel::latency

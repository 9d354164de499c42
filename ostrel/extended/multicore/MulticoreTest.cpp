// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/multicore/MulticoreTest.h"

#include "ostrel/engine/FiveTests.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/extended/JsonMembers.h"

#include <limits>

namespace ostrel::multicore {

namespace {

constexpr int kStepsPerTest = 20;

const TestKind& testKind(std::size_t workload)
{
    // kMulticoreWorkloads are the first three tests, in the same order.
    return kTestKinds[workload];
}

QString workloadTitle(std::size_t workload)
{
    return QString::fromUtf16(testKind(workload).title);
}

QString seconds(double value)
{
    return QString::number(value, 'f', 2);
}

std::array<double, 3> singleElapsed(const FinishedRun& run)
{
    return { run.elapsed[0], run.elapsed[1], run.elapsed[2] };
}

class Test final : public ExtendedTest<MulticoreResult>
{
public:
    explicit Test(const ExtendedSetup& setup)
        : m_workloads(setup.workloads)
        , m_stopwatch(setup.stopwatch)
        , m_threads(setup.threads)
    {
    }

    std::size_t steps() const override { return kMulticoreWorkloads.size(); }

    ExtendedResult<MulticoreResult> run(const FinishedRun& finished, const std::atomic<bool>& stop,
                                        ExtendedProgress& progress) override
    {
        const double stepsPerWorkload = double(kStepsPerTest * m_threads);
        std::array<int, 3> steps {};
        const std::optional<MulticoreResult> result = runMulticore(
            m_workloads, m_threads, m_stopwatch, stop, singleElapsed(finished),
            [&](std::size_t workload) {
                progress.showState(QStringLiteral("正在测试 多核 ") + workloadTitle(workload));
                progress.showStep(workload, 0.0);
            },
            [&](std::size_t workload) {
                // Pi has one step a copy; the others twenty.
                const double total = workload == 2 ? double(m_threads) : stepsPerWorkload;
                progress.showStep(workload, [&] { return ++steps[workload] / total; });
            });
        if (!result)
            return ExtendedError { ExtendedError::Kind::Stopped, {} };
        return *result;
    }

private:
    Workloads& m_workloads;
    const platform::Clock& m_stopwatch;
    int m_threads;
};

} // namespace

std::unique_ptr<ExtendedTest<MulticoreResult>> makeTest(const ExtendedSetup& setup)
{
    return std::make_unique<Test>(setup);
}

QString line(const MulticoreResult& result)
{
    return QStringLiteral("多核：%1 线程，加速 %2 倍").arg(result.threads).arg(result.overall, 0, 'f', 2);
}

QString details(const MulticoreResult& result, const FinishedRun& run)
{
    const std::array<double, 3> single = singleElapsed(run);
    QStringList lines;
    for (std::size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        lines << QStringLiteral("%1：%2 线程 %3 秒，单线程 %4 秒，加速 %5 倍")
                     .arg(workloadTitle(i))
                     .arg(result.threads)
                     .arg(seconds(result.elapsed[i]), seconds(single[i]))
                     .arg(result.speedup[i], 0, 'f', 2);
    }
    return lines.join(QLatin1Char('\n'));
}

QString historyTip(const MulticoreResult& result)
{
    QStringList parts;
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i)
        parts << QStringLiteral("%1 %2 倍").arg(workloadTitle(i)).arg(result.speedup[i], 0, 'f', 2);
    return QStringLiteral("%1 线程：").arg(result.threads) + parts.join(QStringLiteral("，"));
}

QList<Figure<MulticoreResult>> figures()
{
    QList<Figure<MulticoreResult>> figures;
    figures << Figure<MulticoreResult> { QStringLiteral("threads"),
                                         QStringLiteral("多核线程数"),
                                         0,
                                         Better::Neither,
                                         false,
                                         [](const MulticoreResult& r) { return double(r.threads); } };
    // The workloads share their keys with the first three of the five tests.
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        figures << Figure<MulticoreResult> { QStringLiteral("elapsed_") + QLatin1String(kMulticoreWorkloads[i]),
                                             QStringLiteral("多核 %1 用时（秒）").arg(workloadTitle(i)),
                                             3,
                                             Better::Lower,
                                             false,
                                             [i](const MulticoreResult& r) { return r.elapsed[i]; } };
    }
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        figures << Figure<MulticoreResult> { QStringLiteral("speedup_") + QLatin1String(kMulticoreWorkloads[i]),
                                             QStringLiteral("多核加速 %1").arg(workloadTitle(i)),
                                             2,
                                             Better::Higher,
                                             false,
                                             [i](const MulticoreResult& r) { return r.speedup[i]; } };
    }
    figures << Figure<MulticoreResult> { QStringLiteral("speedup_overall"),
                                         QStringLiteral("多核加速"),
                                         2,
                                         Better::Higher,
                                         true,
                                         [](const MulticoreResult& r) { return r.overall; } };
    return figures;
}

QJsonObject toJson(const MulticoreResult& result)
{
    QJsonObject elapsed;
    QJsonObject speedup;
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        elapsed.insert(QLatin1String(kMulticoreWorkloads[i]), result.elapsed[i]);
        speedup.insert(QLatin1String(kMulticoreWorkloads[i]), result.speedup[i]);
    }
    speedup.insert(QStringLiteral("overall"), result.overall);
    return {
        { QStringLiteral("threads"), result.threads },
        { QStringLiteral("elapsed"), elapsed },
        { QStringLiteral("speedup"), speedup },
    };
}

ExtendedResult<MulticoreResult> fromJson(const QJsonObject& object)
{
    using json::badMember;
    MulticoreResult result;
    const std::optional<qint64> threads = json::wholeNumber(object.value(QStringLiteral("threads")), 1.0);
    if (!threads || *threads > std::numeric_limits<int>::max())
        return badMember(QStringLiteral("threads"));
    result.threads = int(*threads);
    const QJsonObject elapsed = object.value(QStringLiteral("elapsed")).toObject();
    const QJsonObject speedup = object.value(QStringLiteral("speedup")).toObject();
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        const QString key = QLatin1String(kMulticoreWorkloads[i]);
        const std::optional<double> time = json::nonNegative(elapsed.value(key));
        if (!time)
            return badMember(QStringLiteral("elapsed.") + key);
        const std::optional<double> factor = json::nonNegative(speedup.value(key));
        if (!factor)
            return badMember(QStringLiteral("speedup.") + key);
        result.elapsed[i] = *time;
        result.speedup[i] = *factor;
    }
    const std::optional<double> overall = json::nonNegative(speedup.value(QStringLiteral("overall")));
    if (!overall)
        return badMember(QStringLiteral("speedup.overall"));
    result.overall = *overall;
    return result;
}

QList<MetricFamily> metrics(const MulticoreResult& result)
{
    MetricFamily durations { QStringLiteral("ostrel_multicore_duration_seconds"),
                             QStringLiteral("Time from the copies' common start to the end of the last one."),
                             {} };
    MetricFamily speedups { QStringLiteral("ostrel_multicore_speedup"),
                            QStringLiteral(
                                "Threads times the single-copy time over the copies' time, per processor test."),
                            {} };
    for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        const QString test = QLatin1String(kMulticoreWorkloads[i]);
        durations.samples << MetricSample { result.elapsed[i], { { QStringLiteral("test"), test } } };
        speedups.samples << MetricSample { result.speedup[i], { { QStringLiteral("test"), test } } };
    }
    return {
        { QStringLiteral("ostrel_multicore_threads"),
          QStringLiteral("Copies of each processor test run at once in the multi-core test."),
          { { double(result.threads) } } },
        durations,
        speedups,
        { QStringLiteral("ostrel_multicore_speedup_overall"),
          QStringLiteral("Geometric mean of the three multi-core speed-ups."),
          { { result.overall } } },
    };
}

} // namespace ostrel::multicore

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/multicore/Multicore.h"

namespace ostrel::multicore {

// What the test does, for the programs' --help.
inline constexpr char kHelp[]
    = "the multi-core test (the integer, floating-point and pi tests on every CPU at once, and their speed-up)";
inline constexpr char kSummary[] = "the processor tests on every CPU at once";

// The multi-core test as the extended pass runs it: runMulticore() with the run's own single times, three steps on
// the bar.
std::unique_ptr<ExtendedTest<MulticoreResult>> makeTest(const ExtendedSetup& setup);

// "多核：2 线程，加速 1.98 倍"
QString line(const MulticoreResult& result);
// One line per workload: its copies' time, the single run's time, the speed-up.
QString details(const MulticoreResult& result, const FinishedRun& run);
// "2 线程：整数运算 1.98 倍，…"
QString historyTip(const MulticoreResult& result);
// threads, elapsed_<workload>, speedup_<workload>, speedup_overall.
QList<Figure<MulticoreResult>> figures();
// {"threads", "elapsed": {"int", "double", "pi"}, "speedup": {"int", "double", "pi", "overall"}}
QJsonObject toJson(const MulticoreResult& result);
// Refuses fewer than one thread and negative or non-finite times and speed-ups.
ExtendedResult<MulticoreResult> fromJson(const QJsonObject& object);
// ostrel_multicore_threads, _duration_seconds{test}, _speedup{test}, _speedup_overall.
QList<MetricFamily> metrics(const MulticoreResult& result);

} // namespace ostrel::multicore

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/latency/LatencyResult.h"

#include <QJsonObject>
#include <QString>

// The memory-latency measurement as a row of the extended tests' table.
namespace ostrel::latency {

// What the test does, for the programs' --help.
inline constexpr char kHelp[]
    = "a memory-latency test (a random pointer chase over working sets from 4 KiB to beyond the last-level cache, "
      "on huge and on 4 KiB pages, about 10 seconds)";
inline constexpr char kSummary[] = "how fast memory answers as the working set grows";

// The test as the extended pass runs it: measureLatency() with both curves, one step on the bar.
std::unique_ptr<ExtendedTest<LatencyResult>> makeTest(const ExtendedSetup& setup);

// summaryText(), and "（干扰：2 MiB 大页 64 MiB、96 MiB）" naming the points measured with too little of the CPU.
QString line(const LatencyResult& result);
// toolTipText().
QString details(const LatencyResult& result, const FinishedRun& run);
// The levels' latencies, then the details.
QString historyTip(const LatencyResult& result);
// The run's state text while the test runs: "正在测试 内存延迟".
QString state();
// l1_ns, l2_ns, l3_ns, dram_ns and tlb_ns: each empty when the result has no such figure.
QList<ostrel::Figure<LatencyResult>> figures();
// The result's curves in its own units (bytes, seconds), each as curveJson() writes it.
QList<ResultCurve> curves(const LatencyResult& result);
// ostrel_memory_latency_seconds{level="l1|l2|l3|dram"} and ostrel_memory_tlb_miss_cost_seconds, for the figures
// the result has.
QList<MetricFamily> metrics(const LatencyResult& result);
// latency::toJson() and fromJson(), a refusal naming the member.
QJsonObject rowJson(const LatencyResult& result);
ExtendedResult<LatencyResult> rowFromJson(const QJsonObject& object);

} // namespace ostrel::latency

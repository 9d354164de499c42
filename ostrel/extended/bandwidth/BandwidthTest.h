// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/ExtendedTest.h"
#include "ostrel/extended/bandwidth/MemoryBandwidthResult.h"

#include <QJsonObject>
#include <QString>

namespace ostrel::bandwidth {

// What the test does, for the programs' --help.
inline constexpr char kHelp[]
    = "a memory-bandwidth test (STREAM's copy and triad on every CPU, over arrays larger than the caches)";
inline constexpr char kSummary[] = "the memory's copy and triad rates";

// The test as the extended pass runs it: measureMemoryBandwidth() on the run's threads, one step on the bar.
std::unique_ptr<ExtendedTest<MemoryBandwidthResult>> makeTest(const ExtendedSetup& setup);

// "内存带宽：复制 12.3 GB/s，三元组 13.4 GB/s"
QString line(const MemoryBandwidthResult& result);
// "2 线程，每个数组 256 MiB", and "（可用内存不足，数组已缩小）" when reduced ("（cgroup 内存限制不足，数组已缩小）"
// when the control group's limit was what they had to fit).
QString details(const MemoryBandwidthResult& result, const FinishedRun& run);
// Both rates, then the details.
QString historyTip(const MemoryBandwidthResult& result);
// The run's state text while the test runs: "正在测试 内存带宽".
QString state();
// threads, arrayBytes, copy_gbps, triad_gbps.
QList<Figure<MemoryBandwidthResult>> figures();
// reduced: "true" or "false".
QList<TextColumn<MemoryBandwidthResult>> texts();
// {"threads": n, "arrayBytes": n, "copy": {"gbps": x}, "triad": {"gbps": y}}, and "reduced": true when it was,
// "groupLimited": true when a control group's limit made it so.
QJsonObject toJson(const MemoryBandwidthResult& result);
// The same read back: threads at least 1, arrayBytes a whole number of at least 1 up to 2^53, rates finite and not
// negative, "reduced" and "groupLimited" absent or booleans; anything else is refused, naming the member.
ExtendedResult<MemoryBandwidthResult> fromJson(const QJsonObject& object);
// ostrel_memory_bandwidth_bytes_per_second{kernel="copy"} and {kernel="triad"}, in bytes a second.
QList<MetricFamily> metrics(const MemoryBandwidthResult& result);

} // namespace ostrel::bandwidth

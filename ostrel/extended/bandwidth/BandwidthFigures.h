// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/bandwidth/MemoryBandwidthResult.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace ostrel::bandwidth {

// How the memory-bandwidth test shows, stores and exports its result.

// "内存带宽：复制 12.3 GB/s，三元组 13.4 GB/s"
QString bandwidthLine(const MemoryBandwidthResult& result);
// "2 线程，每个数组 256 MiB", and "（可用内存不足，数组已缩小）" when reduced.
QString bandwidthDetails(const MemoryBandwidthResult& result);
// The run's state text while the test runs.
QString bandwidthState();

// The key of the result's member in a run's JSON.
inline constexpr const char* kJsonKey = "memoryBandwidth";
// {"threads": n, "arrayBytes": n, "copy": {"gbps": x}, "triad": {"gbps": y}}, and "reduced": true when it was.
QJsonObject bandwidthToJson(const MemoryBandwidthResult& result);
// The same read back: threads at least 1, arrayBytes a whole number of at least 1 up to 2^53, rates finite and not
// negative, "reduced" absent or a boolean; anything else is a BadValue naming the member.
Result<MemoryBandwidthResult> bandwidthFromJson(const QJsonValue& value);

// The result's samples in Prometheus' text exposition format, with their HELP and TYPE lines:
// ostrel_memory_bandwidth_bytes_per_second{kernel="copy"} and {kernel="triad"}, in bytes a second.
QString bandwidthPrometheusText(const MemoryBandwidthResult& result);

} // namespace ostrel::bandwidth

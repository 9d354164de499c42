// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/HistoryError.h"
#include "ostrel/history/RunRecord.h"

#include <QByteArray>
#include <QString>

namespace ostrel::history {

// A run in Prometheus' text exposition format, for node_exporter's textfile collector: each metric family with its
// HELP and TYPE lines, gauges in base units (seconds, bytes a second), no sample timestamps (the collector refuses
// them). Families of tests the run did not have are left out.
//
//   ostrel_score{test="int"}, ostrel_overall_score, ostrel_stage_duration_seconds{test="int"}, then each extended
//   test's own families (its metrics(), in table order), ostrel_last_run_timestamp_seconds,
//   ostrel_info{version, cpu_model}
QByteArray prometheusText(const RunRecord& run);

// A label value with backslash, double quote and line feed escaped, without the surrounding quotes.
QString prometheusLabelValue(const QString& value);

// Writes prometheusText(run) to path with platform::writeWholeFile(): a scrape never reads half a file, a failed
// write leaves the old one, and a link or device at the path is refused. The collector only reads files whose names
// end in ".prom".
Status writePrometheusFile(const QString& path, const RunRecord& run);

} // namespace ostrel::history

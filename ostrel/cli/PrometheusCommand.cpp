// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/CommandOutput.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/PrometheusText.h"

namespace ostrel::cli {

int writePrometheus(const history::RunRecord& run, const QString& file, const Streams& streams)
{
    if (const history::Status written = history::writePrometheusFile(file, run); !written) {
        fail(streams, written.error().message);
        return kExitProblem;
    }
    print(streams.out, QStringLiteral("已写入 Prometheus 文本：%1\n").arg(file));
    return kExitSuccess;
}

int prometheusFromHistory(history::HistoryStore& store, const QString& file, const Streams& streams)
{
    int status = kExitSuccess;
    const std::optional<history::RunRecord> latest = latestRun(store, streams, status);
    if (!latest)
        return status;
    return writePrometheus(*latest, file, streams);
}

} // namespace ostrel::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/CommandOutput.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"

namespace ostrel::cli {

int exportRuns(history::HistoryStore& store, const QString& file, bool all, const Streams& streams)
{
    int status = kExitSuccess;
    const std::optional<history::RunRecord> latest = latestRun(store, streams, status);
    if (!latest)
        return status;
    history::ResultsDocument document { latest->machine, { *latest } };
    if (all) {
        const auto runs = store.runs();
        if (!runs) {
            fail(streams, runs.error().message);
            return kExitProblem;
        }
        document.runs = *runs;
    }
    // A run the history gave back without some value would make a file no reader takes.
    const qsizetype found = document.runs.size();
    document.runs.removeIf([](const history::RunRecord& run) { return !history::hasEveryValue(run); });
    if (document.runs.isEmpty()) {
        fail(streams, QStringLiteral("nothing exported: the history holds values no run could have written"));
        return kExitProblem;
    }
    if (document.runs.size() < found) {
        fail(streams,
             QStringLiteral("%1 run(s) left out: the history holds values for them that no run could have written")
                 .arg(found - document.runs.size()));
    }
    if (const history::Status written = history::writeResultsFile(file, document); !written) {
        fail(streams, written.error().message);
        return kExitProblem;
    }
    print(streams.out, QStringLiteral("已导出 %1 次测试：%2\n").arg(document.runs.size()).arg(file));
    return kExitSuccess;
}

} // namespace ostrel::cli

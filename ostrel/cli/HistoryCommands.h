// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/RunRecord.h"
#include "ostrel/history/RunStatistics.h"

#include <QString>
#include <cstdio>

namespace ostrel::history {
class HistoryStore;
}

namespace ostrel::cli {

// What ostrel-cli does with the history instead of a run. Each prints to
// `out`, says what went wrong on `err` (after the program's name) and
// returns the exit status.
struct Streams
{
    std::FILE* out;
    std::FILE* err;
    QString program;
};

enum class HistoryFormat { Text, Json, Csv };

// The runs, newest first.
int printHistory(history::HistoryStore& store, HistoryFormat format, const Streams& streams);

// This machine's latest run, or every run, with its machine facts, as a
// results document in `file`.
int exportRuns(history::HistoryStore& store, const QString& file, bool all, const Streams& streams);

// This machine's latest run beside the latest run in `file`, test by test.
int compareWithFile(history::HistoryStore& store, const QString& file, const Streams& streams);

// The run as Prometheus text in `file`, replacing it.
int writePrometheus(const history::RunRecord& run, const QString& file, const Streams& streams);
// The latest run of the history, the same way.
int prometheusFromHistory(history::HistoryStore& store, const QString& file, const Streams& streams);

// The extended results of two runs side by side, for --compare; empty when neither run has any.
QString extendedComparisonText(const history::RunRecord& mine, const history::RunRecord& theirs);

// The lines of a run in the plain history listing.
QString historyLine(const history::RunRecord& run, const history::RunRecord* previous);

// How repeated runs spread, test by test, for the terminal.
QString summaryText(const history::RunsSummary& summary);

// Below the figures of repeated runs a Stop ended: they hold only the runs that finished before it.
QString stoppedRunsText(int finishedRuns);

// Runs repeated until steady (--runs auto): how many it took, how many other work disturbed and were left out, and
// over the counted ones each test's median, minimum, maximum and standard deviation, naming the tests that never
// settled. mostRuns is the limit the runs had.
QString steadyText(const QList<history::RunRecord>& runs, int mostRuns);
// {"runs", "disturbedRuns", "steady", "unsteady": [keys], "tests": {"int": {"median", "min", "max",
// "standardDeviation"}, ...}}; "tests" is empty when every run was disturbed.
QJsonObject steadyToJson(const QList<history::RunRecord>& runs, int mostRuns);

} // namespace ostrel::cli

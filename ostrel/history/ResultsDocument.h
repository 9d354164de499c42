// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/HistoryError.h"
#include "ostrel/history/RunRecord.h"
#include "platform/Clock.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

namespace ostrel::history {

// Runs as JSON and CSV, and the results document that carries one machine's runs to another.
//
// A run as JSON: {"finishedAt": <unix seconds>, "scores": {"int", "double", "pi", "memory", "disk"},
// "overall", "elapsed": {the same five keys, seconds or null}, "version", "machine": {...},
// "conditions": [keys]}, and for runs that had the extended tests one member per test, named by its key and shaped
// by its toJson() (ostrel/extended/ExtendedTests.h), each absent when its test did not run; "interference":
// {"int": {"cpuWait", "steal", "frequency", "disturbed"}, ...} for runs that measured it, a figure the machine could
// not give absent.

QJsonObject machineToJson(const machine::MachineFacts& machine);
// Missing or mistyped members read as empty.
machine::MachineFacts machineFromJson(const QJsonObject& object);

// The extended results alone, as a run's members: each test's under its key. Reading refuses a member that is no
// object or that its test refuses, naming the test and the member; a member no test has is ignored.
void insertExtended(QJsonObject& object, const ExtendedResults& results);
Result<ExtendedResults> extendedFromJson(const QJsonObject& object);

// The interference figures alone, as the member "interference" (none when there are none). Reading refuses a
// figure that is not a share from 0 to 1; "disturbed" is never read, the figures decide it.
void insertInterference(QJsonObject& object, const QMap<QString, machine::Interference>& interference);
Result<QMap<QString, machine::Interference>> interferenceFromJson(const QJsonObject& object);

QJsonObject runToJson(const RunRecord& run);
// The run ostrel-cli --json has just run, as it tells it: "scores", "overall", "lastTime" (its finishedAt),
// "lastTimeText" as the panel showed it, "problems" (one line each), and its extended results and interference
// figures as above.
QJsonObject runReportToJson(const RunRecord& run, const QString& lastTimeText, const QStringList& problems);
// Rejects an object without a finite "finishedAt", all five scores and "overall", or with a malformed extended
// result; the rest is optional.
Result<RunRecord> runFromJson(const QJsonObject& object);

// What in a run no version of this program could have written (Plausibility.h), named with its value; empty when
// there is nothing. `now` is the wall-clock time that bounds the finishing time.
QString implausibleValue(const RunRecord& run, double now);
// The machine's texts that are too long to have been read from a machine; empty when there is none.
QString implausibleMachine(const machine::MachineFacts& machine);
// The run with every such value made absent: the time, a score or the overall score NaN, an elapsed time empty, a
// text empty. A score above what its elapsed time allows is the score that goes.
RunRecord withoutImplausibleValues(RunRecord run, double now);

// The runs in the given order as a JSON array.
QJsonArray runsToJson(const QList<RunRecord>& runs);

// The runs as CSV: a header line, then one line per run (RFC 4180 quoting, CRLF-free "\n" line ends). Numbers are
// written at full precision; elapsed times of runs that have none are empty, and so are the extended results' columns
// of runs without them.
QString runsToCsv(const QList<RunRecord>& runs);

// {"format": "ostrel-results", "version": 1, "machine": {...}, "runs": [...]}
inline constexpr char kDocumentFormat[] = "ostrel-results";
inline constexpr int kDocumentVersion = 1;

struct ResultsDocument
{
    machine::MachineFacts machine;
    // Newest first.
    QList<RunRecord> runs;
};

QByteArray writeResultsDocument(const ResultsDocument& document);
// Writes the document whole or not at all, a failed write leaving any earlier file whole (platform::writeWholeFile()).
Status writeResultsFile(const QString& path, const ResultsDocument& document);
// Checks format and version; a document of a newer version, of another format, without runs or not JSON is
// refused with a message saying which, and so is one with a value this program could never have written
// (implausibleValue(), with `clock` for now), naming the run and the value. Runs are returned newest first whatever
// their order in the file.
Result<ResultsDocument> readResultsDocument(const QByteArray& json,
                                            const platform::Clock& clock = platform::WallClock {});
Result<ResultsDocument> readResultsFile(const QString& path, const platform::Clock& clock = platform::WallClock {});

} // namespace ostrel::history

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/CommandOutput.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"

namespace ostrel::cli {

int compareWithFile(history::HistoryStore& store, const QString& file, const Streams& streams)
{
    // A file that is no results document is a usage error, whatever the history holds.
    const auto other = history::readResultsFile(file);
    if (!other) {
        fail(streams, other.error().message);
        return kExitBadArguments;
    }
    int status = kExitSuccess;
    const std::optional<history::RunRecord> mine = latestRun(store, streams, status);
    if (!mine)
        return status;
    const history::RunRecord& theirs = other->runs.constFirst();

    QString text = QStringLiteral("本机：%1，%2\n对方：%3，%4\n\n")
                       .arg(mine->machine.cpuModel, history::finishedAtText(mine->finishedAt), other->machine.cpuModel,
                            history::finishedAtText(theirs.finishedAt));
    text += padded(QStringLiteral("测试"), 14) + QStringLiteral("  本机     对方     差       用时比\n");
    for (const history::ComparisonRow& row : history::compareRuns(*mine, theirs)) {
        const QString ratio = row.elapsedRatio ? QString::number(*row.elapsedRatio, 'f', 3) : QStringLiteral("—");
        text += QStringLiteral("%1  %2  %3  %4  %5\n")
                    .arg(padded(row.title, 14))
                    .arg(points(row.scoreA), -7)
                    .arg(points(row.scoreB), -7)
                    .arg(signedPoints(row.difference), -7)
                    .arg(ratio);
    }
    text += QStringLiteral("\n用时比小于 1：本机更快。\n");
    text += extendedComparisonText(*mine, theirs);
    print(streams.out, text);
    return kExitSuccess;
}

QString extendedComparisonText(const history::RunRecord& mine, const history::RunRecord& theirs)
{
    const QList<ExtendedComparisonRow> rows = compareExtended(mine.extended, theirs.extended);
    if (rows.isEmpty())
        return {};
    constexpr int kTitleColumns = 30;
    QString text = QLatin1Char('\n') + padded(QStringLiteral("扩展测试"), kTitleColumns)
        + QStringLiteral("  本机        对方        比值\n");
    const QString none = QStringLiteral("—");
    // The dash takes one column on a terminal, whatever padded() counts for it.
    const QString noValue = none + QString(9, QLatin1Char(' '));
    for (const ExtendedComparisonRow& row : rows) {
        const QString ratio = row.a && row.b && *row.b != 0.0 ? QString::number(*row.a / *row.b, 'f', 3) : none;
        text += QStringLiteral("%1  %2  %3  %4\n")
                    .arg(padded(row.figure.title, kTitleColumns))
                    .arg(row.a ? padded(row.figure.text(*row.a), 10) : noValue)
                    .arg(row.b ? padded(row.figure.text(*row.b), 10) : noValue)
                    .arg(ratio);
    }
    return text;
}

} // namespace ostrel::cli

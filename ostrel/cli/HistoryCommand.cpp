// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/CommandOutput.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"

#include <QJsonDocument>
#include <cmath>

namespace ostrel::cli {

QString historyLine(const history::RunRecord& run, const history::RunRecord* previous)
{
    QString line = history::finishedAtText(run.finishedAt) + QStringLiteral("  总分 ") + points(run.overall);
    if (previous && !std::isnan(run.overall - previous->overall))
        line += QStringLiteral(" (%1)").arg(signedPoints(run.overall - previous->overall));
    for (std::size_t stage = 0; stage < kTestKinds.size(); ++stage)
        line += QStringLiteral("  %1 %2").arg(QString::fromUtf16(kTestKinds[stage].title), points(run.scores[stage]));
    for (const QString& condition : run.conditions)
        line += QStringLiteral("\n    ") + history::skewConditionText(condition);
    for (const QString& disturbed : history::interferenceLines(run))
        line += QStringLiteral("\n    ") + disturbed;
    return line;
}

int printHistory(history::HistoryStore& store, HistoryFormat format, const Streams& streams)
{
    const auto runs = store.runs();
    if (!runs) {
        fail(streams, runs.error().message);
        return kExitProblem;
    }
    switch (format) {
    case HistoryFormat::Json:
        print(streams.out, QString::fromUtf8(QJsonDocument(history::runsToJson(*runs)).toJson()));
        break;
    case HistoryFormat::Csv:
        print(streams.out, history::runsToCsv(*runs));
        break;
    case HistoryFormat::Text:
        if (runs->isEmpty())
            print(streams.out, QStringLiteral("您还从未进行过性能测试。\n"));
        for (qsizetype i = 0; i < runs->size(); ++i) {
            const history::RunRecord* previous = i + 1 < runs->size() ? &runs->at(i + 1) : nullptr;
            print(streams.out, historyLine(runs->at(i), previous) + QLatin1Char('\n'));
        }
        break;
    }
    return kExitSuccess;
}

} // namespace ostrel::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandOutput.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/SteadyRuns.h"

#include <QJsonArray>

namespace ostrel::cli {

namespace {

// Each test's scores over the counted runs, in kTestKinds order.
QList<double> stageScores(const QList<history::RunRecord>& runs, std::size_t stage)
{
    QList<double> scores;
    for (const history::RunRecord& run : runs)
        scores << run.scores[stage];
    return scores;
}

QStringList titlesOf(const QStringList& keys)
{
    QStringList titles;
    for (const QString& key : keys)
        titles << history::interferenceTitle(key);
    return titles;
}

} // namespace

QString stoppedRunsText(int finishedRuns)
{
    return QStringLiteral("已停止：以上只含停止前完成的 %1 次测试。").arg(finishedRuns);
}

QString steadyText(const QList<history::RunRecord>& runs, int mostRuns)
{
    const QList<history::RunRecord> counted = history::countedRuns(runs);
    const history::SteadyState state = history::steadyState(runs, { .mostRuns = mostRuns });
    QString text = QStringLiteral("%1 次测试").arg(runs.size());
    if (counted.size() < runs.size())
        text += QStringLiteral("，其中 %1 次受到其他程序干扰，未计入").arg(runs.size() - counted.size());
    if (counted.isEmpty())
        return text + QStringLiteral("；没有未受干扰的测试。\n");
    text += QStringLiteral("（分）：\n");
    text += padded(QStringLiteral("测试"), 14) + QStringLiteral("  中位数   最低     最高     标准差\n");
    const history::RunsSummary summary = history::summarizeRuns(counted);
    for (std::size_t stage = 0; stage < kTestKinds.size(); ++stage) {
        const history::Spread& spread = summary.stages[stage];
        text += QStringLiteral("%1  %2  %3  %4  %5\n")
                    .arg(padded(QString::fromUtf16(kTestKinds[stage].title), 14))
                    .arg(points(spread.median), -7)
                    .arg(points(spread.min), -7)
                    .arg(points(spread.max), -7)
                    .arg(points(history::standardDeviation(stageScores(counted, stage))));
    }
    if (state.unsteady.isEmpty())
        text += QStringLiteral("成绩已稳定：每项测试的标准差不超过 %1 分。\n").arg(history::SteadyRule::kMostDeviation);
    else
        text += QStringLiteral("未能稳定：%1\n").arg(titlesOf(state.unsteady).join(QStringLiteral("、")));
    return text;
}

QJsonObject steadyToJson(const QList<history::RunRecord>& runs, int mostRuns)
{
    const QList<history::RunRecord> counted = history::countedRuns(runs);
    const history::SteadyState state = history::steadyState(runs, { .mostRuns = mostRuns });
    QJsonObject tests;
    if (!counted.isEmpty()) {
        const history::RunsSummary summary = history::summarizeRuns(counted);
        for (std::size_t stage = 0; stage < kTestKinds.size(); ++stage) {
            const history::Spread& spread = summary.stages[stage];
            tests.insert(QLatin1String(kTestKinds[stage].key),
                         QJsonObject { { QStringLiteral("median"), spread.median },
                                       { QStringLiteral("min"), spread.min },
                                       { QStringLiteral("max"), spread.max },
                                       { QStringLiteral("standardDeviation"),
                                         history::standardDeviation(stageScores(counted, stage)) } });
        }
    }
    return {
        { QStringLiteral("runs"), int(runs.size()) },
        { QStringLiteral("disturbedRuns"), int(runs.size() - counted.size()) },
        { QStringLiteral("steady"), state.unsteady.isEmpty() },
        { QStringLiteral("unsteady"), QJsonArray::fromStringList(state.unsteady) },
        { QStringLiteral("tests"), tests },
    };
}

QString summaryText(const history::RunsSummary& summary)
{
    QString text = QStringLiteral("%1 次测试（分）：\n").arg(summary.runCount);
    text += padded(QStringLiteral("测试"), 14) + QStringLiteral("  中位数   最低     最高     差距\n");
    auto row = [&](const QString& title, const history::Spread& spread) {
        text += QStringLiteral("%1  %2  %3  %4  %5\n")
                    .arg(padded(title, 14))
                    .arg(points(spread.median), -7)
                    .arg(points(spread.min), -7)
                    .arg(points(spread.max), -7)
                    .arg(points(spread.spread));
    };
    for (std::size_t stage = 0; stage < kTestKinds.size(); ++stage)
        row(QString::fromUtf16(kTestKinds[stage].title), summary.stages[stage]);
    row(QStringLiteral("总分"), summary.overall);
    if (summary.unsteady) {
        text += QStringLiteral("成绩不稳定：有测试的差距超过 %1 分。").arg(history::RunsSummary::kUnsteadySpread);
        if (summary.conditions.isEmpty() && summary.disturbed.isEmpty())
            text += QStringLiteral("测试时没有发现其他影响成绩的情况。");
        text += QLatin1Char('\n');
        for (const QString& condition : summary.conditions)
            text += QStringLiteral("  ") + history::skewConditionText(condition) + QLatin1Char('\n');
    }
    if (summary.disturbedRuns > 0) {
        text += QStringLiteral("%1 次测试受到其他程序干扰：%2\n")
                    .arg(summary.disturbedRuns)
                    .arg(titlesOf(summary.disturbed).join(QStringLiteral("、")));
    }
    return text;
}

} // namespace ostrel::cli

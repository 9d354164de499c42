// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/HistoryCommands.h"

#include "ostrel/cli/CommandLine.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/PrometheusText.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/SteadyRuns.h"

#include <QJsonDocument>
#include <cmath>

namespace ostrel::cli {

namespace {

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toUtf8().constData(), to);
}

void fail(const Streams& streams, const QString& message)
{
    print(streams.err, streams.program + QStringLiteral(": ") + message + QLatin1Char('\n'));
}

// Empty for no value, here and in signedPoints().
QString points(double value)
{
    return std::isnan(value) ? QString() : QString::number(value, 'f', 2);
}

// +1.20 / −3.40, with a real minus sign.
QString signedPoints(double value)
{
    if (std::isnan(value))
        return QString();
    const QString digits = QString::number(std::abs(value), 'f', 2);
    if (digits == QStringLiteral("0.00"))
        return QStringLiteral("±0.00");
    return (value > 0 ? QStringLiteral("+") : QStringLiteral("−")) + digits;
}

// Titles padded to a common width, counting a CJK character as two columns.
QString padded(const QString& text, int columns)
{
    int width = 0;
    for (const QChar c : text)
        width += c.unicode() >= 0x1100 ? 2 : 1;
    return text + QString(std::max(0, columns - width), QLatin1Char(' '));
}

std::optional<history::RunRecord> latestRun(history::HistoryStore& store, const Streams& streams, int& status)
{
    const auto latest = store.latest();
    if (!latest) {
        fail(streams, latest.error().message);
        status = kExitProblem;
        return std::nullopt;
    }
    if (!latest.value()) {
        fail(streams, QStringLiteral("there is no finished run in the history yet: run %1 first").arg(streams.program));
        status = kExitProblem;
    }
    return latest.value();
}

} // namespace

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

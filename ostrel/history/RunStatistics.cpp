// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/RunStatistics.h"

#include "ostrel/engine/Panel.h"

#include <algorithm>
#include <vector>

namespace ostrel::history {

namespace {

Spread spreadOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    Spread spread;
    spread.min = values.front();
    spread.max = values.back();
    spread.spread = spread.max - spread.min;
    spread.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    return spread;
}

QJsonObject spreadToJson(const Spread& spread)
{
    return {
        { QStringLiteral("median"), spread.median },
        { QStringLiteral("min"), spread.min },
        { QStringLiteral("max"), spread.max },
        { QStringLiteral("spread"), spread.spread },
    };
}

std::optional<double> totalElapsed(const RunRecord& run)
{
    double total = 0.0;
    for (const std::optional<double>& elapsed : run.elapsed) {
        if (!elapsed)
            return std::nullopt;
        total += *elapsed;
    }
    return total;
}

ComparisonRow row(QString key, QString title, double a, double b, std::optional<double> elapsedA,
                  std::optional<double> elapsedB)
{
    ComparisonRow row { std::move(key), std::move(title), a, b, a - b, elapsedA, elapsedB, std::nullopt };
    if (elapsedA && elapsedB && *elapsedB > 0.0)
        row.elapsedRatio = *elapsedA / *elapsedB;
    return row;
}

} // namespace

RunsSummary summarizeRuns(const QList<RunRecord>& runs)
{
    RunsSummary summary;
    summary.runCount = int(runs.size());
    if (runs.isEmpty())
        return summary;
    for (size_t stage = 0; stage < summary.stages.size(); ++stage) {
        std::vector<double> scores;
        for (const RunRecord& run : runs)
            scores.push_back(run.scores[stage]);
        summary.stages[stage] = spreadOf(std::move(scores));
        summary.unsteady = summary.unsteady || summary.stages[stage].spread > RunsSummary::kUnsteadySpread;
    }
    std::vector<double> overall;
    for (const RunRecord& run : runs)
        overall.push_back(run.overall);
    summary.overall = spreadOf(std::move(overall));

    QStringList seen;
    for (const RunRecord& run : runs) {
        for (const QString& key : run.conditions) {
            if (!seen.contains(key))
                seen << key;
        }
    }
    for (const SkewCondition& condition : kSkewConditions) {
        if (seen.removeAll(QLatin1String(condition.key)) > 0)
            summary.conditions << QLatin1String(condition.key);
    }
    summary.conditions << seen;

    QStringList fiveDisturbed;
    for (const RunRecord& run : runs) {
        const QStringList disturbed = disturbedTests(run);
        summary.disturbedRuns += disturbed.isEmpty() ? 0 : 1;
        for (const QString& key : disturbed) {
            if (!summary.disturbed.contains(key))
                summary.disturbed << key;
        }
    }
    // Five tests in run order first, as disturbedTests() gives them for one run.
    for (const TestKind& kind : kTestKinds) {
        if (summary.disturbed.removeAll(QLatin1String(kind.key)) > 0)
            fiveDisturbed << QLatin1String(kind.key);
    }
    summary.disturbed = fiveDisturbed + summary.disturbed;
    return summary;
}

QJsonObject summaryToJson(const RunsSummary& summary)
{
    QJsonObject object;
    for (size_t stage = 0; stage < summary.stages.size(); ++stage)
        object.insert(QLatin1String(kTestKinds[stage].key), spreadToJson(summary.stages[stage]));
    object.insert(QStringLiteral("overall"), spreadToJson(summary.overall));
    return object;
}

QList<ComparisonRow> compareRuns(const RunRecord& a, const RunRecord& b)
{
    QList<ComparisonRow> rows;
    for (size_t stage = 0; stage < kTestKinds.size(); ++stage)
        rows << row(QLatin1String(kTestKinds[stage].key), QString::fromUtf16(kTestKinds[stage].title), a.scores[stage],
                    b.scores[stage], a.elapsed[stage], b.elapsed[stage]);
    rows << row(QStringLiteral("overall"), QStringLiteral("总分"), a.overall, b.overall, totalElapsed(a),
                totalElapsed(b));
    return rows;
}

} // namespace ostrel::history

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/SteadyRuns.h"

#include "ostrel/engine/Panel.h"

#include <cmath>

namespace ostrel::history {

double standardDeviation(const QList<double>& values)
{
    if (values.size() < 2)
        return 0.0;
    double mean = 0.0;
    for (double value : values)
        mean += value;
    mean /= double(values.size());
    double squares = 0.0;
    for (double value : values)
        squares += (value - mean) * (value - mean);
    return std::sqrt(squares / double(values.size() - 1));
}

SteadyState steadyState(const QList<StageScores>& counted, int runsDone, const SteadyRule& rule)
{
    SteadyState state;
    for (std::size_t stage = 0; stage < ostrel::kTestKinds.size(); ++stage) {
        QList<double> scores;
        for (const StageScores& run : counted)
            scores << run[stage];
        if (scores.size() < SteadyRule::kLeastRuns || standardDeviation(scores) > SteadyRule::kMostDeviation)
            state.unsteady << QLatin1String(ostrel::kTestKinds[stage].key);
    }
    state.done = state.unsteady.isEmpty() || runsDone >= rule.mostRuns;
    return state;
}

QList<RunRecord> countedRuns(const QList<RunRecord>& runs)
{
    QList<RunRecord> counted;
    for (const RunRecord& run : runs) {
        if (!fiveTestsDisturbed(run))
            counted << run;
    }
    return counted;
}

SteadyState steadyState(const QList<RunRecord>& runs, const SteadyRule& rule)
{
    QList<StageScores> scores;
    for (const RunRecord& run : countedRuns(runs))
        scores << run.scores;
    return steadyState(scores, int(runs.size()), rule);
}

} // namespace ostrel::history

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/history/RunRecord.h"

#include <QList>
#include <QStringList>
#include <array>

namespace ostrel::history {

// Runs repeated until their scores agree: at least kLeastRuns counted runs, then one more until every test's score
// has a standard deviation of at most kMostDeviation points over the counted runs, or mostRuns runs are done
// (disturbed runs count towards mostRuns, not towards the figures).
struct SteadyRule
{
    static constexpr int kLeastRuns = 3;
    static constexpr double kMostDeviation = 1.0;
    static constexpr int kDefaultMostRuns = 10;

    int mostRuns = kDefaultMostRuns;
};

using StageScores = std::array<double, RunRecord::kStageCount>;

// The sample standard deviation (n - 1); 0 for fewer than two values.
double standardDeviation(const QList<double>& values);

struct SteadyState
{
    // No further run is needed or allowed.
    bool done = false;
    // The keys (kTestKinds) of the tests whose scores have not settled yet, in run order.
    QStringList unsteady;
};

// Where repeated runs stand after `runsDone` runs, of which `counted` were not disturbed.
SteadyState steadyState(const QList<StageScores>& counted, int runsDone, const SteadyRule& rule = {});

// The same for runs as kept: those with any of the five tests disturbed (fiveTestsDisturbed()) are not counted.
SteadyState steadyState(const QList<RunRecord>& runs, const SteadyRule& rule = {});
// The runs that count towards the figures.
QList<RunRecord> countedRuns(const QList<RunRecord>& runs);

} // namespace ostrel::history

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/SteadyRuns.h"

#include <gtest/gtest.h>

using namespace ostrel::history;

namespace {

StageScores all(double score, double disk = -1)
{
    return { score, score, score, score, disk < 0 ? score : disk };
}

TEST(SteadyRuns, RepeatsUntilEveryTestAgreesOrTheCapIsReached)
{
    EXPECT_NEAR(standardDeviation({ 80, 81, 82 }), 1.0, 1e-12);
    EXPECT_EQ(standardDeviation({ 80 }), 0.0);

    struct Case
    {
        const char* what;
        QList<StageScores> counted;
        int runsDone;
        int mostRuns;
        bool done;
        QStringList unsteady;
    };
    const QStringList every { "int", "double", "pi", "memory", "disk" };
    const Case cases[] = {
        { "two identical runs are not enough", { all(80), all(80) }, 2, 10, false, every },
        { "three that agree", { all(80), all(80.5), all(81) }, 3, 10, true, {} },
        { "a deviation of exactly one point is steady", { all(80), all(81), all(82) }, 3, 10, true, {} },
        { "the disk test wanders", { all(80, 70), all(80, 75), all(80, 72) }, 3, 10, false, { "disk" } },
        { "the cap ends it, naming what never settled",
          { all(80, 70), all(80, 75), all(80, 72) },
          10,
          10,
          true,
          { "disk" } },
        // Disturbed runs count towards the cap only.
        { "disturbed runs left out", { all(80), all(80) }, 5, 10, false, every },
        { "a cap of three", { all(80, 70), all(80, 75), all(80, 72) }, 3, 3, true, { "disk" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SteadyState state = steadyState(c.counted, c.runsDone, SteadyRule { c.mostRuns });
        EXPECT_EQ(state.done, c.done);
        EXPECT_EQ(state.unsteady, c.unsteady);
    }
}

} // namespace

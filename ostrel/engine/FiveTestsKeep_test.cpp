// SPDX-License-Identifier: GPL-3.0-or-later
// What a finished run hands over to be kept in the history, and what it measures around its stages.
#include "ostrel/testing/FiveTestsTest.h"

using namespace ostrel;
using namespace ostrel::testkit;

// A finished run comes back once everything else it writes is done, with its
// stored values and each stage's time; a stopped one never. Why the history
// could not take it is shown after the state it ended with.
TEST_F(FiveTestsTest, AFinishedRunComesBackWithWhatItStoredAndAStoppedOneNever)
{
    allStagesTake(2.5);
    workloads.stageSeconds[QStringLiteral("pi")] = 4.125;
    FiveTests run(dependencies());
    const FiveTests::Ended ended = run.run();
    ASSERT_TRUE(ended.finished);
    EXPECT_TRUE(log.events().last().startsWith(QStringLiteral("text:lastTime=")));
    const FinishedRun& first = *ended.finished;
    EXPECT_EQ(first.finishedAt, defaults.doubleForKey(QStringLiteral("lastTime")));
    EXPECT_EQ(first.elapsed, (std::array<double, 5> { 2.5, 2.5, 4.125, 2.5, 2.5 }));
    EXPECT_EQ(first.scores, (std::array<double, 5> { 87.5, 87.5, 79.375, 87.5, 87.5 }));
    EXPECT_EQ(first.overall, panel.allScoreProgress.value());

    run.showUnkept(QStringLiteral("数据库文件已损坏"));
    EXPECT_EQ(panel.testingState.text(), QStringLiteral("已完成；历史记录未能保存：数据库文件已损坏"));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("disk")), 87.5) << "the stored keys are not lost";

    workloads.newRun();
    workloads.hooks[{ QStringLiteral("disk"), 20 }] = [&] { control.requestStop(); };
    FiveTests stopped(dependencies());
    EXPECT_FALSE(stopped.run().finished);
    const qsizetype eventsAtStop = log.events().size();
    stopped.showUnkept(QStringLiteral("数据库文件已损坏"));
    EXPECT_EQ(log.events().size(), eventsAtStop) << "nothing after a Stop";
}

// What else the machine did is measured around each stage, outside its timed span: the hook moves the stopwatch by
// a whole hour, and no stage's time shows it. The end of a stage a Stop cut short is never measured.
TEST_F(FiveTestsTest, EachStageIsMeasuredBeforeAndAfterItsTimedSpan)
{
    allStagesTake(2.5);
    workloads.stageSeconds[QStringLiteral("pi")] = 4.125;
    QStringList calls;
    auto measured = [&] {
        workloads.newRun();
        FiveTests::Dependencies parts = dependencies();
        parts.aroundStage = [&](const char* key, bool begins) {
            calls << QLatin1String(key) + (begins ? QStringLiteral("+") : QStringLiteral("-"));
            stopwatch.advance(3600.0);
        };
        return FiveTests(std::move(parts));
    };
    const FiveTests::Ended ended = measured().run();
    ASSERT_TRUE(ended.finished);
    EXPECT_EQ(
        calls,
        QStringList({ "int+", "int-", "double+", "double-", "pi+", "pi-", "memory+", "memory-", "disk+", "disk-" }));
    EXPECT_EQ(ended.finished->elapsed, (std::array<double, 5> { 2.5, 2.5, 4.125, 2.5, 2.5 }));

    calls.clear();
    workloads.hooks[{ QStringLiteral("memory"), 3 }] = [&] { control.requestStop(); };
    EXPECT_FALSE(measured().run().finished);
    EXPECT_EQ(calls, QStringList({ "int+", "int-", "double+", "double-", "pi+", "pi-", "memory+" }));
}

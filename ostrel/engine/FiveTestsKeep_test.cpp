// SPDX-License-Identifier: GPL-3.0-or-later
// A finished run handed over to the history, before and after its extended tests.
#include "ostrel/testing/FiveTestsTest.h"

#include <vector>

using namespace ostrel;
using namespace ostrel::testkit;

namespace {

// An extended test's result, as the run sees it: any record under its test's key.
struct SpeedUp
{
    double overall = 0.0;
    friend bool operator==(const SpeedUp&, const SpeedUp&) = default;
};

} // namespace

// A finished run is handed over to be kept once, after everything else it
// writes, with its stored values and each stage's time; a stopped one never.
TEST_F(FiveTestsTest, AFinishedRunIsKeptOnceAndAStoppedOneNever)
{
    allStagesTake(2.5);
    workloads.stageSeconds[QStringLiteral("pi")] = 4.125;
    std::vector<FinishedRun> kept;
    QString answer;
    auto keeping = [&] {
        workloads.newRun();
        FiveTests::Dependencies parts = dependencies();
        parts.keep = [&](const FinishedRun& run) {
            log.add(QStringLiteral("kept"));
            kept.push_back(run);
            return answer;
        };
        return FiveTests(std::move(parts));
    };
    FiveTests run = keeping();
    EXPECT_EQ(run.run(), FiveTests::Outcome::Finished);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(log.events().last(), QStringLiteral("kept"));
    const FinishedRun& first = kept.front();
    EXPECT_EQ(first.finishedAt, defaults.doubleForKey(QStringLiteral("lastTime")));
    EXPECT_EQ(first.elapsed, (std::array<double, 5> { 2.5, 2.5, 4.125, 2.5, 2.5 }));
    EXPECT_EQ(first.scores, (std::array<double, 5> { 87.5, 87.5, 79.375, 87.5, 87.5 }));
    EXPECT_EQ(first.overall, panel.allScoreProgress.value());
    EXPECT_TRUE(run.problems().unkept.isEmpty());

    answer = QStringLiteral("数据库文件已损坏");
    FiveTests unkept = keeping();
    EXPECT_EQ(unkept.run(), FiveTests::Outcome::Finished);
    EXPECT_EQ(unkept.problems().unkept, answer);
    EXPECT_EQ(panel.testingState.text(), QStringLiteral("已完成；历史记录未能保存：数据库文件已损坏"));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("disk")), 87.5) << "the stored keys are not lost";

    workloads.hooks[{ QStringLiteral("disk"), 20 }] = [&] { control.requestStop(); };
    EXPECT_EQ(keeping().run(), FiveTests::Outcome::Stopped);
    EXPECT_EQ(kept.size(), 2u);
}

// The five tests are kept as soon as they end, before the extended tests,
// so that nothing ending the process later loses them; the extended tests
// keep their own results, and why they could not is told like keep's answer.
TEST_F(FiveTestsTest, TheRunIsKeptBeforeTheExtendedTestsAndTheirResultsAfter)
{
    allStagesTake(2.5);
    std::vector<FinishedRun> kept;
    std::vector<FinishedRun> keptExtended;
    std::function<void()> duringExtension = [] {};
    const QString key = QStringLiteral("multicore");
    QString keepAnswer;
    auto extended = [&] {
        workloads.newRun();
        FiveTests::Dependencies parts = dependencies();
        parts.keep = [&](const FinishedRun& run) {
            log.add(QStringLiteral("kept"));
            kept.push_back(run);
            return keepAnswer;
        };
        parts.extend = [&](FinishedRun& run) {
            log.add(QStringLiteral("extended"));
            EXPECT_EQ(run.elapsed[0], 2.5);
            run.extended.set(key, SpeedUp { 5.0 });
            keptExtended.push_back(run);
            duringExtension();
            return QStringLiteral("历史记录文件被其他程序占用");
        };
        return FiveTests(std::move(parts));
    };
    EXPECT_EQ(extended().run(), FiveTests::Outcome::Finished);
    const QStringList events = log.events();
    ASSERT_GE(events.size(), 4);
    EXPECT_TRUE(events[events.size() - 4].startsWith(QStringLiteral("text:lastTime=")));
    EXPECT_EQ(events.mid(events.size() - 3, 2), (QStringList { QStringLiteral("kept"), QStringLiteral("extended") }));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_FALSE(kept.front().extended.find(key));
    ASSERT_EQ(keptExtended.size(), 1u);
    EXPECT_EQ(keptExtended.front().finishedAt, kept.front().finishedAt);
    EXPECT_EQ(panel.testingState.text(), QStringLiteral("已完成；历史记录未能保存：历史记录文件被其他程序占用"));

    // The first failure is the one told.
    keepAnswer = QStringLiteral("历史记录文件已损坏");
    FiveTests unkept = extended();
    EXPECT_EQ(unkept.run(), FiveTests::Outcome::Finished);
    EXPECT_EQ(unkept.problems().unkept, keepAnswer);
    keepAnswer.clear();

    duringExtension = [&] { control.requestStop(); };
    EXPECT_EQ(extended().run(), FiveTests::Outcome::Stopped);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.back().scores[4], 87.5);
}

// What else the machine did is measured around each stage, outside its timed span: the hook moves the stopwatch by
// a whole hour, and no stage's time shows it. The end of a stage a Stop cut short is never measured.
TEST_F(FiveTestsTest, EachStageIsMeasuredBeforeAndAfterItsTimedSpan)
{
    allStagesTake(2.5);
    workloads.stageSeconds[QStringLiteral("pi")] = 4.125;
    QStringList calls;
    std::vector<FinishedRun> kept;
    auto measured = [&] {
        workloads.newRun();
        FiveTests::Dependencies parts = dependencies();
        parts.keep = [&](const FinishedRun& run) {
            kept.push_back(run);
            return QString();
        };
        parts.aroundStage = [&](const char* key, bool begins) {
            calls << QLatin1String(key) + (begins ? QStringLiteral("+") : QStringLiteral("-"));
            stopwatch.advance(3600.0);
        };
        return FiveTests(std::move(parts));
    };
    EXPECT_EQ(measured().run(), FiveTests::Outcome::Finished);
    EXPECT_EQ(
        calls,
        QStringList({ "int+", "int-", "double+", "double-", "pi+", "pi-", "memory+", "memory-", "disk+", "disk-" }));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.front().elapsed, (std::array<double, 5> { 2.5, 2.5, 4.125, 2.5, 2.5 }));

    calls.clear();
    workloads.hooks[{ QStringLiteral("memory"), 3 }] = [&] { control.requestStop(); };
    EXPECT_EQ(measured().run(), FiveTests::Outcome::Stopped);
    EXPECT_EQ(calls, QStringList({ "int+", "int-", "double+", "double-", "pi+", "pi-", "memory+" }));
}

// SPDX-License-Identifier: GPL-3.0-or-later
// A Stop: what a run keeps and that it writes nothing after.
#include "ostrel/testing/FiveTestsTest.h"

#include <thread>

using namespace ostrel;
using namespace ostrel::testkit;

TEST_F(FiveTestsTest, AStopDuringMemoryKeepsTheFinishedStagesAndWritesNothingMore)
{
    allStagesTake(2.5);
    qsizetype eventsAtStop = -1;
    workloads.hooks[{ QStringLiteral("memory"), 3 }] = [&] {
        control.requestStop();
        eventsAtStop = log.events().size();
    };
    EXPECT_FALSE(makeRun().run().finished);

    EXPECT_EQ(log.events().size(), eventsAtStop) << "nothing after the stop";
    EXPECT_EQ(log.matching(QStringLiteral("store:")),
              QStringList({ QStringLiteral("int=87.5"), QStringLiteral("double=87.5"), QStringLiteral("pi=87.5") }));
    EXPECT_EQ(panel.memoryScoreLabel.text(), QString());
    EXPECT_EQ(panel.testingProgress.value(), 63.0);
    EXPECT_EQ(log.matching(QStringLiteral("work:memory")).size(), 3);
}

TEST_F(FiveTestsTest, AStopDuringDiskStillRemovesTheScratchFile)
{
    workloads.hooks[{ QStringLiteral("disk"), 5 }] = [&] { control.requestStop(); };
    EXPECT_FALSE(makeRun().run().finished);
    const QStringList events = log.events();
    EXPECT_EQ(events.last(), QStringLiteral("work:cleanup"));
    EXPECT_EQ(log.matching(QStringLiteral("work:disk")).size(), 5);
    EXPECT_TRUE(log.matching(QStringLiteral("store:disk")).isEmpty());
    EXPECT_TRUE(log.matching(QStringLiteral("store:lastTime")).isEmpty());
}

TEST_F(FiveTestsTest, AStopDuringPiEndsTheRunAtOnce)
{
    workloads.hooks[{ QStringLiteral("pi"), 1 }] = [&] { control.requestStop(); };
    EXPECT_FALSE(makeRun().run().finished);
    EXPECT_EQ(log.events().last(), QStringLiteral("work:pi"));
    EXPECT_EQ(panel.testingProgress.value(), 40.0);
}

TEST_F(FiveTestsTest, ARunStoppedBeforeItBeginsWritesNothing)
{
    control.requestStop();
    EXPECT_FALSE(makeRun().run().finished);
    EXPECT_TRUE(log.events().isEmpty());
}

// The window's Stop: from another thread, while the run works. After the
// stop returns, the run changes nothing; what the stop itself writes stays.
// The stop lands anywhere after the 25th step, but always before the run's
// last disk step ends, so every run of the test is a stopped one.
TEST_F(FiveTestsTest, AfterAStopFromAnotherThreadTheRunWritesNothing)
{
    std::atomic<int> steps { 0 };
    for (int i = 1; i <= 20; ++i) {
        for (const char* stage : { "int", "double", "memory", "disk" }) {
            workloads.hooks[{ QString::fromLatin1(stage), i }] = [&] {
                ++steps;
                std::this_thread::yield();
            };
        }
    }
    workloads.hooks[{ QStringLiteral("disk"), 20 }] = [&] {
        while (!control.stopRequested())
            std::this_thread::yield();
    };
    FiveTests run = makeRun();
    std::optional<FiveTests::Ended> ended;
    std::thread worker([&] { ended = run.run(); });

    while (steps.load() < 25)
        std::this_thread::yield();
    QStringList writesAtStop;
    control.requestStop([&] {
        panel.testingProgress.setValue(0.0);
        panel.testingProgress.setHidden(true);
        panel.testingState.setHidden(true);
        writesAtStop = log.writes();
    });
    worker.join();

    // A workload step already under way may still be counted; no write may.
    ASSERT_TRUE(ended);
    EXPECT_FALSE(ended->finished);
    EXPECT_EQ(log.writes(), writesAtStop);
    EXPECT_EQ(panel.testingProgress.value(), 0.0);
    EXPECT_TRUE(panel.testingProgress.isHidden());
    EXPECT_TRUE(log.matching(QStringLiteral("store:lastTime")).isEmpty());
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/multicore/Multicore.h"
#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using namespace ostrel;

namespace {

// A clock that only the workloads move: one tick per step of any copy.
class TickClock final : public platform::Clock
{
public:
    double now() const override { return 1000.0 + double(ticks.load()); }
    std::atomic<long> ticks { 0 };
};

// Counts each workload's calls; the first call of every copy waits until
// all copies of that workload have begun, which only copies running at the
// same time can do.
class CountingWorkloads final : public Workloads
{
public:
    CountingWorkloads(TickClock& clock, int copies)
        : m_clock(clock)
        , m_copies(copies)
    {
    }

    std::array<std::atomic<int>, 3> calls {};
    std::atomic<bool> copiesMet { true };
    // Called on the calling thread as a call begins, with its workload.
    std::function<void(int)> beforeCall = [](int) {};
    // Called with the workload and the total of its calls so far.
    std::function<void(int, int)> afterCall = [](int, int) {};

    void integerStep() override { call(0); }
    bool floatingPointStep(const std::atomic<bool>& stop) override { return call(1) && !stop.load(); }
    bool piComputation(const std::atomic<bool>& stop) override { return call(2) && !stop.load(); }
    bool memoryStep(const std::atomic<bool>&) override { return fail(); }
    QString diskPreparation() override { return fail(), QString(); }
    DiskStatus diskStep(const QString&) override { return fail(), platform::Done {}; }
    void diskCleanup(const QString&) override { fail(); }

private:
    bool call(int workload)
    {
        beforeCall(workload);
        thread_local int firstCallsMade[3] = { 0, 0, 0 };
        // A new thread for each workload's copies: its first call is here.
        if (firstCallsMade[workload]++ == 0) {
            ++m_begun[workload];
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (m_begun[workload].load() < m_copies) {
                if (std::chrono::steady_clock::now() > deadline) {
                    copiesMet = false;
                    break;
                }
                std::this_thread::yield();
            }
        }
        ++m_clock.ticks;
        afterCall(workload, ++calls[workload]);
        return true;
    }
    bool fail()
    {
        ADD_FAILURE() << "the multi-core test runs only the processor workloads";
        return false;
    }

    TickClock& m_clock;
    const int m_copies;
    std::array<std::atomic<int>, 3> m_begun {};
};

} // namespace

TEST(Multicore, CopiesRunTogetherAndAreTimedFromTheirReleaseToTheLastEnd)
{
    for (const int threads : { 1, 3 }) {
        TickClock clock;
        CountingWorkloads work(clock, threads);
        const std::atomic<bool> stop { false };
        std::array<std::atomic<int>, 3> starts {}, steps {};
        const std::optional<MulticoreResult> result = runMulticore(
            work, threads, clock, stop, { 40.0, 30.0, 2.0 },
            [&](std::size_t w) {
                EXPECT_EQ(work.calls[w].load(), 0) << "announced before its copies begin";
                ++starts[w];
            },
            [&](std::size_t w) { ++steps[w]; });
        ASSERT_TRUE(result);
        EXPECT_TRUE(work.copiesMet) << threads;
        // The whole work of each test in every copy: 20, 20 and 1 calls.
        EXPECT_EQ(work.calls[0].load(), 20 * threads);
        EXPECT_EQ(work.calls[1].load(), 20 * threads);
        EXPECT_EQ(work.calls[2].load(), threads);
        for (std::size_t w = 0; w < 3; ++w) {
            EXPECT_EQ(starts[w].load(), 1);
            EXPECT_EQ(steps[w].load(), work.calls[w].load());
        }
        // Every tick lies between the release and the last end, and only those.
        EXPECT_EQ(result->threads, threads);
        EXPECT_EQ(result->elapsed, (std::array<double, 3> { 20.0 * threads, 20.0 * threads, 1.0 * threads }));
        EXPECT_DOUBLE_EQ(result->speedup[0], 2.0);
        EXPECT_DOUBLE_EQ(result->speedup[1], 1.5);
        EXPECT_DOUBLE_EQ(result->speedup[2], 2.0);
        EXPECT_NEAR(result->overall, std::cbrt(6.0), 1e-12);
    }
}

TEST(Multicore, SpeedUpIsThreadsTimesSingleOverCopiesAndOverallTheGeometricMean)
{
    const MulticoreResult two = multicoreResult(2, { 2.0, 4.0, 1.0 }, { 2.0, 4.0, 0.5 });
    EXPECT_EQ(two.speedup, (std::array<double, 3> { 2.0, 2.0, 1.0 }));
    EXPECT_NEAR(two.overall, std::cbrt(4.0), 1e-12);
    const MulticoreResult sixteen = multicoreResult(16, { 1.25, 1.25, 1.25 }, { 1.0, 1.0, 1.0 });
    EXPECT_DOUBLE_EQ(sixteen.overall, 12.8);
    EXPECT_EQ(sixteen.elapsed, (std::array<double, 3> { 1.25, 1.25, 1.25 }));
}

// Whether each copy stops at its next step is told apart from how far the
// other copies came meanwhile: a step begun with the stop already set is
// late, and a copy that heeds the stop begins at most one late step (the one
// whose check came just before the stop); the copy that set it begins none.
TEST(Multicore, AStopEndsTheCopiesAndTheTest)
{
    constexpr int threads = 2;
    for (const int stopped : { 0, 1, 2 }) {
        SCOPED_TRACE(stopped);
        TickClock clock;
        CountingWorkloads work(clock, threads);
        std::atomic<bool> stop { false };
        std::atomic<int> late { 0 }, lateAgain { 0 };
        work.beforeCall = [&](int) {
            thread_local int lateHere = 0;
            if (stop.load()) {
                ++late;
                if (++lateHere > 1)
                    ++lateAgain;
            }
        };
        // The seventh step of the integer or floating-point copies, the first pi.
        work.afterCall = [&](int workload, int total) {
            if (workload == stopped && total == (stopped == 2 ? 1 : 7))
                stop = true;
        };
        const auto none = [](std::size_t) {};
        EXPECT_FALSE(runMulticore(work, threads, clock, stop, { 1.0, 1.0, 1.0 }, none, none));
        EXPECT_LE(late.load(), threads - 1);
        EXPECT_EQ(lateAgain.load(), 0);
        // Nothing of the later workloads runs.
        for (int w = stopped + 1; w < 3; ++w)
            EXPECT_EQ(work.calls[std::size_t(w)].load(), 0) << w;
    }
}

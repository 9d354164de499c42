// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/multicore/Multicore.h"

#include "ostrel/engine/Workloads.h"
#include "platform/Clock.h"

#include <algorithm>
#include <barrier>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace ostrel {

namespace {

// The steps of the integer and floating-point tests, as the run makes them.
constexpr int kStepsPerTest = 20;

} // namespace

std::optional<double> timeCopies(int threads, const platform::Clock& clock, const std::function<bool()>& copy)
{
    threads = std::max(1, threads);
    double start = 0.0;
    // The last thread to arrive reads the clock, then all go at once: thread
    // start-up lies before the release and is not timed.
    std::barrier release(threads, [&]() noexcept { start = clock.now(); });
    std::mutex endMutex;
    double lastEnd = 0.0;
    std::atomic<bool> completed { true };
    {
        std::vector<std::jthread> copies;
        copies.reserve(std::size_t(threads));
        for (int i = 0; i < threads; ++i) {
            copies.emplace_back([&] {
                release.arrive_and_wait();
                const bool done = copy();
                const double end = clock.now();
                if (!done)
                    completed = false;
                std::lock_guard lock(endMutex);
                lastEnd = std::max(lastEnd, end);
            });
        }
    }
    if (!completed)
        return std::nullopt;
    return lastEnd - start;
}

MulticoreResult multicoreResult(int threads, const std::array<double, 3>& elapsed,
                                const std::array<double, 3>& singleElapsed)
{
    MulticoreResult result;
    result.threads = threads;
    result.elapsed = elapsed;
    double logSum = 0.0;
    for (std::size_t i = 0; i < elapsed.size(); ++i) {
        result.speedup[i] = elapsed[i] > 0.0 ? threads * singleElapsed[i] / elapsed[i] : 0.0;
        logSum += std::log(result.speedup[i]);
    }
    result.overall = std::exp(logSum / double(elapsed.size()));
    return result;
}

std::optional<MulticoreResult> runMulticore(Workloads& workloads, int threads, const platform::Clock& clock,
                                            const std::atomic<bool>& stop, const std::array<double, 3>& singleElapsed,
                                            const std::function<void(std::size_t workload)>& starting,
                                            const std::function<void(std::size_t workload)>& stepDone)
{
    // Each copy is the whole work of its test, the same calls the run makes.
    const std::array<std::function<bool()>, 3> copies {
        [&] {
            for (int i = 0; i < kStepsPerTest; ++i) {
                if (stop.load(std::memory_order_relaxed))
                    return false;
                workloads.integerStep();
                stepDone(0);
            }
            return true;
        },
        [&] {
            for (int i = 0; i < kStepsPerTest; ++i) {
                if (!workloads.floatingPointStep(stop))
                    return false;
                stepDone(1);
            }
            return true;
        },
        [&] {
            if (!workloads.piComputation(stop))
                return false;
            stepDone(2);
            return true;
        },
    };
    std::array<double, 3> elapsed {};
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (stop.load(std::memory_order_relaxed))
            return std::nullopt;
        starting(i);
        const std::optional<double> seconds = timeCopies(threads, clock, copies[i]);
        if (!seconds)
            return std::nullopt;
        elapsed[i] = *seconds;
    }
    return multicoreResult(threads, elapsed, singleElapsed);
}

} // namespace ostrel

// SPDX-License-Identifier: GPL-3.0-or-later
// The multi-core test on this machine: its speed-up per workload, and the barrier and thread start against the
// copies' time. Part of ostrel-extended-bench, run by hand.
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/ExtendedBench.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/extended/multicore/Multicore.h"
#include "platform/Clock.h"
#include "platform/UsableCpus.h"

#include <QDir>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

using ostrel::bench::median;

void multicore(const ostrel::bench::BenchOptions& options)
{
    const int repetitions = options.repetitions;
    ostrel::MachineWorkloads workloads(QDir::tempPath(), QDir::tempPath());
    const platform::MonotonicClock clock;
    const std::atomic<bool> stop { false };
    const int threads = platform::usableCpuCount();
    const std::array<std::function<bool()>, 3> copies {
        [&] {
            for (int i = 0; i < 20; ++i)
                workloads.integerStep();
            return true;
        },
        [&] {
            for (int i = 0; i < 20; ++i)
                workloads.floatingPointStep(stop);
            return true;
        },
        [&] { return workloads.piComputation(stop); },
    };
    std::printf("Multi-core test, %d threads, %d repetitions (medians)\n", threads, repetitions);
    std::printf("  %-8s %10s %10s %9s\n", "workload", "T1 (s)", "TN (s)", "speed-up");
    double logSum = 0.0;
    double copiesSeconds = 0.0;
    for (std::size_t w = 0; w < copies.size(); ++w) {
        std::vector<double> single;
        std::vector<double> together;
        std::vector<double> speedups;
        for (int r = 0; r < repetitions; ++r) {
            single.push_back(*ostrel::timeCopies(1, clock, copies[w]));
            together.push_back(*ostrel::timeCopies(threads, clock, copies[w]));
            speedups.push_back(threads * single.back() / together.back());
        }
        const double speedup = median(speedups);
        logSum += std::log(speedup);
        copiesSeconds += median(together);
        std::printf("  %-8s %10.3f %10.3f %9.3f\n", ostrel::kMulticoreWorkloads[w], median(single), median(together),
                    speedup);
    }
    std::printf("  overall (geometric mean) %.3f\n", std::exp(logSum / 3.0));

    // Empty copies: what the barrier and the threads cost by themselves.
    std::vector<double> timedSpan;
    std::vector<double> wholeCall;
    for (int r = 0; r < 200; ++r) {
        const double start = clock.now();
        timedSpan.push_back(*ostrel::timeCopies(threads, clock, [] { return true; }));
        wholeCall.push_back(clock.now() - start);
    }
    std::printf("  empty copies: timed span (release to last end) %.1f µs, whole call (thread start, barrier, join) "
                "%.1f µs\n",
                median(timedSpan) * 1e6, median(wholeCall) * 1e6);
    std::printf("  against the copies' time of %.2f s: timed overhead %.2e, untimed %.2e of it\n", copiesSeconds,
                median(timedSpan) * 3 / copiesSeconds, median(wholeCall) * 3 / copiesSeconds);
}

const ostrel::bench::ExtendedBench registered("multicore", multicore);

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <optional>

namespace platform {
class Clock;
}

namespace ostrel {

class Workloads;

// The processor workloads that the multi-core test runs, in its order: the first three of the five tests.
inline constexpr std::array<const char*, 3> kMulticoreWorkloads { "int", "double", "pi" };

// Each processor workload run by `threads` copies at once.
struct MulticoreResult
{
    int threads = 0;
    // Seconds from the copies' common start to the end of the last one, in kMulticoreWorkloads order.
    std::array<double, 3> elapsed {};
    // threads × (the same run's single-copy time) / elapsed, per workload.
    std::array<double, 3> speedup {};
    // The geometric mean of the three speed-ups.
    double overall = 0.0;

    friend bool operator==(const MulticoreResult&, const MulticoreResult&) = default;
};

// Runs `threads` copies of copy() on threads of their own, all released at
// once by a barrier once every thread has started. Returns the seconds on
// `clock` from the release to the end of the last copy, or nothing when a
// copy returned false (it was asked to stop). Every thread has ended when
// this returns.
std::optional<double> timeCopies(int threads, const platform::Clock& clock, const std::function<bool()>& copy);

// threads × single / elapsed for each workload, and their geometric mean.
MulticoreResult multicoreResult(int threads, const std::array<double, 3>& elapsed,
                                const std::array<double, 3>& singleElapsed);

// The multi-core test: for int, double and pi in turn, `threads` copies of
// that test's whole work through `workloads`, which must be safe to call
// from several threads at once. singleElapsed holds the same run's times of
// the three tests. stepDone(workload) is called from the copies' threads
// after each of their steps (once for pi) and before workload starts with
// no step; it must be quick. Nothing when a stop was requested.
std::optional<MulticoreResult> runMulticore(Workloads& workloads, int threads, const platform::Clock& clock,
                                            const std::atomic<bool>& stop, const std::array<double, 3>& singleElapsed,
                                            const std::function<void(std::size_t workload)>& starting,
                                            const std::function<void(std::size_t workload)>& stepDone);

} // namespace ostrel

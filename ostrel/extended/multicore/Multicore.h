// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/ExtendedResults.h"

#include <array>
#include <atomic>
#include <functional>
#include <optional>

namespace platform {
class Clock;
}

namespace ostrel {

class Workloads;

// The number of CPUs this process may run on, at least 1.
int usableCpuCount();

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

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/ExtendedResults.h"
#include "platform/TextHolder.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <optional>

namespace platform {
class Clock;
}

namespace ostrel {

struct FinishedRun;
struct Panel;
class RunControl;
class Workloads;

// What the extended tests show beside the panel: one line each and the
// details behind it (a tooltip in the window). Hidden until they ran.
struct ExtendedPanel
{
    ExtendedPanel();

    platform::TextHolder multicore;
    platform::TextHolder multicoreDetails;
    platform::TextHolder disk;
    platform::TextHolder diskDetails;
};

// Hides the lines and empties them, for a new run.
void resetExtendedPanel(ExtendedPanel& shown);

// The disk test as the extended pass runs it.
class DiskTest
{
public:
    struct Outcome
    {
        // Nothing when the test did not run to its end.
        std::optional<DiskResult> result;
        // Why there is no result; empty after a Stop.
        QString problem;
    };
    // The job under way (an index into kDiskJobs) and how far it is, 0 to 1.
    using Progress = std::function<void(std::size_t job, double fraction)>;

    virtual ~DiskTest() = default;
    // Runs the four jobs in the order of kDiskJobs. Returns soon after a
    // stop is requested.
    virtual Outcome run(const std::atomic<bool>& stop, const Progress& progress) = 0;
};

// "多核：2 线程，加速 1.98 倍"
QString multicoreLine(const MulticoreResult& result);
// One line per workload: its copies' time, the single run's time, the speed-up.
QString multicoreDetails(const MulticoreResult& result, const std::array<double, 3>& singleElapsed);
// "磁盘：顺序读 2900 MB/s，…，随机写 9000 IOPS（37 MB/s）", and "，经过缓存" when buffered.
QString diskLine(const DiskResult& result);
// The folder, its file system, the file's size and how it was read.
QString diskDetails(const DiskResult& result);
// The line of a disk test that gave no numbers.
QString diskProblemLine(const QString& problem);

struct ExtendedTests
{
    Panel& panel;
    ExtendedPanel& shown;
    // Must be safe to call from several threads at once.
    Workloads& workloads;
    RunControl& control;
    const platform::Clock& stopwatch;
    // The copies of the multi-core test; usableCpuCount() in the application.
    int threads = 1;
    // None: there is no disk test to run.
    DiskTest* disk = nullptr;
};

struct ExtendedOutcome
{
    // What was asked for and not done, one sentence each; not a Stop.
    QStringList problems;
};

// The multi-core test, then the disk test, after the five tests of a run
// that finished: in a pass of their own on the run's progress bar, each
// shown as it ends, their results put into `finished`. Every write goes
// through the run's control; after a Stop nothing more is written or run.
// The state text the run ended with is shown again at the end.
ExtendedOutcome runExtendedTests(const ExtendedTests& tests, FinishedRun& finished);

} // namespace ostrel

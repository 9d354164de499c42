// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/engine/RunLock.h"
#include "ostrel/extended/ExtendedRun.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/RunRecord.h"
#include "ostrel/machine/Interference.h"
#include "ostrel/machine/SkewProbe.h"
#include "ostrel/run/RunProblem.h"
#include "platform/Result.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Clock;
class UserDefaults;
} // namespace platform

namespace ostrel {
struct Panel;
class RunControl;
class Workloads;
} // namespace ostrel

namespace ostrel::history {
class RunKeeper;
}

namespace ostrel::run {

// How one run of a benchmark ended.
struct RunOutcome
{
    // False when a Stop ended it.
    bool finished = false;
    // The run as it went into the history (also when the history could not
    // take it): always there when it finished, none when it stopped before
    // its five tests ended.
    std::optional<history::RunRecord> record = {};
    // What went wrong, in the order it is told.
    RunProblems problems = {};
};

// What the front end (and, later, measurements of their own) do around
// each run. Called on the thread that runs, outside the run's gate.
struct RunHooks
{
    // Before run n (counted from 1) begins.
    std::function<void(int n)> beforeRun = {};
    // The skew conditions found just before a run, one line each; not
    // called when there are none.
    std::function<void(const QStringList& conditions)> conditionsFound = {};
    // A test that other work disturbed, as it ends: "干扰：浮点运算 等待处理器 23%".
    std::function<void(const QString& line)> disturbed = {};
    std::function<void(const RunOutcome& outcome)> afterRun = {};
    // After each run that finished, the outcomes so far: whether another run begins (never past run()'s count).
    // None: all of them.
    std::function<bool(const QList<RunOutcome>& outcomes)> another = {};
};

// One benchmark session of the user, for the window and ostrel-cli alike: it
// holds the run lock for its whole life, so that nothing of another benchmark
// comes between its runs, and each run looks for skew conditions, runs the
// five tests (FiveTests) and the extended tests asked for, and is kept in the
// history.
//
// Every write to the panel and the saved results goes through the run's
// control: a Stop ends the current run at once and no further run begins.
class RunSession
{
public:
    struct Parts
    {
        Panel& panel;
        platform::UserDefaults& defaults;
        // Times the stages; a monotonic clock in the application.
        const platform::Clock& stopwatch;
        // Gives the time of a run; the wall clock in the application.
        const platform::Clock& wallClock;
        QString lockPath = RunLock::defaultPath();
        QString historyPath = history::HistoryStore::defaultPath();
        // How skew conditions are looked for before each run; without a sleep
        // of its own, its wait ends early at a Stop.
        machine::SkewProbe probe = {};
        // Where the extended tests show; none when they were not asked for.
        ExtendedPanel* extendedPanel = nullptr;
        // Where the extended tests write their files; empty for the scratch file's folder.
        QString diskFolder = {};
        // Makes each extended test from its row of the table; the row's own maker when empty.
        ExtendedTestMaker makeExtendedTest = {};
        // Reads what the kernel counts about other work, on the run's thread, before and after each test; this
        // machine's counters (machine::readInterferenceCounters()) from the probe's roots when empty.
        std::function<machine::InterferenceCounters()> readCounters = {};
    };

    using Hooks = RunHooks;

    // Takes the run lock at parts.lockPath. A session of this process that
    // still holds it (a stopped run winding down) shares it with the new
    // one. Busy, naming the holder, when another program holds it; a lock
    // that cannot be made is only a warning and the session goes on.
    static platform::Result<std::unique_ptr<RunSession>, RunProblem> open(Parts parts);

    // Lets the run lock go unless another session of this process shares it.
    ~RunSession();
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    // What open() found that does not keep the session from running: the
    // lock could not be made, the saved results could not be read.
    const RunProblems& warnings() const { return m_warnings; }

    // `count` runs back to back, ending early at a Stop or when hooks.another
    // says so; one outcome per run that began. The first removes what killed runs left behind, once it
    // holds the lock.
    QList<RunOutcome> run(int count, Workloads& workloads, RunControl& control, const Hooks& hooks = {});

private:
    RunSession(Parts parts, std::shared_ptr<RunLock> lock, RunProblems warnings);

    RunOutcome runOnce(int n, Workloads& workloads, RunControl& control, const Hooks& hooks);
    // Before run n: the hook, and a later run's panel emptied.
    void startAfresh(int n, RunControl& control, const Hooks& hooks);
    // The machine facts and skew conditions into keeper, the conditions told.
    void lookForSkew(history::RunKeeper& keeper, Workloads& workloads, RunControl& control, const Hooks& hooks);
    // The extended tests after the five of a run that finished, each kept by keeper as it ends; the first
    // failure to keep them goes into unkept unless it holds one already.
    ExtendedOutcome extend(Workloads& workloads, RunControl& control, FinishedRun& finished,
                           const std::function<void(const QString& key, bool begins)>& measure,
                           history::RunKeeper& keeper, std::optional<history::HistoryError>& unkept);

    Parts m_;
    std::shared_ptr<RunLock> m_lock;
    RunProblems m_warnings;
    bool m_clearedUp = false;
};

} // namespace ostrel::run

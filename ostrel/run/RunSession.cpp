// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/run/RunSession.h"

#include "ostrel/engine/FiveTests.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/RunKeeper.h"
#include "platform/UsableCpus.h"
#include "platform/UserDefaults.h"

#include <chrono>
#include <map>
#include <mutex>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace ostrel::run {

namespace {

// The run locks of this process, by path: shared by its sessions that
// overlap, so that a run started right after a Stop is never refused by the
// one still winding down. The last of them lets the lock go.
platform::Result<std::shared_ptr<RunLock>, RunProblem> takeLock(const QString& path, RunProblems& warnings)
{
    static std::mutex mutex;
    static std::map<QString, std::weak_ptr<RunLock>> held;
    std::lock_guard guard(mutex);
    std::erase_if(held, [](const auto& entry) { return entry.second.expired(); });
    if (const auto found = held.find(path); found != held.end())
        return found->second.lock();
    auto lock = std::make_shared<RunLock>(path);
    if (const platform::Status<RunLockError> taken = lock->tryLock(); !taken) {
        if (taken.error().kind == RunLockError::Kind::Busy)
            return busyProblem(lock->holder());
        // A lock that cannot be made must not cost the user the benchmark.
        warnings << lockUnavailableProblem(taken.error().message);
    }
    held[path] = lock;
    return lock;
}

// Waits out the probe's window unless the run is stopped meanwhile, so that
// a Stop (closing the window, Ctrl-C) never waits for the look.
void sleepUnlessStopped(const RunControl& control, std::chrono::milliseconds window)
{
    const auto end = std::chrono::steady_clock::now() + window;
    while (!control.stopRequested() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

machine::InterferenceCounters thisMachinesCounters(const machine::SystemRoots& roots)
{
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return machine::readInterferenceCounters(now, ::sched_getcpu(), roots);
}

} // namespace

platform::Result<std::unique_ptr<RunSession>, RunProblem> RunSession::open(Parts parts)
{
    RunProblems warnings;
    platform::Result<std::shared_ptr<RunLock>, RunProblem> lock = takeLock(parts.lockPath, warnings);
    if (!lock)
        return lock.error();
    if (std::optional<RunProblem> unreadable = savedResultsProblem(parts.defaults))
        warnings << *unreadable;
    return std::unique_ptr<RunSession>(new RunSession(std::move(parts), std::move(*lock), std::move(warnings)));
}

RunSession::RunSession(Parts parts, std::shared_ptr<RunLock> lock, RunProblems warnings)
    : m_(std::move(parts))
    , m_lock(std::move(lock))
    , m_warnings(std::move(warnings))
{
    if (!m_.readCounters)
        m_.readCounters = [roots = m_.probe.roots] { return thisMachinesCounters(roots); };
}

RunSession::~RunSession() = default;

QList<RunOutcome> RunSession::run(int count, Workloads& workloads, RunControl& control, const Hooks& hooks)
{
    // What runs that were killed left behind: with the lock held, no run of
    // this user's is using it.
    if (!m_clearedUp && m_lock->isLocked())
        removeExtendedLeftovers(workloads.scratchFolder(), m_.diskFolder, m_lock->lockedAt());
    m_clearedUp = true;

    QList<RunOutcome> outcomes;
    for (int n = 1; n <= count && !control.stopRequested(); ++n) {
        outcomes << runOnce(n, workloads, control, hooks);
        if (!outcomes.last().finished || (hooks.another && !hooks.another(outcomes)))
            break;
    }
    return outcomes;
}

void RunSession::startAfresh(int n, RunControl& control, const Hooks& hooks)
{
    if (hooks.beforeRun)
        hooks.beforeRun(n);
    // The front end shows the first run's empty panel itself; a later run
    // starts its bar and its extended lines afresh.
    if (n > 1) {
        control.write([&] {
            m_.panel.testingProgress.setValue(0.0);
            if (m_.extendedPanel)
                resetExtendedPanel(*m_.extendedPanel);
        });
    }
}

void RunSession::lookForSkew(history::RunKeeper& keeper, Workloads& workloads, RunControl& control, const Hooks& hooks)
{
    machine::SkewProbe probe = m_.probe;
    if (!probe.sleep)
        probe.sleep = [&control](std::chrono::milliseconds window) { sleepUnlessStopped(control, window); };
    keeper.prepare(workloads.scratchFolder(), probe);
    if (const QStringList conditions = keeper.conditionTexts(); !conditions.isEmpty() && hooks.conditionsFound)
        hooks.conditionsFound(conditions);
}

RunOutcome RunSession::runOnce(int n, Workloads& workloads, RunControl& control, const Hooks& hooks)
{
    startAfresh(n, control, hooks);

    // Just before the run: what could make its scores low.
    history::RunKeeper keeper(m_.historyPath);
    lookForSkew(keeper, workloads, control, hooks);

    // Each test's counters at its start, read again at its end: the share other work took meanwhile.
    machine::InterferenceCounters started;
    const long userHz = ::sysconf(_SC_CLK_TCK);
    const auto measure = [&](const QString& key, bool begins) {
        const machine::InterferenceCounters now = m_.readCounters();
        if (begins) {
            started = now;
            return;
        }
        const machine::Interference interference = machine::interferenceBetween(started, now, userHz);
        keeper.measured(key, interference);
        if (interference.disturbed() && hooks.disturbed)
            hooks.disturbed(machine::interferenceLine(history::interferenceTitle(key), interference));
    };

    FiveTests five({ .panel = m_.panel,
                     .defaults = m_.defaults,
                     .workloads = workloads,
                     .control = control,
                     .stopwatch = m_.stopwatch,
                     .wallClock = m_.wallClock,
                     .aroundStage = [&](const char* key, bool begins) { measure(QLatin1String(key), begins); } });
    const FiveTests::Ended ended = five.run();

    RunOutcome outcome;
    // Why the history could not take the run: the first failure.
    std::optional<history::HistoryError> unkept;
    ExtendedOutcome extended;
    if (ended.finished) {
        FinishedRun finished = *ended.finished;
        // Kept as soon as the five tests have ended, so that whatever ends the process later does not lose them;
        // outside the gate: a history locked by another program may keep this waiting for seconds, and a Stop
        // must never wait for that.
        if (const history::Status kept = keeper.keep(finished); !kept)
            unkept = kept.error();
        if (m_.extendedPanel)
            extended = extend(workloads, control, finished, measure, keeper, unkept);
        outcome.record = keeper.lastKept();
        outcome.finished = !control.stopRequested();
        if (unkept)
            five.showUnkept(unkept->message);
    }

    outcome.problems
        = runProblems(outcome.finished, ended.problems, m_.defaults.fileName(), unkept, keeper.historyPath());
    if (outcome.finished) {
        for (const QString& problem : extended.problems)
            outcome.problems << RunProblem { .kind = RunProblem::Kind::Extended, .message = problem };
    }
    if (hooks.afterRun)
        hooks.afterRun(outcome);
    return outcome;
}

ExtendedOutcome RunSession::extend(Workloads& workloads, RunControl& control, FinishedRun& finished,
                                   const std::function<void(const QString& key, bool begins)>& measure,
                                   history::RunKeeper& keeper, std::optional<history::HistoryError>& unkept)
{
    std::vector<PlannedTest> tests
        = planExtendedTests({ .workloads = workloads,
                              .stopwatch = m_.stopwatch,
                              .threads = platform::usableCpuCount(),
                              .folder = m_.diskFolder.isEmpty() ? workloads.scratchFolder() : m_.diskFolder },
                            m_.makeExtendedTest);
    return runExtendedTests(
        { .panel = m_.panel,
          .shown = *m_.extendedPanel,
          .control = control,
          .tests = tests,
          .aroundTest
          = [&](const QString& key, bool begins) { measure(history::extendedInterferenceKey(key), begins); },
          .keep =
              [&](const FinishedRun& done) {
                  const history::Status kept = keeper.keepExtended(done);
                  if (!kept && !unkept)
                      unkept = kept.error();
              } },
        finished);
}

} // namespace ostrel::run

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/extended/bandwidth/MemoryBandwidthResult.h"
#include "ostrel/extended/disk/testing/FakeDiskTest.h"
#include "ostrel/extended/multicore/Multicore.h"
#include "ostrel/extended/testing/FakeExtendedTests.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/SteadyRuns.h"
#include "ostrel/run/RunSession.h"
#include "ostrel/testing/FiveTestsTest.h"
#include "platform/UsableCpus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::testkit;
using ostrel::run::RunOutcome;
using ostrel::run::RunSession;
using Kind = ostrel::run::RunProblem::Kind;

namespace {

// Why the disk test's fake gives no numbers.
const QString kDiskProblem = QStringLiteral("找不到 fio");

// The memory-bandwidth test as the point where the process is killed: atKill sees what a kill would leave.
class KillPoint final : public ExtendedTest<MemoryBandwidthResult>
{
public:
    explicit KillPoint(std::function<void()> atKill)
        : m_atKill(std::move(atKill))
    {
    }
    std::size_t steps() const override { return 1; }
    ExtendedResult<MemoryBandwidthResult> run(const FinishedRun&, const std::atomic<bool>&, ExtendedProgress&) override
    {
        m_atKill();
        return ExtendedError { ExtendedError::Kind::Stopped, {} };
    }

private:
    std::function<void()> m_atKill;
};

// Everything a benchmark works with, in a folder of its own: the saved
// results, the history, the run lock, and no skew conditions.
struct Rig
{
    Rig()
    {
        probe.window = std::chrono::milliseconds(0);
        const QString root = path(QStringLiteral("no-such-root"));
        probe.roots = { root + QStringLiteral("/proc"), root + QStringLiteral("/sys"), root + QStringLiteral("/etc") };
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    // A plain file, so that nothing can be made below it.
    QString blocked(const QString& name) const
    {
        QFile plain(path(QStringLiteral("plain")));
        EXPECT_TRUE(plain.open(QIODevice::WriteOnly));
        return path(QStringLiteral("plain/") + name);
    }

    RunSession::Parts parts(platform::UserDefaults& store)
    {
        return { .panel = panel,
                 .defaults = store,
                 .stopwatch = stopwatch,
                 .wallClock = wallClock,
                 .lockPath = lockPath,
                 .historyPath = historyPath,
                 .probe = probe,
                 .extendedPanel = extended ? &extendedPanel : nullptr,
                 .makeExtendedTest = ostrel::testing::FakeExtendedTests().instead<DiskResult>([](const ExtendedSetup&) {
                     return std::make_unique<disk::testing::FakeDiskTest>(
                         disk::testing::FakeDiskTest::Outcome { std::nullopt, kDiskProblem });
                 }) };
    }
    RunSession::Parts parts() { return parts(defaults); }

    qsizetype runsInHistory() const
    {
        if (!QFileInfo::exists(historyPath))
            return 0;
        const auto runs = history::HistoryStore(historyPath).runs();
        EXPECT_TRUE(runs);
        return runs ? runs->size() : -1;
    }

    QTemporaryDir dir;
    EventLog log;
    Panel panel;
    ExtendedPanel extendedPanel;
    bool extended = false;
    RecordingDefaults defaults { path(QStringLiteral("ostrel.conf")), log };
    ManualClock stopwatch { 5000.0 };
    SteppingClock wallClock;
    FakeWorkloads workloads { stopwatch, log };
    RunControl control;
    QString lockPath = path(QStringLiteral("ostrel-run.lock"));
    QString historyPath = path(QStringLiteral("history.sqlite"));
    machine::SkewProbe probe;
};

QString ownHolder()
{
    return QStringLiteral("%1 (PID %2)").arg(QString::fromLocal8Bit(program_invocation_short_name)).arg(::getpid());
}

std::vector<Kind> kinds(const run::RunProblems& problems)
{
    std::vector<Kind> found;
    for (const run::RunProblem& problem : problems)
        found.push_back(problem.kind);
    return found;
}

} // namespace

TEST(RunSession, ABusyLockRunsNothingAndSaysWhoHoldsIt)
{
    Rig rig;
    RunLock other(rig.lockPath);
    ASSERT_TRUE(other.tryLock());

    const auto opened = RunSession::open(rig.parts());
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().kind, Kind::Busy);
    EXPECT_EQ(opened.error().subject, ownHolder());
    EXPECT_EQ(opened.error().message, QStringLiteral("另一个测试正在进行：") + ownHolder());
    EXPECT_TRUE(rig.log.events().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(rig.historyPath));
}

// A lock that cannot be made and saved results that cannot be read are said
// once, and the benchmark runs all the same.
TEST(RunSession, WarningsDoNotKeepTheBenchmarkFromRunning)
{
    for (const bool lockBlocked : { false, true }) {
        for (const bool unreadable : { false, true }) {
            SCOPED_TRACE(::testing::Message() << "lock blocked " << lockBlocked << ", unreadable " << unreadable);
            Rig rig;
            if (lockBlocked)
                rig.lockPath = rig.blocked(QStringLiteral("ostrel-run.lock"));
            // A folder where the file should be.
            const QString store = rig.path(QStringLiteral("folder.conf"));
            if (unreadable) {
                ASSERT_TRUE(QDir().mkpath(store));
            }
            RecordingDefaults defaults(unreadable ? store : rig.path(QStringLiteral("ostrel.conf")), rig.log);

            auto opened = RunSession::open(rig.parts(defaults));
            ASSERT_TRUE(opened);
            const run::RunProblems& warnings = (*opened)->warnings();
            std::vector<Kind> expected;
            if (lockBlocked)
                expected.push_back(Kind::LockUnavailable);
            if (unreadable)
                expected.push_back(Kind::SavedResultsUnreadable);
            ASSERT_EQ(kinds(warnings), expected);
            if (lockBlocked) {
                EXPECT_TRUE(warnings.first().message.startsWith(
                    QStringLiteral("the run lock could not be taken, so another benchmark may run at the same time: ")
                    + rig.lockPath))
                    << qPrintable(warnings.first().message);
            }
            if (unreadable) {
                EXPECT_EQ(warnings.last().message,
                          QStringLiteral("the saved results could not be read from %1: %2")
                              .arg(store, defaults.readProblem()));
            }
            const QList<RunOutcome> outcomes = (*opened)->run(1, rig.workloads, rig.control);
            ASSERT_EQ(outcomes.size(), 1);
            EXPECT_TRUE(outcomes.first().finished);
        }
    }
}

// Whatever a run could not do ends up in its list, worded for the terminal,
// and the run still finishes and is handed to the history.
TEST(RunSession, EachProblemOfARunEndsUpInItsList)
{
    const struct
    {
        const char* name;
        std::function<void(Rig&)> arrange;
        Kind kind;
        // What the message starts with; STORE and HISTORY stand for their files.
        QString message;
    } cases[] = {
        { "a failed stage", [](Rig& rig) { rig.workloads.diskError = ENOSPC; }, Kind::StageFailed,
          QStringLiteral("磁盘读写失败：磁盘空间不足") },
        { "not saved", [](Rig&) {}, Kind::NotSaved, QStringLiteral("the results could not be saved to STORE: ") },
        { "not kept", [](Rig& rig) { rig.historyPath = rig.blocked(QStringLiteral("history.sqlite")); }, Kind::NotKept,
          QStringLiteral("the run could not be added to the history in HISTORY: ") },
        { "an extended test", [](Rig& rig) { rig.extended = true; }, Kind::Extended,
          findExtendedTest(QStringLiteral("disk"))->problemLine(kDiskProblem) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.arrange(rig);
        const QString store = c.kind == Kind::NotSaved ? rig.blocked(QStringLiteral("ostrel.conf"))
                                                       : rig.path(QStringLiteral("ostrel.conf"));
        RecordingDefaults defaults(store, rig.log);
        auto opened = RunSession::open(rig.parts(defaults));
        ASSERT_TRUE(opened);
        const QList<RunOutcome> outcomes = (*opened)->run(1, rig.workloads, rig.control);
        ASSERT_EQ(outcomes.size(), 1);
        const RunOutcome& outcome = outcomes.first();
        EXPECT_TRUE(outcome.finished);
        EXPECT_TRUE(outcome.record);
        ASSERT_EQ(kinds(outcome.problems), std::vector<Kind> { c.kind });
        const run::RunProblem& problem = outcome.problems.first();
        const QString expected = QString(c.message)
                                     .replace(QStringLiteral("STORE"), store)
                                     .replace(QStringLiteral("HISTORY"), rig.historyPath);
        EXPECT_TRUE(problem.message.startsWith(expected)) << qPrintable(problem.message);
        if (c.kind == Kind::NotSaved) {
            EXPECT_EQ(problem.error, ENOTDIR);
            EXPECT_EQ(problem.subject, store);
        }
        EXPECT_EQ(rig.runsInHistory(), c.kind == Kind::NotKept ? 0 : 1);
    }
}

TEST(RunSession, AStopMidRunEndsItAtOnceWithNothingKept)
{
    Rig rig;
    rig.workloads.hooks[{ QStringLiteral("memory"), 3 }] = [&] { rig.control.requestStop(); };
    auto opened = RunSession::open(rig.parts());
    ASSERT_TRUE(opened);
    int afterRun = 0;
    const QList<RunOutcome> outcomes
        = (*opened)->run(3, rig.workloads, rig.control, { .afterRun = [&](const RunOutcome&) { ++afterRun; } });

    ASSERT_EQ(outcomes.size(), 1) << "no run begins after a Stop";
    EXPECT_EQ(afterRun, 1);
    EXPECT_FALSE(outcomes.first().finished);
    EXPECT_FALSE(outcomes.first().record);
    EXPECT_TRUE(outcomes.first().problems.isEmpty());
    EXPECT_EQ(rig.runsInHistory(), 0);
    EXPECT_TRUE(rig.log.matching(QStringLiteral("store:lastTime=")).isEmpty());
    EXPECT_TRUE(rig.log.matching(QStringLiteral("work:disk")).isEmpty());
}

// Each extended test's result is in the history as soon as that test ends: a
// process killed during the third keeps the first two. What a Stop cut short
// is never kept.
TEST(RunSession, AKillDuringAnExtendedTestKeepsTheOnesThatEnded)
{
    Rig rig;
    rig.extended = true;
    std::optional<history::RunRecord> atKill;
    RunSession::Parts parts = rig.parts();
    parts.makeExtendedTest
        = ostrel::testing::FakeExtendedTests().instead<MemoryBandwidthResult>([&](const ExtendedSetup&) {
              return std::make_unique<KillPoint>([&] {
                  const auto latest = history::HistoryStore(rig.historyPath).latest();
                  ASSERT_TRUE(latest);
                  atKill = **latest;
                  rig.control.requestStop();
              });
          });
    auto opened = RunSession::open(std::move(parts));
    ASSERT_TRUE(opened);
    const QList<RunOutcome> outcomes = (*opened)->run(1, rig.workloads, rig.control);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_FALSE(outcomes.first().finished);

    ASSERT_TRUE(atKill);
    const MulticoreResult* multicore = atKill->extended.find<MulticoreResult>();
    ASSERT_TRUE(multicore);
    EXPECT_EQ(multicore->threads, platform::usableCpuCount());
    ASSERT_TRUE(atKill->extended.find<DiskResult>());
    EXPECT_EQ(*atKill->extended.find<DiskResult>(), disk::testing::sampleResult());
    EXPECT_TRUE(atKill->interference.contains(history::extendedInterferenceKey(QStringLiteral("disk"))));

    const auto afterStop = history::HistoryStore(rig.historyPath).runs();
    ASSERT_TRUE(afterStop);
    ASSERT_EQ(afterStop->size(), 1);
    EXPECT_EQ(afterStop->first().extended, atKill->extended);
    EXPECT_FALSE(afterStop->first().extended.find<MemoryBandwidthResult>());
}

// The five tests are kept before the extended tests, whose results are added as each ends. Why the history could not
// take either is the run's problem and follows the state text the run ended with once the extended tests are over.
TEST(RunSession, WhyTheHistoryCouldNotTakeARunIsShownAfterItsExtendedTests)
{
    const QString notKept = QStringLiteral("the run could not be added to the history in %1: ");
    for (const bool fiveKept : { false, true }) {
        SCOPED_TRACE(fiveKept ? "the extended results not kept" : "the five tests not kept");
        Rig rig;
        rig.extended = true;
        if (!fiveKept)
            rig.historyPath = rig.blocked(QStringLiteral("history.sqlite"));
        // The history as the disk test began: the run and the multi-core test's result kept, nothing of its own.
        std::optional<history::RunRecord> atDisk;
        RunSession::Parts parts = rig.parts();
        parts.makeExtendedTest = ostrel::testing::FakeExtendedTests().instead<DiskResult>([&](const ExtendedSetup&) {
            auto disk = std::make_unique<disk::testing::FakeDiskTest>();
            // Damages the history the run went into, as its last job begins.
            disk->atJob = [&](std::size_t job) {
                if (job + 1 != kDiskJobs.size())
                    return;
                if (const auto latest = history::HistoryStore(rig.historyPath).latest(); latest && *latest)
                    atDisk = **latest;
                QFile history(rig.historyPath);
                if (history.open(QIODevice::WriteOnly))
                    history.write(QByteArray(4096, 'x'));
            };
            return disk;
        });
        auto opened = RunSession::open(std::move(parts));
        ASSERT_TRUE(opened);
        const QList<RunOutcome> outcomes = (*opened)->run(1, rig.workloads, rig.control);
        ASSERT_EQ(outcomes.size(), 1);
        ASSERT_TRUE(outcomes.first().finished);
        const run::RunProblems& problems = outcomes.first().problems;
        const auto found = std::find_if(problems.begin(), problems.end(),
                                        [](const run::RunProblem& problem) { return problem.kind == Kind::NotKept; });
        ASSERT_NE(found, problems.end());
        const QString prefix = notKept.arg(rig.historyPath);
        ASSERT_TRUE(found->message.startsWith(prefix)) << qPrintable(found->message);
        EXPECT_EQ(rig.panel.testingState.text(),
                  QStringLiteral("已完成；历史记录未能保存：") + found->message.mid(prefix.size()));
        ASSERT_EQ(atDisk.has_value(), fiveKept);
        if (fiveKept) {
            EXPECT_EQ(atDisk->finishedAt, outcomes.first().record->finishedAt);
            EXPECT_TRUE(atDisk->extended.find<MulticoreResult>());
            EXPECT_FALSE(atDisk->extended.find<DiskResult>());
        }
    }
}

// --runs N: no other benchmark can come between the runs; a benchmark of the
// same process shares the lock, and the lock goes with the last of them.
TEST(RunSession, NRunsHoldTheLockThroughout)
{
    Rig rig;
    auto opened = RunSession::open(rig.parts());
    ASSERT_TRUE(opened);
    auto lockedElsewhere = [&] {
        const platform::Status<RunLockError> taken = RunLock(rig.lockPath).tryLock();
        return !taken && taken.error().kind == RunLockError::Kind::Busy;
    };
    QList<int> began;
    int heldAfter = 0;
    const RunSession::Hooks hooks {
        .beforeRun =
            [&](int n) {
                began << n;
                EXPECT_TRUE(lockedElsewhere()) << n;
            },
        .afterRun = [&](const RunOutcome&) { heldAfter += lockedElsewhere() ? 1 : 0; },
    };
    const QList<RunOutcome> outcomes = (*opened)->run(3, rig.workloads, rig.control, hooks);

    EXPECT_EQ(began, (QList<int> { 1, 2, 3 }));
    EXPECT_EQ(heldAfter, 3);
    ASSERT_EQ(outcomes.size(), 3);
    for (const RunOutcome& outcome : outcomes) {
        EXPECT_TRUE(outcome.finished);
        ASSERT_TRUE(outcome.record);
        EXPECT_TRUE(outcome.problems.isEmpty());
    }
    EXPECT_LT(outcomes[0].record->finishedAt, outcomes[2].record->finishedAt);
    EXPECT_EQ(rig.runsInHistory(), 3);

    auto sharing = RunSession::open(rig.parts());
    ASSERT_TRUE(sharing) << "a second benchmark of this process shares the lock";
    EXPECT_TRUE((*sharing)->warnings().isEmpty());
    opened->reset();
    EXPECT_TRUE(lockedElsewhere());
    sharing->reset();
    EXPECT_FALSE(lockedElsewhere());
}

namespace {

// Counters that move only as told: each read is 10 s after the one before, and the n-th run's floating-point test
// waited for a CPU half of its time when n is `disturbedRun`. Reads come in pairs, one pair per test in run order.
struct FakeCounters
{
    int run = 0;
    int disturbedRun = 0;
    int reads = 0;
    double waitMicros = 0.0;

    machine::InterferenceCounters read()
    {
        const bool stageEnd = reads % 2 == 1;
        const int stage = reads / 2;
        ++reads;
        if (stageEnd && run == disturbedRun && stage == 1)
            waitMicros += 5e6;
        machine::InterferenceCounters counters;
        counters.at = 10.0 * reads;
        counters.cpuWaitMicros = waitMicros;
        counters.stealTicks = 0.0;
        counters.cpus = 2;
        return counters;
    }
};

} // namespace

// A test that other work disturbed is named as it ends and kept with the run; a machine without the counters
// gives no figure and the run goes on as ever.
TEST(RunSession, ATestOtherWorkDisturbedIsNamedAndKept)
{
    for (const bool counted : { true, false }) {
        SCOPED_TRACE(counted ? "counters" : "no counters");
        Rig rig;
        FakeCounters counters { .run = 1, .disturbedRun = 1 };
        RunSession::Parts parts = rig.parts();
        if (counted)
            parts.readCounters = [&] { return counters.read(); };
        auto opened = RunSession::open(parts);
        ASSERT_TRUE(opened);
        QStringList lines;
        const QList<RunOutcome> outcomes = (*opened)->run(1, rig.workloads, rig.control,
                                                          { .disturbed = [&](const QString& line) { lines << line; } });
        ASSERT_EQ(outcomes.size(), 1);
        ASSERT_TRUE(outcomes.first().finished);
        EXPECT_TRUE(outcomes.first().problems.isEmpty());
        const history::RunRecord& record = *outcomes.first().record;
        EXPECT_EQ(record.interference.keys(), QStringList({ "disk", "double", "int", "memory", "pi" }));
        if (counted) {
            EXPECT_EQ(lines, QStringList { QStringLiteral("干扰：浮点运算 等待处理器 50%") });
            EXPECT_EQ(history::disturbedTests(record), QStringList { QStringLiteral("double") });
            EXPECT_EQ(record.interference.value(QStringLiteral("double")).cpuWait, 0.5);
            EXPECT_EQ(record.interference.value(QStringLiteral("int")).cpuWait, 0.0);
            EXPECT_EQ(record.interference.value(QStringLiteral("int")).steal, 0.0);
        } else {
            EXPECT_TRUE(lines.isEmpty());
            for (const machine::Interference& figures : record.interference) {
                EXPECT_FALSE(figures.cpuWait || figures.steal || figures.frequency);
            }
        }
        EXPECT_FALSE(record.interference.value(QStringLiteral("pi")).frequency) << "no cpufreq: no figure";
        const auto kept = history::HistoryStore(rig.historyPath).runs();
        ASSERT_TRUE(kept);
        ASSERT_EQ(kept->size(), 1);
        EXPECT_EQ(kept->first().interference, record.interference);
    }
}

// --runs auto: runs go on until every score settles over the runs that count, a disturbed run counting towards
// the limit only, and the lock is held throughout.
TEST(RunSession, RunsGoOnUntilTheScoresSettle)
{
    const struct
    {
        const char* name;
        // The floating-point test's seconds in runs 1, 2, ...: 1 s scores 95.
        QList<double> doubleSeconds;
        int disturbedRun;
        int mostRuns;
        int runs;
        QStringList unsteady;
    } cases[] = {
        // 95, 93.1, 95: a deviation of 1.1 points; a fourth 95 brings it to 0.95.
        { "steady after four", { 1.0, 1.38, 1.0, 1.0, 1.0 }, 0, 10, 4, {} },
        { "the limit first", { 1.0, 1.38, 1.0, 1.0 }, 0, 3, 3, { "double" } },
        // The slow second run was disturbed: left out, and three quiet runs agree.
        { "a disturbed run left out", { 1.0, 4.0, 1.0, 1.0, 1.0 }, 2, 10, 4, {} },
        { "never steady", { 1.0, 3.0, 1.0, 3.0, 1.0, 3.0 }, 0, 6, 6, { "double" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        FakeCounters counters { .disturbedRun = c.disturbedRun };
        RunSession::Parts parts = rig.parts();
        parts.readCounters = [&] { return counters.read(); };
        auto opened = RunSession::open(parts);
        ASSERT_TRUE(opened);
        QList<history::RunRecord> kept;
        const RunSession::Hooks hooks {
            .beforeRun =
                [&](int n) {
                    counters.run = n;
                    counters.reads = 0;
                    rig.workloads.newRun();
                    rig.workloads.stageSeconds[QStringLiteral("double")] = c.doubleSeconds.value(n - 1);
                    const platform::Status<RunLockError> taken = RunLock(rig.lockPath).tryLock();
                    EXPECT_TRUE(!taken && taken.error().kind == RunLockError::Kind::Busy) << n;
                },
            .another =
                [&](const QList<RunOutcome>& done) {
                    kept.clear();
                    for (const RunOutcome& outcome : done)
                        kept << *outcome.record;
                    return !history::steadyState(kept, { .mostRuns = c.mostRuns }).done;
                },
        };
        const QList<RunOutcome> outcomes = (*opened)->run(c.mostRuns, rig.workloads, rig.control, hooks);
        EXPECT_EQ(outcomes.size(), c.runs);
        EXPECT_EQ(rig.runsInHistory(), c.runs) << "each run kept, disturbed or not";
        EXPECT_EQ(history::steadyState(kept, { .mostRuns = c.mostRuns }).unsteady, c.unsteady);
        EXPECT_EQ(history::countedRuns(kept).size(), c.runs - (c.disturbedRun > 0 ? 1 : 0));
    }
}

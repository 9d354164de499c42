// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/BenchmarkRun.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Workloads.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

using namespace ostrel;

namespace {

// An extended test's result, as the run sees it: any record under its test's key.
struct SpeedUp
{
    double overall = 0.0;
    friend bool operator==(const SpeedUp&, const SpeedUp&) = default;
};

} // namespace

namespace {

class ManualClock final : public platform::Clock
{
public:
    explicit ManualClock(double start)
        : m_now(start)
    {
    }
    double now() const override { return m_now.load(); }
    void advance(double seconds) { m_now = m_now.load() + seconds; }

private:
    std::atomic<double> m_now;
};

// The wall clock of a run: each reading is one more of the given instants.
class SteppingClock final : public platform::Clock
{
public:
    double now() const override { return 1796707200.0 + 100.0 * ++m_readings; }

private:
    mutable std::atomic<int> m_readings { 0 };
};

// Everything the run writes, in order, from whatever thread.
class EventLog
{
public:
    void add(QString event)
    {
        std::lock_guard lock(m_mutex);
        m_events << std::move(event);
    }
    QStringList events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    QStringList matching(const QString& prefix) const
    {
        QStringList found;
        for (const QString& event : events()) {
            if (event.startsWith(prefix))
                found << event.mid(prefix.size());
        }
        return found;
    }
    qsizetype indexOf(const QString& event) const { return events().indexOf(event); }
    // Everything but the workloads' own calls: what the run wrote.
    QStringList writes() const
    {
        QStringList found;
        for (const QString& event : events()) {
            if (!event.startsWith(QLatin1String("work:")))
                found << event;
        }
        return found;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_events;
};

class RecordingDefaults final : public platform::UserDefaults
{
public:
    RecordingDefaults(const QString& path, EventLog& log)
        : UserDefaults(path)
        , m_log(log)
    {
    }
    bool setDouble(const QString& key, double value) override
    {
        m_log.add(QStringLiteral("store:%1=%2").arg(key).arg(value, 0, 'g', 17));
        return UserDefaults::setDouble(key, value);
    }

private:
    EventLog& m_log;
};

// Workloads that take only the time the test gives them on the stopwatch.
class FakeWorkloads final : public Workloads
{
public:
    FakeWorkloads(ManualClock& clock, EventLog& log)
        : m_clock(clock)
        , m_log(log)
    {
    }

    // Seconds a stage takes; spent on its first step.
    std::map<QString, double> stageSeconds;
    // The error number the disk steps report from the n-th on.
    int diskError = 0;
    int diskFailsFrom = 1;
    // Called at the start of the n-th call (counted from 1) of a workload.
    std::map<std::pair<QString, int>, std::function<void()>> hooks;

    void integerStep() override { step(QStringLiteral("int")); }
    bool floatingPointStep(const std::atomic<bool>& stop) override
    {
        step(QStringLiteral("double"));
        return !stop.load();
    }
    bool piComputation(const std::atomic<bool>& stop) override
    {
        step(QStringLiteral("pi"));
        return !stop.load();
    }
    bool memoryStep(const std::atomic<bool>& stop) override
    {
        step(QStringLiteral("memory"));
        return !stop.load();
    }
    QString diskPreparation() override
    {
        m_log.add(QStringLiteral("work:prepare"));
        return QStringLiteral("/nonexistent/temp.txt");
    }
    // Counts calls afresh, for a second run with the same workloads.
    void newRun() { m_calls.clear(); }

    int diskStep(const QString& path) override
    {
        EXPECT_EQ(path, QStringLiteral("/nonexistent/temp.txt"));
        const int call = step(QStringLiteral("disk"));
        return call >= diskFailsFrom ? diskError : 0;
    }
    void diskCleanup(const QString& path) override
    {
        EXPECT_EQ(path, QStringLiteral("/nonexistent/temp.txt"));
        m_log.add(QStringLiteral("work:cleanup"));
    }

private:
    int step(const QString& stage)
    {
        const int call = ++m_calls[stage];
        m_log.add(QStringLiteral("work:") + stage);
        if (auto hook = hooks.find({ stage, call }); hook != hooks.end())
            hook->second();
        if (call == 1)
            m_clock.advance(stageSeconds.count(stage) ? stageSeconds[stage] : 0.0);
        return call;
    }

    ManualClock& m_clock;
    EventLog& m_log;
    std::map<QString, int> m_calls;
};

class BenchmarkRunTest : public ::testing::Test
{
protected:
    BenchmarkRunTest()
    {
        const auto direct = Qt::DirectConnection;
        auto bar = [&](platform::BarHolder& holder, const QString& name) {
            QObject::connect(
                &holder, &platform::BarHolder::valueChanged, &holder,
                [this, name](double v) { log.add(QStringLiteral("bar:%1=%2").arg(name).arg(v, 0, 'g', 17)); }, direct);
            QObject::connect(
                &holder, &platform::BarHolder::hiddenChanged, &holder,
                [this, name](bool h) { log.add(QStringLiteral("hidden:%1=%2").arg(name).arg(h)); }, direct);
        };
        auto text = [&](platform::TextHolder& holder, const QString& name) {
            QObject::connect(
                &holder, &platform::TextHolder::textChanged, &holder,
                [this, name](const QString& t) { log.add(QStringLiteral("text:%1=%2").arg(name, t)); }, direct);
            QObject::connect(
                &holder, &platform::TextHolder::hiddenChanged, &holder,
                [this, name](bool h) { log.add(QStringLiteral("hidden:%1=%2").arg(name).arg(h)); }, direct);
        };
        for (const TestKind& kind : kTestKinds) {
            bar(panel.*kind.scoreProgress, QString::fromLatin1(kind.key));
            text(panel.*kind.scoreLabel, QString::fromLatin1(kind.key));
        }
        bar(panel.allScoreProgress, QStringLiteral("all"));
        text(panel.allScoreLabel, QStringLiteral("all"));
        bar(panel.testingProgress, QStringLiteral("progress"));
        text(panel.testingState, QStringLiteral("state"));
        text(panel.lastTime, QStringLiteral("lastTime"));
    }

    BenchmarkRun makeRun()
    {
        return BenchmarkRun({ panel, defaults, workloads, control, stopwatch, wallClock,
                              [](double t) { return QStringLiteral("T") + QString::number(t, 'f', 0); } });
    }

    void allStagesTake(double seconds)
    {
        for (const TestKind& kind : kTestKinds)
            workloads.stageSeconds[QString::fromLatin1(kind.key)] = seconds;
    }

    QTemporaryDir dir;
    EventLog log;
    Panel panel;
    RecordingDefaults defaults { dir.filePath(QStringLiteral("ostrel.conf")), log };
    ManualClock stopwatch { 5000.0 };
    SteppingClock wallClock;
    FakeWorkloads workloads { stopwatch, log };
    RunControl control;
};

QStringList expectedProgress()
{
    QStringList values;
    for (int v = 1; v <= 40; ++v)
        values << QString::number(v);
    values << QStringLiteral("60");
    for (int v = 61; v <= 100; ++v)
        values << QString::number(v);
    values << QStringLiteral("100");
    return values;
}

} // namespace

TEST_F(BenchmarkRunTest, FourSecondsPerStageScoresEightyEverywhere)
{
    allStagesTake(4.0);
    EXPECT_EQ(makeRun().run(), BenchmarkRun::Outcome::Finished);

    for (const TestKind& kind : kTestKinds) {
        const QString key = QString::fromLatin1(kind.key);
        EXPECT_EQ((panel.*kind.scoreProgress).value(), 80.0) << kind.key;
        EXPECT_EQ((panel.*kind.scoreLabel).text(), QStringLiteral("80分")) << kind.key;
        EXPECT_EQ(defaults.doubleForKey(key), 80.0) << kind.key;
    }
    EXPECT_EQ(panel.allScoreProgress.value(), 80.0);
    EXPECT_EQ(panel.allScoreLabel.text(), QStringLiteral("80分"));
    EXPECT_EQ(panel.testingState.text(), QStringLiteral("已完成"));
    EXPECT_EQ(panel.testingProgress.value(), 100.0);
}

TEST_F(BenchmarkRunTest, ScoresOfSingleStages)
{
    workloads.stageSeconds[QStringLiteral("int")] = 2.5; // 87.5
    workloads.stageSeconds[QStringLiteral("pi")] = 25.0; // -25: the bar holds 0
    workloads.stageSeconds[QStringLiteral("disk")] = 20.0; // exactly 0
    EXPECT_EQ(makeRun().run(), BenchmarkRun::Outcome::Finished);

    EXPECT_EQ(panel.intScoreProgress.value(), 87.5);
    EXPECT_EQ(panel.intScoreLabel.text(), QStringLiteral("87分"));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 87.5) << "the bar's value is saved, not the label's";
    EXPECT_EQ(panel.doubleScoreLabel.text(), QStringLiteral("100分")) << "a clock that does not move";
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("double")), 100.0);
    EXPECT_EQ(panel.piScoreLabel.text(), QStringLiteral("0分"));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("pi")), 0.0);
    EXPECT_EQ(log.matching(QStringLiteral("bar:pi=")), QStringList { QStringLiteral("0") });
    EXPECT_EQ(panel.diskScoreLabel.text(), QStringLiteral("0分"));
    // (((0 + 87.5) + 100) + 0) + 100 over 5
    EXPECT_EQ(panel.allScoreProgress.value(), 57.5);
    EXPECT_EQ(panel.allScoreLabel.text(), QStringLiteral("57分"));
}

TEST_F(BenchmarkRunTest, ProgressStateTextsAndWorkComeInTheirOrder)
{
    allStagesTake(1.0);
    makeRun().run();

    EXPECT_EQ(log.matching(QStringLiteral("bar:progress=")), expectedProgress());
    EXPECT_EQ(log.matching(QStringLiteral("text:state=")),
              QStringList({ QStringLiteral("正在测试 整数运算"), QStringLiteral("正在测试 浮点运算"),
                            QStringLiteral("正在测试 综合运算(Pi)"), QStringLiteral("正在测试 内存读写"),
                            QStringLiteral("正在测试 磁盘读写"), QStringLiteral("已完成") }));
    // Shown once, right after its first text, and never hidden by the run.
    EXPECT_EQ(log.matching(QStringLiteral("hidden:")), QStringList { QStringLiteral("state=0") });
    EXPECT_EQ(log.indexOf(QStringLiteral("hidden:state=0")),
              log.indexOf(QStringLiteral("text:state=正在测试 整数运算")) + 1);

    // Each step's advance comes before its work; the bar stays still during pi.
    const QStringList events = log.events();
    QStringList progressAndWork;
    for (const QString& e : events) {
        if (e.startsWith(QStringLiteral("bar:progress=")) || e.startsWith(QStringLiteral("work:")))
            progressAndWork << e;
    }
    QStringList expected;
    int value = 0;
    auto stepped = [&](const QString& stage) {
        for (int i = 0; i < 20; ++i)
            expected << QStringLiteral("bar:progress=%1").arg(++value) << QStringLiteral("work:") + stage;
    };
    stepped(QStringLiteral("int"));
    stepped(QStringLiteral("double"));
    expected << QStringLiteral("work:pi") << QStringLiteral("bar:progress=60");
    value = 60;
    stepped(QStringLiteral("memory"));
    expected << QStringLiteral("work:prepare");
    stepped(QStringLiteral("disk"));
    expected << QStringLiteral("work:cleanup") << QStringLiteral("bar:progress=100");
    EXPECT_EQ(progressAndWork, expected);
}

TEST_F(BenchmarkRunTest, EachStageEndsBarLabelStoreThenTheNextStage)
{
    allStagesTake(2.5);
    makeRun().run();

    const QStringList nextState
        = { QStringLiteral("text:state=正在测试 浮点运算"), QStringLiteral("text:state=正在测试 综合运算(Pi)"),
            QStringLiteral("text:state=正在测试 内存读写"), QStringLiteral("text:state=正在测试 磁盘读写"),
            QStringLiteral("bar:all=87.5") };
    for (int i = 0; i < 5; ++i) {
        const QString key = QString::fromLatin1(kTestKinds[i].key);
        const qsizetype bar = log.indexOf(QStringLiteral("bar:%1=87.5").arg(key));
        ASSERT_GE(bar, 0) << kTestKinds[i].key;
        EXPECT_EQ(log.indexOf(QStringLiteral("text:%1=87分").arg(key)), bar + 1);
        EXPECT_EQ(log.indexOf(QStringLiteral("store:%1=87.5").arg(key)), bar + 2);
        EXPECT_EQ(log.indexOf(nextState[i]), bar + 3);
    }
}

TEST_F(BenchmarkRunTest, StoreIsWrittenOncePerStageThenTheTimeOfTheRun)
{
    allStagesTake(3.0);
    makeRun().run();

    const QStringList stores = log.matching(QStringLiteral("store:"));
    EXPECT_EQ(
        stores,
        QStringList({ QStringLiteral("int=85"), QStringLiteral("double=85"), QStringLiteral("pi=85"),
                      QStringLiteral("memory=85"), QStringLiteral("disk=85"), QStringLiteral("lastTime=1796707300") }));
    // The shown time is a second reading of the wall clock, after the saved one.
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("lastTime")), 1796707300.0);
    EXPECT_EQ(panel.lastTime.text(), QStringLiteral("T1796707400"));
    EXPECT_LT(log.indexOf(QStringLiteral("text:state=已完成")),
              log.indexOf(QStringLiteral("store:lastTime=1796707300")));
    // The overall score has no key of its own.
    QStringList keys = QSettings(defaults.fileName(), QSettings::IniFormat).allKeys();
    keys.sort();
    EXPECT_EQ(keys,
              QStringList({ QStringLiteral("disk"), QStringLiteral("double"), QStringLiteral("int"),
                            QStringLiteral("lastTime"), QStringLiteral("memory"), QStringLiteral("pi") }));
}

TEST_F(BenchmarkRunTest, AStopDuringMemoryKeepsTheFinishedStagesAndWritesNothingMore)
{
    allStagesTake(2.5);
    qsizetype eventsAtStop = -1;
    workloads.hooks[{ QStringLiteral("memory"), 3 }] = [&] {
        control.requestStop();
        eventsAtStop = log.events().size();
    };
    EXPECT_EQ(makeRun().run(), BenchmarkRun::Outcome::Stopped);

    EXPECT_EQ(log.events().size(), eventsAtStop) << "nothing after the stop";
    EXPECT_EQ(log.matching(QStringLiteral("store:")),
              QStringList({ QStringLiteral("int=87.5"), QStringLiteral("double=87.5"), QStringLiteral("pi=87.5") }));
    EXPECT_EQ(panel.memoryScoreLabel.text(), QString());
    EXPECT_EQ(panel.testingProgress.value(), 63.0);
    EXPECT_EQ(log.matching(QStringLiteral("work:memory")).size(), 3);
}

TEST_F(BenchmarkRunTest, AStopDuringDiskStillRemovesTheScratchFile)
{
    workloads.hooks[{ QStringLiteral("disk"), 5 }] = [&] { control.requestStop(); };
    EXPECT_EQ(makeRun().run(), BenchmarkRun::Outcome::Stopped);
    const QStringList events = log.events();
    EXPECT_EQ(events.last(), QStringLiteral("work:cleanup"));
    EXPECT_EQ(log.matching(QStringLiteral("work:disk")).size(), 5);
    EXPECT_TRUE(log.matching(QStringLiteral("store:disk")).isEmpty());
    EXPECT_TRUE(log.matching(QStringLiteral("store:lastTime")).isEmpty());
}

TEST_F(BenchmarkRunTest, AStopDuringPiEndsTheRunAtOnce)
{
    workloads.hooks[{ QStringLiteral("pi"), 1 }] = [&] { control.requestStop(); };
    EXPECT_EQ(makeRun().run(), BenchmarkRun::Outcome::Stopped);
    EXPECT_EQ(log.events().last(), QStringLiteral("work:pi"));
    EXPECT_EQ(panel.testingProgress.value(), 40.0);
}

TEST_F(BenchmarkRunTest, ARunStoppedBeforeItBeginsWritesNothing)
{
    control.requestStop();
    EXPECT_EQ(makeRun().run(), BenchmarkRun::Outcome::Stopped);
    EXPECT_TRUE(log.events().isEmpty());
}

// The window's Stop: from another thread, while the run works. After the
// stop returns, the run changes nothing; what the stop itself writes stays.
TEST_F(BenchmarkRunTest, AfterAStopFromAnotherThreadTheRunWritesNothing)
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
    BenchmarkRun run = makeRun();
    BenchmarkRun::Outcome outcome = BenchmarkRun::Outcome::Finished;
    std::thread worker([&] { outcome = run.run(); });

    while (steps.load() < 25 && panel.testingState.text() != QStringLiteral("已完成"))
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
    EXPECT_EQ(log.writes(), writesAtStop);
    EXPECT_EQ(panel.testingProgress.value(), 0.0);
    EXPECT_TRUE(panel.testingProgress.isHidden());
    if (outcome == BenchmarkRun::Outcome::Stopped) {
        EXPECT_TRUE(log.matching(QStringLiteral("store:lastTime")).isEmpty());
    }
}

// A disk stage that could not write or read back scores 0 however fast it
// was, the run still ends, and the state text says why instead of "已完成".
TEST_F(BenchmarkRunTest, AFailedDiskStageScoresZeroAndSaysWhy)
{
    const struct
    {
        int error;
        int failsFrom;
        const char16_t* state;
    } cases[] = {
        { ENOSPC, 1, u"磁盘读写失败：磁盘空间不足" },
        { EROFS, 11, u"磁盘读写失败：文件系统只读" },
        { EACCES, 20, u"磁盘读写失败：没有权限" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        allStagesTake(4.0);
        workloads.diskError = c.error;
        workloads.diskFailsFrom = c.failsFrom;
        workloads.newRun();
        BenchmarkRun run = makeRun();
        EXPECT_EQ(run.run(), BenchmarkRun::Outcome::Finished);

        EXPECT_EQ(panel.diskScoreProgress.value(), 0.0);
        EXPECT_EQ(panel.diskScoreLabel.text(), QStringLiteral("0分"));
        EXPECT_EQ(defaults.doubleForKey(QStringLiteral("disk")), 0.0);
        EXPECT_EQ(panel.intScoreLabel.text(), QStringLiteral("80分"));
        EXPECT_EQ(panel.allScoreProgress.value(), 64.0) << "the overall score counts the 0";
        EXPECT_EQ(panel.testingState.text(), QString::fromUtf16(c.state));
        EXPECT_EQ(run.problems().failedStage, QString::fromUtf16(c.state));
        EXPECT_EQ(run.problems().saveError, 0);
        EXPECT_EQ(log.events().last().startsWith(QStringLiteral("text:lastTime=")), true);
        EXPECT_EQ(log.matching(QStringLiteral("work:cleanup")).size(),
                  log.matching(QStringLiteral("work:prepare")).size());
    }
    // An error without a plain-language text of its own reads as the system says it.
    EXPECT_EQ(stageFailureText(kTestKinds[4], EIO),
              QStringLiteral("磁盘读写失败：") + QString::fromLocal8Bit(std::strerror(EIO)));
}

// A store that cannot be written does not stop the run or hide its scores;
// the first failure is kept for the end of the run.
TEST_F(BenchmarkRunTest, AStoreThatCannotBeWrittenIsReportedOnce)
{
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    RecordingDefaults unwritable(dir.filePath(QStringLiteral("plain/ostrel/ostrel.conf")), log);
    for (const bool diskFails : { false, true }) {
        SCOPED_TRACE(diskFails);
        allStagesTake(4.0);
        workloads.diskError = diskFails ? ENOSPC : 0;
        workloads.newRun();
        BenchmarkRun run({ panel, unwritable, workloads, control, stopwatch, wallClock, {} });
        EXPECT_EQ(run.run(), BenchmarkRun::Outcome::Finished);

        EXPECT_EQ(run.problems().saveError, ENOTDIR);
        EXPECT_EQ(run.problems().failedStage.isEmpty(), !diskFails);
        EXPECT_EQ(log.matching(QStringLiteral("store:")).size(), 6 * (diskFails ? 2 : 1)) << "every write was tried";
        EXPECT_EQ(panel.intScoreLabel.text(), QStringLiteral("80分"));
        EXPECT_EQ(panel.testingState.text(),
                  diskFails ? QStringLiteral("磁盘读写失败：磁盘空间不足") : QStringLiteral("已完成"));
    }
}

// A finished run is handed over to be kept once, after everything else it
// writes, with its stored values and each stage's time; a stopped one never.
TEST_F(BenchmarkRunTest, AFinishedRunIsKeptOnceAndAStoppedOneNever)
{
    allStagesTake(2.5);
    workloads.stageSeconds[QStringLiteral("pi")] = 4.125;
    std::vector<FinishedRun> kept;
    QString answer;
    auto keeping = [&] {
        workloads.newRun();
        return BenchmarkRun(
            { panel, defaults, workloads, control, stopwatch, wallClock, {}, [&](const FinishedRun& run) {
                 log.add(QStringLiteral("kept"));
                 kept.push_back(run);
                 return answer;
             } });
    };
    BenchmarkRun run = keeping();
    EXPECT_EQ(run.run(), BenchmarkRun::Outcome::Finished);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(log.events().last(), QStringLiteral("kept"));
    const FinishedRun& first = kept.front();
    EXPECT_EQ(first.finishedAt, defaults.doubleForKey(QStringLiteral("lastTime")));
    EXPECT_EQ(first.elapsed, (std::array<double, 5> { 2.5, 2.5, 4.125, 2.5, 2.5 }));
    EXPECT_EQ(first.scores, (std::array<double, 5> { 87.5, 87.5, 79.375, 87.5, 87.5 }));
    EXPECT_EQ(first.overall, panel.allScoreProgress.value());
    EXPECT_TRUE(run.problems().unkept.isEmpty());

    answer = QStringLiteral("数据库文件已损坏");
    BenchmarkRun unkept = keeping();
    EXPECT_EQ(unkept.run(), BenchmarkRun::Outcome::Finished);
    EXPECT_EQ(unkept.problems().unkept, answer);
    EXPECT_EQ(panel.testingState.text(), QStringLiteral("已完成；历史记录未能保存：数据库文件已损坏"));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("disk")), 87.5) << "the stored keys are not lost";

    workloads.hooks[{ QStringLiteral("disk"), 20 }] = [&] { control.requestStop(); };
    EXPECT_EQ(keeping().run(), BenchmarkRun::Outcome::Stopped);
    EXPECT_EQ(kept.size(), 2u);
}

// The five tests are kept as soon as they end, before the extended tests,
// so that nothing ending the process later loses them; the extended results
// are added to the kept run when they come, also after a Stop inside them.
TEST_F(BenchmarkRunTest, TheRunIsKeptBeforeTheExtendedTestsAndTheirResultsAfter)
{
    allStagesTake(2.5);
    std::vector<FinishedRun> kept;
    std::vector<FinishedRun> keptExtended;
    std::function<void()> duringExtension = [] {};
    const QString key = QStringLiteral("multicore");
    std::optional<SpeedUp> multicore = SpeedUp { 5.0 };
    QString keepAnswer;
    auto extended = [&] {
        workloads.newRun();
        return BenchmarkRun({ panel,
                              defaults,
                              workloads,
                              control,
                              stopwatch,
                              wallClock,
                              {},
                              [&](const FinishedRun& run) {
                                  log.add(QStringLiteral("kept"));
                                  kept.push_back(run);
                                  return keepAnswer;
                              },
                              [&](FinishedRun& run) {
                                  log.add(QStringLiteral("extended"));
                                  EXPECT_EQ(run.elapsed[0], 2.5);
                                  if (multicore)
                                      run.extended.set(key, *multicore);
                                  duringExtension();
                              },
                              [&](const FinishedRun& run) {
                                  log.add(QStringLiteral("extended kept"));
                                  keptExtended.push_back(run);
                                  return QStringLiteral("历史记录文件被其他程序占用");
                              } });
    };
    EXPECT_EQ(extended().run(), BenchmarkRun::Outcome::Finished);
    const QStringList events = log.events();
    ASSERT_GE(events.size(), 5);
    EXPECT_TRUE(events[events.size() - 5].startsWith(QStringLiteral("text:lastTime=")));
    EXPECT_EQ(events.mid(events.size() - 4, 3),
              (QStringList { QStringLiteral("kept"), QStringLiteral("extended"), QStringLiteral("extended kept") }));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_FALSE(kept.front().extended.find(key));
    ASSERT_EQ(keptExtended.size(), 1u);
    ASSERT_TRUE(keptExtended.front().extended.find<SpeedUp>());
    EXPECT_EQ(keptExtended.front().extended.find<SpeedUp>()->overall, 5.0);
    EXPECT_EQ(keptExtended.front().finishedAt, kept.front().finishedAt);
    EXPECT_EQ(panel.testingState.text(), QStringLiteral("已完成；历史记录未能保存：历史记录文件被其他程序占用"));

    // The first failure is the one told.
    keepAnswer = QStringLiteral("历史记录文件已损坏");
    BenchmarkRun unkept = extended();
    EXPECT_EQ(unkept.run(), BenchmarkRun::Outcome::Finished);
    EXPECT_EQ(unkept.problems().unkept, keepAnswer);
    EXPECT_EQ(keptExtended.size(), 2u);
    keepAnswer.clear();

    // No extended results: nothing to add.
    multicore.reset();
    EXPECT_EQ(extended().run(), BenchmarkRun::Outcome::Finished);
    EXPECT_EQ(keptExtended.size(), 2u);

    multicore = SpeedUp { 5.0 };
    duringExtension = [&] { control.requestStop(); };
    EXPECT_EQ(extended().run(), BenchmarkRun::Outcome::Stopped);
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept.back().scores[4], 87.5);
    ASSERT_EQ(keptExtended.size(), 3u);
    EXPECT_TRUE(keptExtended.back().extended.find(key));
}

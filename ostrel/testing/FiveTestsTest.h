// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the tests of a run share: clocks the test moves, workloads that take
// only the time the test gives them, and a log of everything the run writes.

#include "ostrel/engine/FiveTests.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Workloads.h"
#include "platform/Clock.h"
#include "platform/UserDefaults.h"

#include <QStringList>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

namespace ostrel::testkit {

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

    DiskStatus diskStep(const QString& path) override
    {
        EXPECT_EQ(path, QStringLiteral("/nonexistent/temp.txt"));
        const int call = step(QStringLiteral("disk"));
        return diskStatus(call >= diskFailsFrom ? diskError : 0);
    }
    void diskCleanup(const QString& path) override
    {
        EXPECT_EQ(path, QStringLiteral("/nonexistent/temp.txt"));
        m_log.add(QStringLiteral("work:cleanup"));
    }

private:
    // The extended tests call the steps from several threads at once.
    int step(const QString& stage)
    {
        std::unique_lock lock(m_mutex);
        const int call = ++m_calls[stage];
        lock.unlock();
        m_log.add(QStringLiteral("work:") + stage);
        if (auto hook = hooks.find({ stage, call }); hook != hooks.end())
            hook->second();
        lock.lock();
        if (call == 1)
            m_clock.advance(stageSeconds.count(stage) ? stageSeconds.at(stage) : 0.0);
        return call;
    }

    ManualClock& m_clock;
    EventLog& m_log;
    std::mutex m_mutex;
    std::map<QString, int> m_calls;
};

class FiveTestsTest : public ::testing::Test
{
protected:
    FiveTestsTest()
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

    // What a run takes from the fixture; a test adds the hooks it needs.
    FiveTests::Dependencies dependencies()
    {
        return { .panel = panel,
                 .defaults = defaults,
                 .workloads = workloads,
                 .control = control,
                 .stopwatch = stopwatch,
                 .wallClock = wallClock };
    }

    FiveTests makeRun()
    {
        FiveTests::Dependencies parts = dependencies();
        parts.lastRunText = [](double t) { return QStringLiteral("T") + QString::number(t, 'f', 0); };
        return FiveTests(std::move(parts));
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

} // namespace ostrel::testkit

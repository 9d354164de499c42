// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window's tests share: workloads that take no time unless held
// back, a private store, and the interface loaded around them.

#include "ostrel/app/MainInterface.h"
#include "ostrel/app/OLTesting.h"
#include "ostrel/app/RunThread.h"
#include "ostrel/engine/Workloads.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <thread>

namespace ostrel::testkit {

// Shared between a test and the workloads of every run it starts.
struct RunLog
{
    std::atomic<int> made { 0 };
    std::atomic<int> alive { 0 };
    // The stage whose first step waits while `held` is set; empty for none.
    // Set before a run starts; the worker only reads it.
    QString holdAt;
    std::atomic<bool> held { false };
    // Set when a run reaches the stage it is held at.
    std::atomic<int> reachedHold { 0 };
    // What every disk step reports: an error number, 0 for none.
    std::atomic<int> diskError { 0 };
};

class FakeWorkloads final : public Workloads
{
public:
    FakeWorkloads(std::shared_ptr<RunLog> log, QString holdAt)
        : m_log(std::move(log))
        , m_holdAt(std::move(holdAt))
    {
        ++m_log->made;
        ++m_log->alive;
    }
    ~FakeWorkloads() override { --m_log->alive; }

    void integerStep() override { hold(QStringLiteral("int"), nullptr); }
    bool floatingPointStep(const std::atomic<bool>& stop) override { return hold(QStringLiteral("double"), &stop); }
    bool piComputation(const std::atomic<bool>& stop) override { return hold(QStringLiteral("pi"), &stop); }
    bool memoryStep(const std::atomic<bool>& stop) override { return hold(QStringLiteral("memory"), &stop); }
    QString diskPreparation() override { return QStringLiteral("/nonexistent/temp.txt"); }
    DiskStatus diskStep(const QString&) override
    {
        hold(QStringLiteral("disk"), nullptr);
        return diskStatus(m_log->diskError.load());
    }
    void diskCleanup(const QString&) override { }

private:
    // Waits at the held stage until released or, where the stage can end
    // early, until a stop is requested, as the real workloads do.
    bool hold(const QString& stage, const std::atomic<bool>* stop)
    {
        if (stage == m_holdAt && !m_reached) {
            m_reached = true;
            ++m_log->reachedHold;
            while (m_log->held.load() && !(stop && stop->load()))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return !(stop && stop->load());
    }

    std::shared_ptr<RunLog> m_log;
    const QString m_holdAt;
    bool m_reached = false;
};

// A controller with a store of its own in dir and the fake workloads.
// The history goes beside the store; the look for skew conditions takes no
// time and finds what the fixture tree at probeRoot holds (nothing when empty).
inline std::unique_ptr<OLTesting> makeTesting(const QString& storePath, const std::shared_ptr<RunLog>& log,
                                              const QString& probeRoot = {})
{
    auto testing
        = std::make_unique<OLTesting>(storePath, [log] { return std::make_unique<FakeWorkloads>(log, log->holdAt); });
    machine::SkewProbe probe;
    probe.window = std::chrono::milliseconds(0);
    const QString root
        = probeRoot.isEmpty() ? QFileInfo(storePath).absolutePath() + QStringLiteral("/no-such-root") : probeRoot;
    probe.roots = { root + QStringLiteral("/proc"), root + QStringLiteral("/sys"), root + QStringLiteral("/etc") };
    testing->setHistory(QFileInfo(storePath).absolutePath() + QStringLiteral("/history.sqlite"), probe);
    testing->setRunLockPath(QFileInfo(storePath).absolutePath() + QStringLiteral("/ostrel-run.lock"));
    return testing;
}

// Lets queued updates reach the widgets; true when pred held in time.
template <class Pred> bool eventually(Pred pred)
{
    return QTest::qWaitFor(pred, 10000);
}

inline QStringList scoreLabels(const Outlets& o)
{
    return { o.intScoreLabel->text(),    o.doubleScoreLabel->text(), o.piScoreLabel->text(),
             o.memoryScoreLabel->text(), o.diskScoreLabel->text(),   o.allScoreLabel->text() };
}

// Lets the window show every change made so far: during a run it looks at
// the panel on a timer, so this may take a moment.
inline void showQueuedUpdates(const OLTesting& testing)
{
    EXPECT_TRUE(QTest::qWaitFor([&] { return !testing.hasChangesToShow(); }, 10000));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// A window loaded around a store of its own and fake workloads.
class WindowTest : public ::testing::Test
{
protected:
    QString storePath() const { return m_dir.filePath(QStringLiteral("ostrel.conf")); }
    QString pathInDir(const QString& name) const { return m_dir.filePath(name); }

    // Writes the store as another program would, values as given.
    void writeStore(const std::map<QString, QString>& values)
    {
        QSettings settings(storePath(), QSettings::IniFormat);
        for (const auto& [key, value] : values)
            settings.setValue(key, value);
    }

    std::map<QString, double> storeValues()
    {
        std::map<QString, double> values;
        QSettings settings(storePath(), QSettings::IniFormat);
        for (const QString& key : settings.allKeys())
            values[key] = settings.value(key).toDouble();
        return values;
    }

    // With the store at `store` instead of storePath() when given, and skew
    // conditions from the fixture tree at probeRoot.
    MainInterface& load(const QString& store = {}, const QString& probeRoot = {})
    {
        m_interface = std::make_unique<MainInterface>(
            *qApp, makeTesting(store.isEmpty() ? storePath() : store, log, probeRoot));
        return *m_interface;
    }

    OLTesting& testing() { return m_interface->testing(); }
    QMainWindow& mainWindow() { return m_interface->window(); }
    Panel& panel() { return m_interface->testing().panel(); }
    QPushButton& startButton() { return m_interface->startButton(); }
    const Outlets& outlets() { return m_interface->testing().outlets(); }

    void press() { QTest::mouseClick(&startButton(), Qt::LeftButton); }

    bool runEnded() { return testing().thread()->isFinished(); }

    std::shared_ptr<RunLog> log = std::make_shared<RunLog>();

    ~WindowTest() override
    {
        // A held integer step cannot end early; let it go before the window
        // waits for its run.
        log->held = false;
        m_interface.reset();
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<MainInterface> m_interface;
};

// Every value and text change of the panel, from whichever thread made it.

} // namespace ostrel::testkit

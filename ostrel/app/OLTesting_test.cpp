// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/app/RunThread.h"
#include "ostrel/engine/RunLock.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/extended/disk/testing/FakeDiskTest.h"
#include "ostrel/extended/testing/FakeExtendedTests.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ui/CurvesChart.h"
#include "ostrel/testing/WindowTest.h"
#include "platform/UsableCpus.h"
#include "platform/ui/Alert.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineSeries>
#include <QMainWindow>
#include <QScatterSeries>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::testkit;

namespace {

class PanelRecorder
{
public:
    explicit PanelRecorder(Panel& panel)
    {
        for (const TestKind& kind : kTestKinds) {
            watch(panel.*kind.scoreProgress, kind.key);
            watch(panel.*kind.scoreLabel, kind.key);
        }
        watch(panel.allScoreProgress, "all");
        watch(panel.allScoreLabel, "all");
        watch(panel.testingProgress, "progress");
        watch(panel.testingState, "state");
        watch(panel.lastTime, "lastTime");
    }

    struct Event
    {
        QString what;
        // The run that made the change; none for the GUI thread.
        RunThread* run;
    };

    std::vector<Event> events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const Event& e : events())
            out << e.what;
        return out;
    }

private:
    void add(QString what)
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back({ std::move(what), RunThread::current() });
    }
    void watch(platform::BarHolder& bar, const char* name)
    {
        const QString n = QString::fromLatin1(name);
        QObject::connect(
            &bar, &platform::BarHolder::valueChanged, &m_context,
            [this, n](double v) { add(n + QStringLiteral(" bar ") + QString::number(v)); }, Qt::DirectConnection);
        QObject::connect(
            &bar, &platform::BarHolder::hiddenChanged, &m_context,
            [this, n](bool h) { add(n + (h ? QStringLiteral(" hidden") : QStringLiteral(" shown"))); },
            Qt::DirectConnection);
    }
    void watch(platform::TextHolder& text, const char* name)
    {
        const QString n = QString::fromLatin1(name);
        QObject::connect(
            &text, &platform::TextHolder::textChanged, &m_context,
            [this, n](const QString& t) { add(n + QStringLiteral(" text ") + t); }, Qt::DirectConnection);
        QObject::connect(
            &text, &platform::TextHolder::hiddenChanged, &m_context,
            [this, n](bool h) { add(n + (h ? QStringLiteral(" hidden") : QStringLiteral(" shown"))); },
            Qt::DirectConnection);
    }

    QObject m_context;
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
};
const QStringList kResetEvents {
    QStringLiteral("progress shown"),  QStringLiteral("progress bar 0"), QStringLiteral("int bar 0"),
    QStringLiteral("int text 0分"),    QStringLiteral("double bar 0"),   QStringLiteral("double text 0分"),
    QStringLiteral("pi bar 0"),        QStringLiteral("pi text 0分"),    QStringLiteral("memory bar 0"),
    QStringLiteral("memory text 0分"), QStringLiteral("disk bar 0"),     QStringLiteral("disk text 0分"),
    QStringLiteral("all bar 0"),       QStringLiteral("all text 0分"),
};
} // namespace

TEST_F(WindowTest, FirstPressResetsTheSixRowsAndStartsOneRun)
{
    writeStore({ { "int", "87.9" },
                 { "double", "63.2" },
                 { "pi", "70" },
                 { "memory", "55.5" },
                 { "disk", "91" },
                 { "lastTime", "1796707200" } });
    log->holdAt = QStringLiteral("int");
    log->held = true;
    load();
    const QString lastLine = panel().lastTime.text();
    RunThread* placeholder = testing().thread();
    PanelRecorder recorder(panel());

    press();
    EXPECT_EQ(startButton().text(), QStringLiteral("停止测试"));
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));
    EXPECT_EQ(log->made.load(), 1);
    EXPECT_NE(testing().thread(), placeholder);
    EXPECT_TRUE(testing().thread()->isRunning());

    // The reset comes first, on the GUI thread and in row order; then the
    // run's own writes, on its thread.
    const std::vector<PanelRecorder::Event> events = recorder.events();
    const QStringList texts = recorder.texts();
    ASSERT_GE(texts.size(), kResetEvents.size() + 1);
    EXPECT_EQ(texts.mid(0, kResetEvents.size()), kResetEvents);
    EXPECT_EQ(texts[kResetEvents.size()], QStringLiteral("state text 正在测试 整数运算"));
    for (size_t i = 0; i < events.size(); ++i) {
        RunThread* expected = i < size_t(kResetEvents.size()) ? nullptr : testing().thread();
        EXPECT_EQ(events[i].run, expected) << texts[qsizetype(i)].toStdString();
    }

    showQueuedUpdates(testing());
    EXPECT_EQ(scoreLabels(outlets()), QStringList(6, QStringLiteral("0分")));
    for (QProgressBar* bar : { outlets().intScoreProgress.data(), outlets().allScoreProgress.data() })
        EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(outlets().testingProgress->isVisibleTo(outlets().testingProgress->window()));
    EXPECT_TRUE(outlets().testingState->isVisibleTo(outlets().testingState->window()));
    EXPECT_EQ(outlets().testingState->text(), QStringLiteral("正在测试 整数运算"));
    EXPECT_EQ(panel().lastTime.text(), lastLine) << "the press leaves the last-run line";
}

TEST_F(WindowTest, StopMidRunLeavesFinishedStagesAndThenNothingChanges)
{
    writeStore({ { "int", "1" },
                 { "double", "2" },
                 { "pi", "3" },
                 { "memory", "4" },
                 { "disk", "5" },
                 { "lastTime", "1796707200" } });
    log->holdAt = QStringLiteral("memory");
    log->held = true;
    load();
    press();
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));

    PanelRecorder recorder(panel());
    press();
    // The press's own writes, then nothing from the run.
    EXPECT_EQ(recorder.texts(),
              QStringList({ QStringLiteral("progress bar 0"), QStringLiteral("progress hidden"),
                            QStringLiteral("state hidden") }));
    EXPECT_EQ(startButton().text(), QStringLiteral("开始测试"));
    EXPECT_TRUE(testing().thread()->isCancelled());

    // The held memory step notices the stop and the run ends by itself.
    ASSERT_TRUE(eventually([&] { return runEnded(); }));
    EXPECT_EQ(log->alive.load(), 1) << "the thread keeps its workloads until it is dropped";
    EXPECT_EQ(recorder.texts().size(), 3);

    showQueuedUpdates(testing());
    EXPECT_FALSE(outlets().testingProgress->isVisibleTo(outlets().testingProgress->window()));
    EXPECT_FALSE(outlets().testingState->isVisibleTo(outlets().testingState->window()));
    EXPECT_EQ(outlets().testingProgress->value(), 0);
    const QStringList labels = scoreLabels(outlets());
    EXPECT_EQ(labels.mid(3), QStringList({ "0分", "0分", "0分" })) << "memory, disk and overall untouched";
    for (int row = 0; row < 3; ++row)
        EXPECT_NE(labels[row], QStringLiteral("0分"));

    // Saved: the three finished stages, as their bars hold them; the rest
    // as before.
    auto stored = storeValues();
    EXPECT_EQ(stored["int"], panel().intScoreProgress.value());
    EXPECT_EQ(stored["double"], panel().doubleScoreProgress.value());
    EXPECT_EQ(stored["pi"], panel().piScoreProgress.value());
    EXPECT_EQ(stored["memory"], 4.0);
    EXPECT_EQ(stored["disk"], 5.0);
    EXPECT_EQ(stored["lastTime"], 1796707200.0);
}

TEST_F(WindowTest, AFinishedRunShowsAndSavesItsScoresAndStopKeepsThem)
{
    load();
    press();
    ASSERT_TRUE(eventually([&] { return runEnded(); }));
    showQueuedUpdates(testing());

    // The run never touches the button: it still offers to stop.
    EXPECT_EQ(startButton().text(), QStringLiteral("停止测试"));
    EXPECT_EQ(outlets().testingState->text(), QStringLiteral("已完成"));
    EXPECT_EQ(outlets().testingProgress->value(), 100);
    EXPECT_TRUE(outlets().lastTime->text().startsWith(QStringLiteral("上次性能测试：")));
    auto stored = storeValues();
    for (const TestKind& kind : kTestKinds) {
        const double score = (panel().*kind.scoreProgress).value();
        EXPECT_GT(score, 99.0) << kind.key << ": fake work takes next to no time";
        EXPECT_EQ(stored[QString::fromLatin1(kind.key)], score) << kind.key;
    }
    EXPECT_GT(stored["lastTime"], 1.7e9);
    const QStringList finished = scoreLabels(outlets());
    EXPECT_EQ(finished[0], scoreText(panel().intScoreProgress.value()));
    EXPECT_EQ(finished[5], scoreText(panel().allScoreProgress.value()));

    press(); // Stop, after the end
    showQueuedUpdates(testing());
    EXPECT_EQ(startButton().text(), QStringLiteral("开始测试"));
    EXPECT_EQ(scoreLabels(outlets()), finished);
    EXPECT_FALSE(outlets().testingProgress->isVisibleTo(outlets().testingProgress->window()));
    EXPECT_EQ(storeValues(), stored);

    // The next press starts afresh from "0分".
    log->holdAt = QStringLiteral("int");
    log->held = true;
    press();
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));
    showQueuedUpdates(testing());
    EXPECT_EQ(scoreLabels(outlets()), QStringList(6, QStringLiteral("0分")));
    EXPECT_EQ(log->made.load(), 2);
}

// The first run is held in a step that cannot end early, so it is still
// under way when the second starts (and is kept, not dropped, until it ends).
TEST_F(WindowTest, StartRightAfterStopNeverMixesTheTwoRuns)
{
    log->holdAt = QStringLiteral("int");
    log->held = true;
    load();
    press();
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));
    RunThread* first = testing().thread();

    PanelRecorder recorder(panel());
    press(); // Stop: the first run is still in its integer stage
    log->holdAt.clear();
    press(); // Start at once
    RunThread* second = testing().thread();
    ASSERT_NE(first, second);
    log->held = false;
    ASSERT_TRUE(eventually([&] { return second->isFinished() && first->isFinished(); }));
    EXPECT_EQ(log->made.load(), 2);

    const std::vector<PanelRecorder::Event> events = recorder.events();
    ASSERT_FALSE(events.empty());
    for (const auto& event : events)
        EXPECT_NE(event.run, first) << "the stopped run wrote " << event.what.toStdString();
    EXPECT_EQ(recorder.texts().last(), panel().lastTime.text().prepend(QStringLiteral("lastTime text ")));
    showQueuedUpdates(testing());
    EXPECT_EQ(outlets().testingState->text(), QStringLiteral("已完成"));
}

// Another program's run keeps the press from doing anything but say so;
// this window's own run that is still winding down after a Stop does not.
TEST_F(WindowTest, OneBenchmarkAtATimeButNeverRefusedByItsOwnStoppedRun)
{
    writeStore({ { QStringLiteral("int"), QStringLiteral("70.5") },
                 { QStringLiteral("lastTime"), QStringLiteral("1796707200") } });
    load();
    platform::ui::AlertRecorder alerts;
    const QStringList labels = scoreLabels(outlets());
    const QString lastTime = outlets().lastTime->text();
    const std::map<QString, double> stored = storeValues();
    {
        RunLock other(testing().runLockPath());
        ASSERT_TRUE(other.tryLock());
        press();
        showQueuedUpdates(testing());
        EXPECT_EQ(startButton().text(), QStringLiteral("开始测试"));
        EXPECT_EQ(scoreLabels(outlets()), labels);
        EXPECT_EQ(outlets().lastTime->text(), lastTime);
        EXPECT_EQ(storeValues(), stored);
        EXPECT_EQ(log->made.load(), 0);
        EXPECT_FALSE(testing().thread()->isRunning());
        ASSERT_EQ(alerts.alerts().size(), 1);
        EXPECT_EQ(alerts.alerts().first().messageText, QStringLiteral("另一个测试正在进行"));
        EXPECT_EQ(alerts.alerts().first().informativeText,
                  QStringLiteral("%1 (PID %2) 正在进行测试，请等它结束后再开始。")
                      .arg(QString::fromLocal8Bit(program_invocation_short_name))
                      .arg(::getpid()));
        EXPECT_EQ(alerts.alerts().first().window.data(), static_cast<QWidget*>(&mainWindow()));
    }

    // A held integer step does not end at a Stop: the first run keeps the
    // lock while the second one starts and finishes.
    log->holdAt = QStringLiteral("int");
    log->held = true;
    press();
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));
    RunThread* first = testing().thread();
    press();
    log->holdAt.clear();
    press();
    ASSERT_NE(testing().thread(), first);
    ASSERT_TRUE(eventually([&] { return runEnded(); }));
    EXPECT_FALSE(first->isFinished());
    EXPECT_EQ(alerts.alerts().size(), 1);
    EXPECT_FALSE(RunLock(testing().runLockPath()).tryLock()) << "the stopped run still holds it";

    log->held = false;
    ASSERT_TRUE(eventually([&] { return first->isFinished(); }));
    EXPECT_TRUE(RunLock(testing().runLockPath()).tryLock());
}

TEST_F(WindowTest, AnUnexpectedTitleStops)
{
    load();
    startButton().setText(QStringLiteral("Start"));
    press();
    EXPECT_EQ(startButton().text(), QStringLiteral("开始测试"));
    EXPECT_EQ(log->made.load(), 0);
    EXPECT_TRUE(testing().thread()->isCancelled()) << "the placeholder took the stop";
    EXPECT_FALSE(testing().thread()->isRunning());
    press();
    EXPECT_EQ(startButton().text(), QStringLiteral("停止测试"));
    EXPECT_EQ(log->made.load(), 1);
}

// Results that could not be saved are said once per run, in a sheet on the
// window, whether the run finished or was stopped; a failed disk stage says
// why where "已完成" would be.
TEST_F(WindowTest, UnsavedResultsAndAFailedDiskStageAreNeverPassedOffAsSuccess)
{
    QFile plain(pathInDir(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString store = pathInDir(QStringLiteral("plain/ostrel.conf"));
    platform::ui::AlertRecorder alerts;
    log->diskError = ENOSPC;
    load(store);

    press();
    ASSERT_TRUE(eventually([&] { return runEnded() && !alerts.alerts().isEmpty(); }));
    showQueuedUpdates(testing());
    // The history beside the store cannot be written either, and says so on the same line.
    EXPECT_TRUE(
        outlets().testingState->text().startsWith(QStringLiteral("磁盘读写失败：磁盘空间不足；历史记录未能保存：")))
        << qPrintable(outlets().testingState->text());
    EXPECT_EQ(outlets().diskScoreLabel->text(), QStringLiteral("0分"));
    // The run's thread has ended, so every alert it asked for has been delivered.
    ASSERT_EQ(alerts.alerts().size(), 1) << "once per run, not once per value";
    const platform::ui::AlertRecord& alert = alerts.alerts().first();
    EXPECT_EQ(alert.messageText, QStringLiteral("成绩未能保存"));
    EXPECT_EQ(alert.informativeText,
              QStringLiteral("无法写入 %1：%2").arg(store, QString::fromLocal8Bit(std::strerror(ENOTDIR))));
    EXPECT_EQ(alert.window.data(), static_cast<QWidget*>(&mainWindow()));

    press(); // Stop after the end: the failure was already said
    alerts.clear();
    log->holdAt = QStringLiteral("memory");
    log->held = true;
    press();
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));
    press(); // Stop mid-run, after three stages failed to save
    ASSERT_TRUE(eventually([&] { return runEnded(); }));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(alerts.alerts().size(), 1);
}

// A finished run goes into the history with its skew conditions, which show
// under the last-run line while it runs.
TEST_F(WindowTest, AFinishedRunIsKeptInTheHistoryWithItsSkewConditions)
{
    const QString root = pathInDir(QStringLiteral("fixture"));
    const QString battery = root + QStringLiteral("/sys/class/power_supply/BAT0");
    ASSERT_TRUE(QDir().mkpath(battery));
    for (const auto& [name, text] : { std::pair { "type", "Battery\n" }, std::pair { "status", "Discharging\n" } }) {
        QFile file(battery + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    load({}, root);

    press();
    ASSERT_TRUE(eventually([&] { return runEnded(); }));
    showQueuedUpdates(testing());
    EXPECT_EQ(outlets().skewWarning->text(), QStringLiteral("正在使用电池供电，成绩可能偏低。"));
    EXPECT_TRUE(outlets().skewWarning->isVisibleTo(&mainWindow()));

    const auto runs = history::HistoryStore(testing().historyPath()).runs();
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->size(), 1);
    EXPECT_EQ(runs->first().finishedAt, storeValues()["lastTime"]);
    EXPECT_EQ(runs->first().conditions, QStringList { QStringLiteral("battery") });
    EXPECT_TRUE(runs->first().elapsed[4].has_value());

    // Stop hides the line with the rest of the run's look.
    press();
    showQueuedUpdates(testing());
    EXPECT_FALSE(outlets().skewWarning->isVisibleTo(&mainWindow()));
}

namespace {

// Answers at once with fixed figures, read through the cache in the folder it was given.
std::unique_ptr<disk::testing::FakeDiskTest> fixedDiskTest(const QString& folder)
{
    auto test = std::make_unique<disk::testing::FakeDiskTest>();
    test->answer.result->folder = folder;
    test->answer.result->direct = false;
    test->answer.result->fileBytes = 256LL << 20;
    return test;
}

} // namespace

// Off, the window is as it always was; on, the extended tests follow the
// five and show their lines. Both choices live beside the saved results.
TEST_F(WindowTest, ExtendedTestsRunOnlyWhenAskedAndTheChoiceIsRemembered)
{
    // The window makes a line per row of the table.
    const auto multicoreLine = [&] { return testing().extendedLine(QStringLiteral("multicore")); };
    const auto diskLine = [&] { return testing().extendedLine(QStringLiteral("disk")); };
    QStringList diskFolders;
    auto prepare = [&] {
        testing().setExtendedTestFactory(
            ostrel::testing::FakeExtendedTests().instead<DiskResult>([&](const ExtendedSetup& setup) {
                diskFolders << setup.folder;
                return fixedDiskTest(setup.folder);
            }));
    };
    load();
    prepare();
    ASSERT_TRUE(outlets().extendedTests);
    EXPECT_EQ(outlets().extendedTests->text(), QStringLiteral("扩展测试（多核、磁盘、内存带宽、内存延迟）"));
    EXPECT_EQ(outlets().extendedTests->accessibleDescription(),
              QStringLiteral("在五项测试之后进行多核测试、磁盘测试、内存带宽测试和内存延迟测试"));
    ASSERT_TRUE(multicoreLine() && diskLine());
    EXPECT_EQ(diskLine()->accessibleDescription(), QStringLiteral("磁盘测试结果"));
    EXPECT_FALSE(outlets().extendedTests->isChecked());
    EXPECT_FALSE(outlets().diskFolder->isEnabled());
    press();
    ASSERT_TRUE(eventually([&] { return runEnded(); }));
    showQueuedUpdates(testing());
    EXPECT_TRUE(diskFolders.isEmpty());
    EXPECT_FALSE(multicoreLine()->isVisibleTo(&mainWindow()));
    EXPECT_FALSE(diskLine()->isVisibleTo(&mainWindow()));
    EXPECT_EQ(outlets().testingState->text(), QStringLiteral("已完成"));
    press(); // Stop after the end

    const QString folder = pathInDir(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(folder));
    testing().setFolderChooser([&](QWidget*, const QString&) { return folder; });
    outlets().extendedTests->setChecked(true);
    EXPECT_TRUE(outlets().diskFolder->isEnabled());
    QTest::mouseClick(outlets().diskFolder, Qt::LeftButton);
    EXPECT_EQ(outlets().diskFolder->toolTip(), folder);

    press();
    ASSERT_TRUE(eventually([&] { return runEnded(); }));
    showQueuedUpdates(testing());
    EXPECT_EQ(diskFolders, QStringList { folder });
    EXPECT_TRUE(multicoreLine()->isVisibleTo(&mainWindow()));
    EXPECT_TRUE(
        multicoreLine()->text().startsWith(QStringLiteral("多核：%1 线程，加速 ").arg(platform::usableCpuCount())))
        << qPrintable(multicoreLine()->text());
    EXPECT_TRUE(multicoreLine()->toolTip().contains(QStringLiteral("综合运算(Pi)：")));
    EXPECT_EQ(diskLine()->text(),
              QStringLiteral("磁盘：顺序读 2900 MB/s，顺序写 1500 MB/s，随机读 18000 IOPS（74 MB/s），随机写 9000 "
                             "IOPS（37 MB/s），经过缓存"));
    EXPECT_TRUE(diskLine()->toolTip().contains(folder));
    EXPECT_EQ(outlets().testingState->text(), QStringLiteral("已完成"));
    EXPECT_EQ(outlets().testingProgress->value(), outlets().testingProgress->maximum());

    // The run is kept once, after its extended tests.
    const auto runs = history::HistoryStore(testing().historyPath()).runs();
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->size(), 2);

    // Below the memory latency's line, its two curves as the run kept them: x as log2 of the working set, y in ns;
    // the disturbed point drawn again, hollow. The multi-core test has no curves and no chart.
    const auto chart = [&](const char* key) {
        return mainWindow().findChild<history::CurvesChart*>(QLatin1String(key) + QStringLiteral("Chart"));
    };
    ASSERT_TRUE(chart("memoryLatency") && chart("multicore"));
    EXPECT_TRUE(chart("memoryLatency")->isVisibleTo(&mainWindow()));
    EXPECT_FALSE(chart("multicore")->isVisibleTo(&mainWindow()));
    // The window grew to show the chart whole, not squeezing the rows below it onto each other.
    EXPECT_GE(mainWindow().height(), mainWindow().sizeHint().height());
    const ExtendedResults::Entry* kept = runs->first().extended.find(QStringLiteral("memoryLatency"));
    ASSERT_TRUE(kept);
    const QList<ResultCurve> keptCurves = findExtendedTest(QStringLiteral("memoryLatency"))->curves(*kept);
    QList<QLineSeries*> lines;
    QList<QScatterSeries*> hollow;
    for (QAbstractSeries* series : chart("memoryLatency")->chart()->series()) {
        if (auto* scatter = qobject_cast<QScatterSeries*>(series))
            hollow << scatter;
        else if (auto* line = qobject_cast<QLineSeries*>(series))
            lines << line;
    }
    ASSERT_EQ(lines.size(), keptCurves.size());
    for (qsizetype c = 0; c < lines.size(); ++c) {
        EXPECT_EQ(lines[c]->name(), keptCurves[c].name);
        ASSERT_EQ(lines[c]->count(), keptCurves[c].points.size());
        for (qsizetype i = 0; i < lines[c]->count(); ++i) {
            EXPECT_DOUBLE_EQ(std::exp2(lines[c]->at(i).x()), keptCurves[c].points[i].x);
            EXPECT_NEAR(lines[c]->at(i).y(), keptCurves[c].points[i].y * 1e9, 1e-9);
        }
    }
    ASSERT_EQ(hollow.size(), 1);
    ASSERT_EQ(hollow[0]->count(), 1);
    EXPECT_DOUBLE_EQ(hollow[0]->at(0).x(), 20.0) << "1 MiB";
    EXPECT_NEAR(hollow[0]->at(0).y(), 6.1, 1e-9);

    // The six keys and nothing else in the saved results; the choices in a file of their own.
    EXPECT_EQ(QSettings(storePath(), QSettings::IniFormat).allKeys().size(), 6);
    const QString settings = WindowSettings::pathBeside(storePath());
    EXPECT_TRUE(QSettings(settings, QSettings::IniFormat).value(QStringLiteral("extendedTests")).toBool());
    EXPECT_EQ(WindowSettings(settings).diskFolder(), folder);

    load();
    EXPECT_TRUE(outlets().extendedTests->isChecked());
    EXPECT_EQ(outlets().diskFolder->toolTip(), folder);
    // Remembered results never show at launch: the lines belong to a run.
    EXPECT_FALSE(multicoreLine()->isVisibleTo(&mainWindow()));
    EXPECT_FALSE(chart("memoryLatency")->isVisibleTo(&mainWindow()));
}

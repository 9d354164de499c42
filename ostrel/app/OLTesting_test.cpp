#include "AppTestKit.h"
#include "RunThread.h"
#include "Scores.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>

using namespace ostrel;
using namespace ostrel::testkit;

namespace {

const QString kNever = QStringLiteral("您还从未进行过性能测试。");

class WindowTest : public ::testing::Test
{
protected:
    QString storePath() const { return m_dir.filePath(QStringLiteral("ostrel.conf")); }

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

    MainInterface& load()
    {
        m_interface = std::make_unique<MainInterface>(*qApp, makeTesting(storePath(), log));
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
        QThread* thread;
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
        m_events.push_back({ std::move(what), QThread::currentThread() });
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

QStringList scoreLabels(const Outlets& o)
{
    return { o.intScoreLabel->text(),    o.doubleScoreLabel->text(), o.piScoreLabel->text(),
             o.memoryScoreLabel->text(), o.diskScoreLabel->text(),   o.allScoreLabel->text() };
}

} // namespace

TEST_F(WindowTest, InterfaceFileConnectsEveryOutletWithItsLaunchLook)
{
    load();
    const Outlets& o = outlets();
    const struct
    {
        QProgressBar* bar;
        QLabel* label;
        QString name;
    } rows[] = {
        { o.intScoreProgress, o.intScoreLabel, QStringLiteral("整数运算") },
        { o.doubleScoreProgress, o.doubleScoreLabel, QStringLiteral("浮点运算") },
        { o.piScoreProgress, o.piScoreLabel, QStringLiteral("综合运算(Pi)") },
        { o.memoryScoreProgress, o.memoryScoreLabel, QStringLiteral("内存读写") },
        { o.diskScoreProgress, o.diskScoreLabel, QStringLiteral("磁盘读写") },
        { o.allScoreProgress, o.allScoreLabel, QStringLiteral("总分") },
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(row.bar && row.label) << row.name.toStdString();
        EXPECT_EQ(row.bar->accessibleName(), row.name);
        EXPECT_EQ(row.bar->minimum(), 0);
        EXPECT_EQ(row.bar->maximum(), 100);
        EXPECT_FALSE(row.bar->isTextVisible());
        EXPECT_TRUE(row.label->accessibleName().isEmpty()) << "the score itself is read out";
        EXPECT_EQ(row.label->accessibleDescription(), row.name + QStringLiteral("得分"));
    }
    ASSERT_TRUE(o.lastTime && o.testingProgress && o.testingState && o.share);
    EXPECT_EQ(o.testingProgress->accessibleName(), QStringLiteral("测试进度"));
    EXPECT_EQ(o.testingState->accessibleDescription(), QStringLiteral("测试状态"));
    EXPECT_EQ(o.lastTime->accessibleDescription(), QStringLiteral("上次测试"));
    EXPECT_EQ(startButton().text(), QStringLiteral("开始测试"));

    // The idle look, held by the panel as well as shown.
    EXPECT_FALSE(o.testingProgress->isVisibleTo(o.testingProgress->window()));
    EXPECT_FALSE(o.testingState->isVisibleTo(o.testingState->window()));
    EXPECT_TRUE(panel().testingProgress.isHidden());
    EXPECT_TRUE(panel().testingState.isHidden());

    // A controller never pressed still has its placeholder thread and store.
    ASSERT_NE(testing().thread(), nullptr);
    EXPECT_FALSE(testing().thread()->isRunning());
    EXPECT_FALSE(testing().thread()->isFinished());
    EXPECT_EQ(testing().defaults().fileName(), storePath());
}

TEST_F(WindowTest, LaunchPanelShowsTheSavedResults)
{
    const QString nan = QStringLiteral("nan");
    const struct
    {
        const char* name;
        std::map<QString, QString> stored;
        QStringList labels; // int, double, pi, memory, disk, overall
        double overall;
        // What the last-run line shows of the date (Asia/Shanghai, zh_CN);
        // empty for the never-tested text.
        const char* dateShown;
    } cases[] = {
        { "nothing saved", {}, { "0分", "0分", "0分", "0分", "0分", "0分" }, 0.0, "" },
        { "mean of the bars, not of the labels",
          { { "int", "87.9" },
            { "double", "63.2" },
            { "pi", "70" },
            { "memory", "55.5" },
            { "disk", "91" },
            { "lastTime", "1796707200.25" } },
          { "87分", "63分", "70分", "55分", "91分", "73分" },
          ((((91 + 87.9) + 63.2) + 70) + 55.5) / 5.0,
          "2026年12月8日 13:20" },
        { "mean 11 where the labels' mean is 10.8",
          { { "int", "10.5" },
            { "double", "11" },
            { "pi", "11" },
            { "memory", "11" },
            { "disk", "11.5" },
            { "lastTime", "1796707200" } },
          { "10分", "11分", "11分", "11分", "11分", "11分" },
          11.0,
          "2026年12月8日 13:20" },
        { "scores without a time of the run",
          { { "int", "50" },
            { "double", "50" },
            { "pi", "50" },
            { "memory", "50" },
            { "disk", "50" },
            { "lastTime", "0" } },
          { "50分", "50分", "50分", "50分", "50分", "50分" },
          50.0,
          "" },
        { "values the bars bound",
          { { "int", "-12" },
            { "double", "240" },
            { "pi", nan },
            { "memory", "inf" },
            { "disk", "garbage" },
            { "lastTime", "-86400" } },
          { "0分", "100分", "0分", "100分", "0分", "40分" },
          40.0,
          "1969年12月31日 08:00" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeStore(c.stored);
        load();
        showQueuedUpdates();
        EXPECT_EQ(scoreLabels(outlets()), c.labels);
        EXPECT_EQ(panel().allScoreProgress.value(), c.overall);
        EXPECT_EQ(outlets().allScoreProgress->value(), int(std::lround(c.overall)));
        const QString line = outlets().lastTime->text();
        if (*c.dateShown == 0)
            EXPECT_EQ(line, kNever);
        else
            EXPECT_EQ(line, QStringLiteral("上次性能测试：") + QString::fromUtf8(c.dateShown));
        EXPECT_EQ(panel().lastTime.text(), line);
        // Launch reads the store and never writes it.
        QSettings settings(storePath(), QSettings::IniFormat);
        EXPECT_EQ(settings.allKeys().size(), qsizetype(c.stored.size()));
        settings.clear();
    }
}

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
        QThread* expected = i < size_t(kResetEvents.size()) ? QThread::currentThread() : testing().thread();
        EXPECT_EQ(events[i].thread, expected) << texts[qsizetype(i)].toStdString();
    }

    showQueuedUpdates();
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

    showQueuedUpdates();
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
    showQueuedUpdates();

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
    showQueuedUpdates();
    EXPECT_EQ(startButton().text(), QStringLiteral("开始测试"));
    EXPECT_EQ(scoreLabels(outlets()), finished);
    EXPECT_FALSE(outlets().testingProgress->isVisibleTo(outlets().testingProgress->window()));
    EXPECT_EQ(storeValues(), stored);

    // The next press starts afresh from "0分".
    log->holdAt = QStringLiteral("int");
    log->held = true;
    press();
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));
    showQueuedUpdates();
    EXPECT_EQ(scoreLabels(outlets()), QStringList(6, QStringLiteral("0分")));
    EXPECT_EQ(log->made.load(), 2);
}

TEST_F(WindowTest, StartRightAfterStopNeverMixesTheTwoRuns)
{
    log->holdAt = QStringLiteral("pi");
    log->held = true;
    load();
    press();
    ASSERT_TRUE(eventually([&] { return log->reachedHold.load() == 1; }));
    RunThread* first = testing().thread();

    PanelRecorder recorder(panel());
    press(); // Stop: the first run is still in its pi stage
    log->holdAt.clear();
    press(); // Start at once
    RunThread* second = testing().thread();
    ASSERT_NE(first, second);
    ASSERT_TRUE(eventually([&] { return second->isFinished() && first->isFinished(); }));
    EXPECT_EQ(log->made.load(), 2);

    const std::vector<PanelRecorder::Event> events = recorder.events();
    ASSERT_FALSE(events.empty());
    for (const auto& event : events)
        EXPECT_NE(event.thread, first) << "the stopped run wrote " << event.what.toStdString();
    EXPECT_EQ(recorder.texts().last(), panel().lastTime.text().prepend(QStringLiteral("lastTime text ")));
    showQueuedUpdates();
    EXPECT_EQ(outlets().testingState->text(), QStringLiteral("已完成"));
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

TEST_F(WindowTest, ShareOpensThePickerOnMouseDownBesideTheButton)
{
    writeStore({ { "int", "87.9" }, { "double", "63.2" }, { "pi", "70" }, { "memory", "55.5" }, { "disk", "91" } });
    load();
    QMainWindow& window = mainWindow();
    window.move(300, 100);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QPushButton* share = outlets().share;

    QTest::mousePress(share, Qt::LeftButton);
    auto* picker = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(picker, nullptr) << "open while the button is still held";
    EXPECT_FALSE(share->isDown());
    const QPoint buttonTopLeft = share->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(picker->geometry().right() + 1, buttonTopLeft.x()) << "against the button's minimum-x edge";
    EXPECT_EQ(picker->y(), buttonTopLeft.y());
    ASSERT_EQ(picker->actions().size(), 3);

    picker->actions().first()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("我用Kestrune对我的Mac做了性能测试。成绩是：87分，浮点运算得了63分，综合运算70分，"
                             "内存读写55分，磁盘读写91分。你呢？"));
    picker->close();
    QTest::mouseRelease(share, Qt::LeftButton);
}

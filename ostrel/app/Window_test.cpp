// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ui/HistoryModel.h"
#include "ostrel/history/ui/HistoryWindow.h"
#include "ostrel/testing/WindowTest.h"

#include <QApplication>
#include <QClipboard>
#include <QMainWindow>
#include <QMenu>
#include <cmath>
#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::testkit;

namespace {

const QString kNever = QStringLiteral("您还从未进行过性能测试。");

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
        // A score no run could have saved reads as never saved; a time is
        // what a clock said, shown whatever it is.
        { "impossible scores, a time before 1970",
          { { "int", "-12" },
            { "double", "240" },
            { "pi", nan },
            { "memory", "inf" },
            { "disk", "garbage" },
            { "lastTime", "-86400" } },
          { "0分", "0分", "0分", "0分", "0分", "0分" },
          0.0,
          "1969年12月31日 08:00" },
        { "the bounds themselves, and a time far ahead",
          { { "int", "0" },
            { "double", "100" },
            { "pi", "100.0001" },
            { "memory", "100" },
            { "disk", "100" },
            { "lastTime", "4102444800" } },
          { "0分", "100分", "0分", "100分", "100分", "60分" },
          60.0,
          "2100年1月1日 08:00" },
        { "a time before 2000",
          { { "lastTime", "946684799" } },
          { "0分", "0分", "0分", "0分", "0分", "0分" },
          0.0,
          "2000年1月1日 07:59" },
        { "a time that is no number", { { "lastTime", nan } }, { "0分", "0分", "0分", "0分", "0分", "0分" }, 0.0, "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeStore(c.stored);
        load();
        showQueuedUpdates(testing());
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

// The history button opens the application's one history window, on the
// runs kept so far. (Following new runs is the history window's own test.)
TEST_F(WindowTest, HistoryButtonOpensTheOneHistoryWindow)
{
    load();
    history::RunRecord kept;
    kept.finishedAt = 1796707200.0;
    kept.scores = { 81.0, 62.5, 70.0, 55.5, 91.0 };
    kept.overall = 72.0;
    ASSERT_TRUE(history::HistoryStore(testing().historyPath()).append(kept));

    QPushButton* historyButton = outlets().history;
    ASSERT_NE(historyButton, nullptr);
    EXPECT_EQ(historyButton->text(), QStringLiteral("历史…"));
    EXPECT_EQ(historyButton->accessibleName(), QStringLiteral("历史"));
    EXPECT_EQ(testing().historyWindow(), nullptr) << "made when first asked for";

    QTest::mouseClick(historyButton, Qt::LeftButton);
    history::HistoryWindow* window = testing().historyWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->model().rowCount(), 1);
    window->close();
    QTest::mouseClick(historyButton, Qt::LeftButton);
    EXPECT_EQ(testing().historyWindow(), window) << "one per application";
    EXPECT_TRUE(window->isVisible());
}

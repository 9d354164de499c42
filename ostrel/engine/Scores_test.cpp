// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/Scores.h"
#include "platform/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace ostrel;

TEST(ScoreText, TruncatesTheReadBackValueToWholePoints)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct
    {
        double score;
        const char16_t* text;
    } cases[] = {
        { 0.0, u"0分" },
        { 0.4, u"0分" },
        { 0.99, u"0分" },
        { 87.5, u"87分" },
        { 87.9, u"87分" },
        { 99.9999, u"99分" },
        { 100.0, u"100分" },
        { 255.0, u"255分" },
        // Never held by a 0..100 bar, but must not stop the program.
        { -0.5, u"0分" },
        { -300.0, u"0分" },
        { 255.9, u"255分" },
        { 1e9, u"255分" },
        { inf, u"255分" },
        { -inf, u"0分" },
        { std::nan(""), u"0分" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(scoreText(c.score), QString::fromUtf16(c.text)) << c.score;
}

TEST(ShowScore, LabelFollowsWhatTheBarHolds)
{
    Panel panel;
    EXPECT_EQ(showScore(panel.intScoreProgress, panel.intScoreLabel, 87.5), 87.5);
    EXPECT_EQ(panel.intScoreLabel.text(), QStringLiteral("87分"));

    // A stage of 25 s scores -25; the bar holds 0, so 0 is shown.
    EXPECT_EQ(showScore(panel.intScoreProgress, panel.intScoreLabel, stageScore(25.0)), 0.0);
    EXPECT_EQ(panel.intScoreLabel.text(), QStringLiteral("0分"));
}

TEST(StageScore, FivePointsASecondBelowAHundred)
{
    EXPECT_EQ(stageScore(0.0), 100.0);
    EXPECT_EQ(stageScore(2.5), 87.5);
    EXPECT_EQ(stageScore(4.0), 80.0);
    EXPECT_EQ(stageScore(10.0), 50.0);
    EXPECT_EQ(stageScore(20.0), 0.0);
    EXPECT_LT(stageScore(21.0), 0.0);
}

TEST(OverallScore, MeanOfTheBarsNotOfTheLabels)
{
    const struct
    {
        double disk, integer, floating, pi, memory;
        double mean;
        const char16_t* text;
    } cases[] = {
        { 60.6, 59.6, 60.6, 60.6, 60.6, (((60.6 + 59.6) + 60.6) + 60.6 + 60.6) / 5.0, u"60分" },
        { 91.0, 87.9, 63.2, 70.0, 55.5, ((((91.0 + 87.9) + 63.2) + 70.0) + 55.5) / 5.0, u"73分" },
        { 11.5, 10.5, 11.0, 11.0, 11.0, 11.0, u"11分" },
        { 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, u"0分" },
    };
    for (const auto& c : cases) {
        Panel panel;
        panel.diskScoreProgress.setValue(c.disk);
        panel.intScoreProgress.setValue(c.integer);
        panel.doubleScoreProgress.setValue(c.floating);
        panel.piScoreProgress.setValue(c.pi);
        panel.memoryScoreProgress.setValue(c.memory);
        EXPECT_EQ(showOverallScore(panel), c.mean);
        EXPECT_EQ(panel.allScoreProgress.value(), c.mean);
        EXPECT_EQ(panel.allScoreLabel.text(), QString::fromUtf16(c.text));
    }
    // The 60.4 case: the label numbers (60, 59, 60, 60, 60) would give 59.
    Panel panel;
    for (auto bar : { &Panel::diskScoreProgress, &Panel::doubleScoreProgress, &Panel::piScoreProgress,
                      &Panel::memoryScoreProgress })
        (panel.*bar).setValue(60.6);
    panel.intScoreProgress.setValue(59.6);
    EXPECT_NEAR(showOverallScore(panel), 60.4, 1e-12);
}

TEST(LastRunLine, NeverTestedOnlyForZero)
{
    EXPECT_EQ(lastRunLine(0.0), QStringLiteral("您还从未进行过性能测试。"));
    EXPECT_EQ(lastRunLine(-0.0), QStringLiteral("您还从未进行过性能测试。"));
    // LANG=zh_CN.UTF-8 and TZ=Asia/Shanghai in the test environment.
    EXPECT_EQ(lastRunLine(1796707200.0), QStringLiteral("上次性能测试：2026年12月8日 13:20"));
    EXPECT_TRUE(lastRunLine(-86400.0).startsWith(QStringLiteral("上次性能测试：1969年")));
    EXPECT_TRUE(lastRunLine(std::nan("")).startsWith(QStringLiteral("上次性能测试：")));
}

// Any time a clock gave is shown as a date; only what is no number reads as
// never saved.
TEST(SavedResults, LastTimeIsAnyFiniteNumber)
{
    const struct
    {
        const char* stored;
        double read;
        // LANG=zh_CN.UTF-8 and TZ=Asia/Shanghai in the test environment.
        const char* line;
    } cases[] = {
        { "-86400", -86400.0, "上次性能测试：1969年12月31日 08:00" },
        { "1", 1.0, "上次性能测试：1970年1月1日 08:00" },
        { "4102444800", 4102444800.0, "上次性能测试：2100年1月1日 08:00" },
        { "nan", 0.0, "您还从未进行过性能测试。" },
        { "inf", 0.0, "您还从未进行过性能测试。" },
        { "-inf", 0.0, "您还从未进行过性能测试。" },
        { "0", 0.0, "您还从未进行过性能测试。" },
        { "-0", 0.0, "您还从未进行过性能测试。" },
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ostrel.conf"));
    for (const auto& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[General]\nlastTime=") + c.stored + '\n');
        file.close();
        platform::UserDefaults defaults(path);
        saved::registerFallbacks(defaults);
        const double read = saved::lastTime(defaults);
        EXPECT_EQ(read, c.read) << c.stored;
        EXPECT_FALSE(std::signbit(read) && read == 0.0) << c.stored;
        EXPECT_EQ(lastRunLine(read), QString::fromUtf8(c.line)) << c.stored;
    }
}

TEST(SavedResults, SixFallbacksOfZero)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("s.conf")));
    defaults.registerDefaults({ { QStringLiteral("int"), 5.0 }, { QStringLiteral("lastTime"), 5.0 } });
    saved::registerFallbacks(defaults);
    for (const char* key : { "int", "double", "pi", "memory", "disk", "lastTime" })
        EXPECT_EQ(defaults.doubleForKey(QString::fromLatin1(key)), 0.0) << key;
}

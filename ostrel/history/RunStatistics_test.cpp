// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/RunStatistics.h"
#include "ostrel/testing/SampleRuns.h"

#include <gtest/gtest.h>

using namespace ostrel::history;
using ostrel::history::testing::sampleRun;

namespace {

RunRecord runWithScores(std::array<double, 5> scores, double overall, QStringList conditions = {})
{
    RunRecord run = sampleRun(1);
    run.scores = scores;
    run.overall = overall;
    run.conditions = std::move(conditions);
    return run;
}

} // namespace

TEST(RunStatistics, MedianMinMaxAndSpreadPerStage)
{
    const RunsSummary odd = summarizeRuns({
        runWithScores({ 80, 70, 60, 50, 40 }, 60),
        runWithScores({ 81, 70, 64, 50, 40 }, 61),
        runWithScores({ 79, 70, 62, 50, 40 }, 59),
    });
    EXPECT_EQ(odd.runCount, 3);
    EXPECT_DOUBLE_EQ(odd.stages[0].median, 80);
    EXPECT_DOUBLE_EQ(odd.stages[0].min, 79);
    EXPECT_DOUBLE_EQ(odd.stages[0].max, 81);
    EXPECT_DOUBLE_EQ(odd.stages[0].spread, 2);
    EXPECT_DOUBLE_EQ(odd.stages[2].median, 62);
    EXPECT_DOUBLE_EQ(odd.stages[2].spread, 4);
    EXPECT_DOUBLE_EQ(odd.overall.median, 60);
    EXPECT_DOUBLE_EQ(odd.overall.spread, 2);
    EXPECT_TRUE(odd.unsteady) << "pi spreads over 4 points";

    const RunsSummary even = summarizeRuns({
        runWithScores({ 80, 70, 60, 50, 40 }, 60),
        runWithScores({ 82, 70, 60, 50, 40 }, 61),
        runWithScores({ 81, 70, 60, 50, 40 }, 60.5),
        runWithScores({ 80.5, 70, 60, 50, 40 }, 60.1),
    });
    EXPECT_DOUBLE_EQ(even.stages[0].median, 80.75);
    EXPECT_DOUBLE_EQ(even.overall.median, 60.3);
    EXPECT_FALSE(even.unsteady) << "a spread of exactly 2 points is still steady";

    const RunsSummary single = summarizeRuns({ runWithScores({ 80, 70, 60, 50, 40 }, 60) });
    EXPECT_DOUBLE_EQ(single.stages[4].median, 40);
    EXPECT_DOUBLE_EQ(single.stages[4].spread, 0);
    EXPECT_EQ(summarizeRuns({}).runCount, 0);
}

TEST(RunStatistics, ConditionsSeenOnceInTableOrder)
{
    const RunsSummary summary = summarizeRuns({
        runWithScores({}, 0, { "powersave", "future" }),
        runWithScores({}, 0, { "busy" }),
        runWithScores({}, 0, { "powersave", "busy" }),
    });
    EXPECT_EQ(summary.conditions, (QStringList { "busy", "powersave", "future" }));
}

TEST(SkewCondition, TextsByKey)
{
    EXPECT_EQ(skewConditionText("busy"), QStringLiteral("其他程序正在占用处理器，成绩可能偏低。"));
    EXPECT_EQ(skewConditionText("battery"), QStringLiteral("正在使用电池供电，成绩可能偏低。"));
    EXPECT_EQ(skewConditionText("powersave"), QStringLiteral("处理器处于节能模式，成绩可能偏低。"));
    EXPECT_EQ(skewConditionText("thermal"), QStringLiteral("thermal")) << "a key from a newer version";
}

TEST(RunStatistics, SummaryJsonNamesStagesAndOverall)
{
    const QJsonObject json = summaryToJson(
        summarizeRuns({ runWithScores({ 80, 70, 60, 50, 40 }, 60), runWithScores({ 84, 70, 60, 50, 40 }, 61) }));
    EXPECT_EQ(json.keys(), (QStringList { "disk", "double", "int", "memory", "overall", "pi" }));
    const QJsonObject stage = json.value("int").toObject();
    EXPECT_DOUBLE_EQ(stage.value("median").toDouble(), 82);
    EXPECT_DOUBLE_EQ(stage.value("min").toDouble(), 80);
    EXPECT_DOUBLE_EQ(stage.value("max").toDouble(), 84);
    EXPECT_DOUBLE_EQ(stage.value("spread").toDouble(), 4);
}

TEST(RunStatistics, ComparisonStageByStageThenOverall)
{
    RunRecord a = runWithScores({ 80, 70, 60, 50, 40 }, 60);
    a.elapsed = { 4.0, 6.0, 8.0, 10.0, 12.0 };
    RunRecord b = runWithScores({ 90, 60, 60, 55, 20 }, 57);
    b.elapsed = { 2.0, 8.0, 8.0, 9.0, 16.0 };

    const QList<ComparisonRow> rows = compareRuns(a, b);
    ASSERT_EQ(rows.size(), 6);
    const struct
    {
        const char* key;
        const char16_t* title;
        double difference;
        double ratio;
    } expected[] = {
        { "int", u"整数运算", -10, 2.0 },  { "double", u"浮点运算", 10, 0.75 },
        { "pi", u"综合运算(Pi)", 0, 1.0 }, { "memory", u"内存读写", -5, 10.0 / 9.0 },
        { "disk", u"磁盘读写", 20, 0.75 }, { "overall", u"总分", 3, 40.0 / 43.0 },
    };
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rows[i].key, QLatin1String(expected[i].key));
        EXPECT_EQ(rows[i].title, QString::fromUtf16(expected[i].title));
        EXPECT_DOUBLE_EQ(rows[i].difference, expected[i].difference) << expected[i].key;
        ASSERT_TRUE(rows[i].elapsedRatio) << expected[i].key;
        EXPECT_DOUBLE_EQ(*rows[i].elapsedRatio, expected[i].ratio) << expected[i].key;
    }
    EXPECT_DOUBLE_EQ(rows[0].scoreA, 80);
    EXPECT_DOUBLE_EQ(rows[0].scoreB, 90);
    EXPECT_DOUBLE_EQ(*rows[5].elapsedA, 40);
    EXPECT_DOUBLE_EQ(*rows[5].elapsedB, 43);

    // A run from before times were kept, and a stage that took no time.
    b.elapsed[3] = std::nullopt;
    b.elapsed[0] = 0.0;
    const QList<ComparisonRow> partial = compareRuns(a, b);
    EXPECT_FALSE(partial[0].elapsedRatio);
    EXPECT_FALSE(partial[3].elapsedRatio);
    EXPECT_FALSE(partial[3].elapsedB);
    EXPECT_FALSE(partial[5].elapsedB);
    EXPECT_TRUE(partial[4].elapsedRatio);
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The five stages: their scores, their order, what each writes and stores.
#include "ostrel/testing/FiveTestsTest.h"

#include <QFile>
#include <QSettings>
#include <cerrno>
#include <cstring>

using namespace ostrel;
using namespace ostrel::testkit;

namespace {

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

TEST_F(FiveTestsTest, FourSecondsPerStageScoresEightyEverywhere)
{
    allStagesTake(4.0);
    EXPECT_TRUE(makeRun().run().finished);

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

TEST_F(FiveTestsTest, ScoresOfSingleStages)
{
    workloads.stageSeconds[QStringLiteral("int")] = 2.5; // 87.5
    workloads.stageSeconds[QStringLiteral("pi")] = 25.0; // -25: the bar holds 0
    workloads.stageSeconds[QStringLiteral("disk")] = 20.0; // exactly 0
    EXPECT_TRUE(makeRun().run().finished);

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

TEST_F(FiveTestsTest, ProgressStateTextsAndWorkComeInTheirOrder)
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

TEST_F(FiveTestsTest, EachStageEndsBarLabelStoreThenTheNextStage)
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

TEST_F(FiveTestsTest, StoreIsWrittenOncePerStageThenTheTimeOfTheRun)
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

// A disk stage that could not write or read back scores 0 however fast it
// was, the run still ends, and the state text says why instead of "已完成".
TEST_F(FiveTestsTest, AFailedDiskStageScoresZeroAndSaysWhy)
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
        const FiveTests::Ended ended = makeRun().run();
        EXPECT_TRUE(ended.finished);

        EXPECT_EQ(panel.diskScoreProgress.value(), 0.0);
        EXPECT_EQ(panel.diskScoreLabel.text(), QStringLiteral("0分"));
        EXPECT_EQ(defaults.doubleForKey(QStringLiteral("disk")), 0.0);
        EXPECT_EQ(panel.intScoreLabel.text(), QStringLiteral("80分"));
        EXPECT_EQ(panel.allScoreProgress.value(), 64.0) << "the overall score counts the 0";
        EXPECT_EQ(panel.testingState.text(), QString::fromUtf16(c.state));
        ASSERT_TRUE(ended.problems.failedStage);
        EXPECT_EQ(ended.problems.failedStage->text(), QString::fromUtf16(c.state));
        EXPECT_FALSE(ended.problems.saveError);
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
TEST_F(FiveTestsTest, AStoreThatCannotBeWrittenIsReportedOnce)
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
        FiveTests run({ .panel = panel,
                        .defaults = unwritable,
                        .workloads = workloads,
                        .control = control,
                        .stopwatch = stopwatch,
                        .wallClock = wallClock });
        const FiveTests::Ended ended = run.run();
        EXPECT_TRUE(ended.finished);

        EXPECT_EQ(ended.problems.saveError, ENOTDIR);
        EXPECT_EQ(!ended.problems.failedStage, !diskFails);
        EXPECT_EQ(log.matching(QStringLiteral("store:")).size(), 6 * (diskFails ? 2 : 1)) << "every write was tried";
        EXPECT_EQ(panel.intScoreLabel.text(), QStringLiteral("80分"));
        EXPECT_EQ(panel.testingState.text(),
                  diskFails ? QStringLiteral("磁盘读写失败：磁盘空间不足") : QStringLiteral("已完成"));
    }
}

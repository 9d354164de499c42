// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/testing/CapturedOutput.h"
#include "ostrel/testing/SampleRuns.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>

using namespace ostrel;
using history::testing::kSampleTime;
using history::testing::sampleExtendedRun;
using history::testing::sampleRun;

namespace {

// A history of its own and captured output.
class HistoryCommandsTest : public ::testing::Test
{
protected:
    HistoryCommandsTest() { streams = { std::tmpfile(), std::tmpfile(), QStringLiteral("ostrel-cli") }; }
    ~HistoryCommandsTest() override
    {
        std::fclose(streams.out);
        std::fclose(streams.err);
    }

    // What was printed since the last take.
    static QString take(std::FILE* file)
    {
        const QString text = cli::testing::readAll(file);
        std::rewind(file);
        [[maybe_unused]] const int truncated = ::ftruncate(::fileno(file), 0);
        return text;
    }

    void addRuns()
    {
        history::RunRecord older = sampleRun(1796707200.0, 80.0);
        older.conditions.clear();
        ASSERT_TRUE(store.append({ older, sampleRun(1796710800.0, 81.5) }));
    }

    QTemporaryDir dir;
    history::HistoryStore store { dir.filePath(QStringLiteral("history.sqlite")) };
    cli::Streams streams {};
};

} // namespace

TEST_F(HistoryCommandsTest, HistoryNewestFirstAsTextJsonAndCsv)
{
    addRuns();
    EXPECT_EQ(cli::printHistory(store, cli::HistoryFormat::Json, streams), cli::kExitSuccess);
    const QJsonArray runs = QJsonDocument::fromJson(take(streams.out).toUtf8()).array();
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs[0][QStringLiteral("finishedAt")].toDouble(), 1796710800.0);
    EXPECT_EQ(runs[1][QStringLiteral("scores")][QStringLiteral("pi")].toDouble(), 77.5);

    EXPECT_EQ(cli::printHistory(store, cli::HistoryFormat::Csv, streams), cli::kExitSuccess);
    EXPECT_EQ(take(streams.out).count(QLatin1Char('\n')), 3) << "a header and two runs";

    EXPECT_EQ(cli::printHistory(store, cli::HistoryFormat::Text, streams), cli::kExitSuccess);
    const QStringList lines = take(streams.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << "the newer run names its two conditions";
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("2026年12月8日 14:20  总分 81.75 (+1.50)  整数运算 81.63")))
        << qPrintable(lines[0]);
    EXPECT_EQ(lines[1].trimmed(), QStringLiteral("其他程序正在占用处理器，成绩可能偏低。"));
    EXPECT_TRUE(lines[3].contains(QStringLiteral("总分 80.25  整数运算")))
        << "the oldest run has nothing to change against";
    EXPECT_TRUE(cli::historyLine(sampleExtendedRun(1796710800.0), nullptr)
                    .endsWith(QStringLiteral("\n    干扰：浮点运算 等待处理器 50%")));

    // An unreadable history says why and is not an empty one.
    QFile garbage(dir.filePath(QStringLiteral("damaged.sqlite")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(8192, 'x'));
    garbage.close();
    history::HistoryStore damaged(garbage.fileName());
    EXPECT_EQ(cli::printHistory(damaged, cli::HistoryFormat::Text, streams), cli::kExitProblem);
    EXPECT_TRUE(take(streams.out).isEmpty());
    EXPECT_TRUE(take(streams.err).startsWith(QStringLiteral("ostrel-cli: ")));
}

TEST_F(HistoryCommandsTest, ExportThenCompareOnAnotherHome)
{
    const QString exported = dir.filePath(QStringLiteral("other.json"));
    EXPECT_EQ(cli::exportRuns(store, exported, false, streams), cli::kExitProblem) << "nothing to export yet";
    EXPECT_TRUE(take(streams.err).contains(QStringLiteral("no finished run")));

    addRuns();
    EXPECT_EQ(cli::exportRuns(store, exported, false, streams), cli::kExitSuccess);
    auto document = history::readResultsFile(exported);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->runs.size(), 1);
    EXPECT_EQ(document->machine.cpuModel, sampleRun(0).machine.cpuModel);
    EXPECT_EQ(cli::exportRuns(store, exported, true, streams), cli::kExitSuccess);
    EXPECT_EQ(history::readResultsFile(exported)->runs.size(), 2);
    take(streams.out);

    // Another home, whose latest run is a little slower everywhere.
    history::HistoryStore other(dir.filePath(QStringLiteral("other.sqlite")));
    ASSERT_TRUE(other.append(sampleRun(1796800000.0, 79.0)));
    EXPECT_EQ(cli::compareWithFile(other, exported, streams), cli::kExitSuccess);
    const QString table = take(streams.out);
    EXPECT_TRUE(table.contains(QStringLiteral("整数运算        79.13    81.63    −2.50"))) << qPrintable(table);
    EXPECT_TRUE(table.contains(QStringLiteral("总分")));

    QFile bad(dir.filePath(QStringLiteral("bad.json")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"format": "ostrel-results", "version": 2, "machine": {}, "runs": []})");
    bad.close();
    EXPECT_EQ(cli::compareWithFile(other, bad.fileName(), streams), cli::kExitBadArguments);
    EXPECT_FALSE(take(streams.err).isEmpty());
    EXPECT_TRUE(take(streams.out).isEmpty());
}

TEST_F(HistoryCommandsTest, CompareShowsTheExtendedResultsWhenEitherRunHasThem)
{
    history::RunRecord onlyMulticore = sampleExtendedRun(kSampleTime + 2, 79.0);
    onlyMulticore.extended.remove(QStringLiteral("disk"));
    onlyMulticore.extended.remove(QStringLiteral("memoryBandwidth"));
    onlyMulticore.extended.remove(QStringLiteral("memoryLatency"));
    onlyMulticore.extended.find<MulticoreResult>()->threads = 4;
    const QString text = cli::extendedComparisonText(sampleExtendedRun(kSampleTime + 1), onlyMulticore);
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 8 + 6 + 4 + 5) << qPrintable(text);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("扩展测试"))) << qPrintable(text);
    EXPECT_EQ(lines[1].simplified(), QStringLiteral("多核线程数 2 4 0.500"));
    EXPECT_EQ(lines[8].simplified(), QStringLiteral("多核加速 1.96 1.96 1.000"));
    EXPECT_EQ(lines[9].simplified(), QStringLiteral("顺序读 MB/s 2903.5 — —")) << "the other run had no disk test";
    EXPECT_EQ(lines[11].simplified(), QStringLiteral("随机读 IOPS 18097 — —"));
    EXPECT_EQ(lines[18].simplified(), QStringLiteral("三元组 GB/s 13.5 — —"));
    EXPECT_EQ(lines[22].simplified(), QStringLiteral("内存延迟 ns 190.0 — —"));
    EXPECT_TRUE(cli::extendedComparisonText(sampleRun(1.0), sampleRun(2.0)).isEmpty());

    // Through --compare, after the five tests.
    const QString exported = dir.filePath(QStringLiteral("extended.json"));
    ASSERT_TRUE(history::writeResultsFile(exported, { onlyMulticore.machine, { onlyMulticore } }));
    ASSERT_TRUE(store.append(sampleExtendedRun(kSampleTime + 3)));
    EXPECT_EQ(cli::compareWithFile(store, exported, streams), cli::kExitSuccess);
    const QString table = take(streams.out);
    EXPECT_TRUE(table.contains(QStringLiteral("总分"))) << qPrintable(table);
    EXPECT_TRUE(table.endsWith(text.mid(text.indexOf(QStringLiteral("扩展测试"))))) << qPrintable(table);
}

TEST_F(HistoryCommandsTest, PrometheusTextOfTheLatestRun)
{
    const QString file = dir.filePath(QStringLiteral("ostrel.prom"));
    EXPECT_EQ(cli::prometheusFromHistory(store, file, streams), cli::kExitProblem) << "nothing to write yet";
    EXPECT_TRUE(take(streams.err).contains(QStringLiteral("no finished run")));
    EXPECT_FALSE(QFile::exists(file));

    addRuns();
    EXPECT_EQ(cli::prometheusFromHistory(store, file, streams), cli::kExitSuccess);
    EXPECT_EQ(take(streams.out), QStringLiteral("已写入 Prometheus 文本：%1\n").arg(file));

    EXPECT_EQ(cli::writePrometheus(sampleRun(1.0), dir.filePath(QStringLiteral("no/such/folder.prom")), streams),
              cli::kExitProblem);
    EXPECT_TRUE(take(streams.err).startsWith(QStringLiteral("ostrel-cli: ")));
}

// What the history holds but no run could have written is printed as no value, and never exported.
TEST_F(HistoryCommandsTest, ImpossibleValuesInTheHistoryArePrintedAsNoValue)
{
    history::RunRecord impossible = sampleRun(kSampleTime, 80.0);
    impossible.scores[0] = 1e308;
    impossible.overall = -3.0;
    impossible.elapsed[1] = -5.0;
    ASSERT_TRUE(store.append(impossible));

    EXPECT_EQ(cli::printHistory(store, cli::HistoryFormat::Json, streams), cli::kExitSuccess);
    const QJsonObject run = QJsonDocument::fromJson(take(streams.out).toUtf8()).array().at(0).toObject();
    EXPECT_TRUE(run[QStringLiteral("scores")][QStringLiteral("int")].isNull());
    EXPECT_TRUE(run[QStringLiteral("overall")].isNull());
    EXPECT_TRUE(run[QStringLiteral("elapsed")][QStringLiteral("double")].isNull());
    EXPECT_EQ(run[QStringLiteral("scores")][QStringLiteral("double")].toDouble(), 81.25);

    EXPECT_EQ(cli::printHistory(store, cli::HistoryFormat::Csv, streams), cli::kExitSuccess);
    EXPECT_TRUE(
        take(streams.out).contains(QStringLiteral("\n1796707200,,81.25,77.5,83.0000001,79.25,,3.9750000001,,4.46,")));

    EXPECT_EQ(cli::printHistory(store, cli::HistoryFormat::Text, streams), cli::kExitSuccess);
    EXPECT_TRUE(take(streams.out).startsWith(QStringLiteral("2026年12月8日 13:20  总分   整数运算   浮点运算 81.25")));

    EXPECT_EQ(cli::exportRuns(store, dir.filePath(QStringLiteral("out.json")), false, streams), cli::kExitProblem);
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("out.json"))));
    EXPECT_TRUE(take(streams.err).contains(QStringLiteral("no run could have written")));
}

// Each impossible file is refused as a bad argument, with the reason and nothing else.
TEST_F(HistoryCommandsTest, CompareRefusesFilesWithImpossibleValues)
{
    addRuns();
    history::ResultsDocument document { sampleRun(kSampleTime).machine, { sampleRun(kSampleTime) } };
    const struct
    {
        const char* name;
        std::function<void(history::RunRecord&)> change;
        const char16_t* reason;
    } cases[] = {
        { "huge score", [](history::RunRecord& r) { r.scores[2] = 1e308; }, u"的“pi”成绩 1e+308 不在 0 到 100 之间" },
        { "negative elapsed", [](history::RunRecord& r) { r.elapsed[4] = -5.0; }, u"的“disk”用时 -5 秒不是零或正数" },
        { "far future", [](history::RunRecord& r) { r.finishedAt = 1.8332e14; },
          u"第 1 个测试记录的完成时间 1.8332e+14 不在 2000 年到此刻之后一天之间" },
    };
    for (const auto& c : cases) {
        history::ResultsDocument impossible = document;
        c.change(impossible.runs[0]);
        const QString path = dir.filePath(QStringLiteral("impossible.json"));
        ASSERT_TRUE(history::writeResultsFile(path, impossible));
        EXPECT_EQ(cli::compareWithFile(store, path, streams), cli::kExitBadArguments) << c.name;
        const QString error = take(streams.err);
        EXPECT_TRUE(
            error.startsWith(QStringLiteral("ostrel-cli: 成绩文件里有 Ostrel 不可能写出的数值：第 1 个测试记录")))
            << qPrintable(error);
        EXPECT_TRUE(error.endsWith(QString::fromUtf16(c.reason) + QLatin1Char('\n'))) << qPrintable(error);
        EXPECT_TRUE(take(streams.out).isEmpty()) << c.name;
    }
}

TEST(RunsSummary, UnsteadyScoresNameTheConditionsSeen)
{
    history::RunRecord steady = sampleRun(1.0, 80.0);
    steady.conditions = { QStringLiteral("battery") };
    history::RunRecord slower = sampleRun(2.0, 77.5);
    slower.conditions.clear();
    const QString text = cli::summaryText(history::summarizeRuns({ steady, slower }));
    EXPECT_TRUE(text.startsWith(QStringLiteral("2 次测试（分）：\n"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("整数运算        78.88    77.63    80.13    2.50"))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("成绩不稳定")));
    EXPECT_TRUE(text.contains(QStringLiteral("正在使用电池供电，成绩可能偏低。")));
    EXPECT_FALSE(cli::summaryText(history::summarizeRuns({ steady, steady })).contains(QStringLiteral("成绩不稳定")));
    EXPECT_FALSE(cli::summaryText(history::summarizeRuns({ steady, slower })).contains(QStringLiteral("干扰")));

    // The same rule for a disturbed run as everywhere: the interference figures decide.
    const history::RunRecord disturbed = sampleExtendedRun(3.0, 77.5);
    const history::RunsSummary withDisturbed = history::summarizeRuns({ steady, disturbed });
    EXPECT_EQ(withDisturbed.disturbedRuns, 1);
    EXPECT_EQ(withDisturbed.disturbed, QStringList { QStringLiteral("double") });
    EXPECT_TRUE(cli::summaryText(withDisturbed).endsWith(QStringLiteral("1 次测试受到其他程序干扰：浮点运算\n")))
        << qPrintable(cli::summaryText(withDisturbed));
}

// --runs auto's end: the figures over the counted runs only, with their standard deviation, how many runs it took
// and how many were left out, and the tests that never settled.
TEST(RunsSummary, RunsUntilSteadyCountOnlyUndisturbedRuns)
{
    const history::RunRecord disturbed = sampleExtendedRun(1.0, 60.0);
    const QList<history::RunRecord> runs { sampleRun(2.0, 80.0), disturbed, sampleRun(3.0, 80.0),
                                           sampleRun(4.0, 82.0) };
    const QString text = cli::steadyText(runs, 4);
    EXPECT_TRUE(text.startsWith(QStringLiteral("4 次测试，其中 1 次受到其他程序干扰，未计入（分）：\n")))
        << qPrintable(text);
    // 80.125, 80.125, 82.125: nothing of the disturbed run's 60.125.
    EXPECT_TRUE(text.contains(QStringLiteral("整数运算        80.13    80.13    82.13    1.15\n"))) << qPrintable(text);
    EXPECT_TRUE(text.endsWith(QStringLiteral("未能稳定：整数运算、浮点运算、综合运算(Pi)、内存读写、磁盘读写\n")));

    const QJsonObject json = cli::steadyToJson(runs, 4);
    EXPECT_EQ(json.value("runs").toInt(), 4);
    EXPECT_EQ(json.value("disturbedRuns").toInt(), 1);
    EXPECT_FALSE(json.value("steady").toBool());
    EXPECT_EQ(json.value("unsteady").toArray().size(), 5);
    EXPECT_EQ(json.value("tests")["int"]["min"].toDouble(), 80.125);
    EXPECT_NEAR(json.value("tests")["int"]["standardDeviation"].toDouble(), 1.1547, 1e-4);

    const QList<history::RunRecord> settled { sampleRun(2.0, 80.0), sampleRun(3.0, 80.0), sampleRun(4.0, 80.5) };
    EXPECT_TRUE(cli::steadyText(settled, 10).endsWith(QStringLiteral("成绩已稳定：每项测试的标准差不超过 1 分。\n")));
    EXPECT_TRUE(cli::steadyToJson(settled, 10).value("steady").toBool());
    EXPECT_EQ(cli::steadyText({ disturbed }, 3),
              QStringLiteral("1 次测试，其中 1 次受到其他程序干扰，未计入；没有未受干扰的测试。\n"));
    EXPECT_TRUE(cli::steadyToJson({ disturbed }, 3).value("tests").toObject().isEmpty());
}

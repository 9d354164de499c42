// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/testing/SampleRuns.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <limits>

using namespace ostrel;
using namespace ostrel::history;
using ostrel::history::testing::kSampleTime;
using ostrel::history::testing::sampleExtendedRun;
using ostrel::history::testing::sampleRun;

TEST(ResultsDocument, RunJsonHasTheDocumentedShapeAndReadsBackExactly)
{
    const RunRecord run = sampleRun(1780000000.123456);
    const QJsonObject json = runToJson(run);

    EXPECT_EQ(json.value("finishedAt").toDouble(), 1780000000.123456);
    EXPECT_EQ(json.value("scores").toObject().keys(), (QStringList { "disk", "double", "int", "memory", "pi" }));
    EXPECT_EQ(json.value("scores").toObject().value("int").toDouble(), 80.125);
    EXPECT_EQ(json.value("scores").toObject().value("disk").toDouble(), 79.25);
    EXPECT_EQ(json.value("overall").toDouble(), run.overall);
    EXPECT_TRUE(json.value("elapsed").toObject().value("memory").isNull());
    EXPECT_EQ(json.value("elapsed").toObject().value("int").toDouble(), 3.9750000001);
    EXPECT_EQ(json.value("machine").toObject().value("cpuModel").toString(), run.machine.cpuModel);
    EXPECT_EQ(json.value("conditions").toArray().toVariantList(), (QVariantList { "busy", "battery" }));

    // Through text and back, every double bit for bit.
    const QByteArray text = QJsonDocument(json).toJson();
    const Result<RunRecord> back = runFromJson(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(back) << back.error().message.toStdString();
    EXPECT_EQ(back.value(), run);
}

// A memory size no byte count can be (found by fuzzing: 1e300 once overflowed the conversion) reads as unknown.
TEST(ResultsDocument, MemorySizeThatIsNoByteCountReadsAsUnknown)
{
    const struct
    {
        QJsonValue written;
        qint64 read;
    } cases[] = { { 16706064384.0, 16706064384 }, { 1e300, 0 },           { -1e300, 0 }, { -4096.0, 0 }, { 2.5, 0 },
                  { QStringLiteral("16"), 0 },    { QJsonValue::Null, 0 } };
    for (const auto& c : cases)
        EXPECT_EQ(machineFromJson({ { QStringLiteral("memoryBytes"), c.written } }).memoryBytes, c.read)
            << QJsonDocument(QJsonArray { c.written }).toJson(QJsonDocument::Compact).constData();
}

TEST(ResultsDocument, ExtendedResultsHaveTheDocumentedShapeAndAreAbsentWhenNotRun)
{
    const RunRecord run = sampleExtendedRun(1780000000.5);
    const QJsonObject json = runToJson(run);
    EXPECT_EQ(QJsonDocument(json.value("multicore").toObject()).toJson(QJsonDocument::Compact),
              R"({"elapsed":{"double":3.91,"int":4.0250000001,"pi":4.53},"speedup":{"double":1.9335,)"
              R"("int":1.9751,"overall":1.9591,"pi":1.9690000001},"threads":2})");
    EXPECT_EQ(QJsonDocument(json.value("disk").toObject()).toJson(QJsonDocument::Compact),
              R"({"direct":true,"fileBytes":1073741824,"fileSystem":"ext4","folder":"/srv/scratch, \"fast\"",)"
              R"("randRead":{"iops":18096.75,"mbps":74.125},"randWrite":{"iops":15014.5,"mbps":61.5},)"
              R"("seqRead":{"mbps":2903.5},"seqWrite":{"mbps":1187.25}})");
    // Each measured test, a figure the machine could not give absent.
    const QJsonObject interference = json.value("interference").toObject();
    EXPECT_EQ(interference.keys(),
              QStringList({ "disk", "double", "extended.disk", "extended.multicore", "int", "memory", "pi" }));
    EXPECT_EQ(QJsonDocument(interference.value("double").toObject()).toJson(QJsonDocument::Compact),
              R"({"cpuWait":0.5,"disturbed":true,"frequency":0.9375,"steal":0.03125})");
    EXPECT_EQ(QJsonDocument(interference.value("memory").toObject()).toJson(QJsonDocument::Compact),
              R"({"cpuWait":0.025,"disturbed":false})");

    const Result<RunRecord> back = runFromJson(QJsonDocument::fromJson(QJsonDocument(json).toJson()).object());
    ASSERT_TRUE(back) << back.error().message.toStdString();
    EXPECT_EQ(back.value(), run);

    const QJsonObject plain = runToJson(sampleRun(1));
    EXPECT_FALSE(plain.contains("multicore"));
    EXPECT_FALSE(plain.contains("disk"));
    EXPECT_FALSE(plain.contains("interference")) << "as documents before it read";
    QJsonObject nulls = plain;
    nulls.insert("multicore", QJsonValue::Null);
    nulls.insert("disk", QJsonValue::Null);
    EXPECT_EQ(runFromJson(nulls).value(), sampleRun(1));
}

TEST(ResultsDocument, RefusesARunWithAMalformedExtendedResult)
{
    const QJsonObject good = runToJson(sampleExtendedRun(1));
    // Each case changes one member: [result, member path, new value].
    const struct
    {
        const char* result;
        QStringList path;
        QJsonValue value;
    } cases[] = {
        { "multicore", {}, QJsonValue(5) },
        { "multicore", { "threads" }, QJsonValue(0) },
        { "multicore", { "threads" }, QJsonValue(1.5) },
        { "multicore", { "elapsed", "pi" }, QJsonValue(-1.0) },
        { "multicore", { "speedup", "double" }, QJsonValue(std::numeric_limits<double>::infinity()) },
        { "multicore", { "speedup", "overall" }, QJsonValue() },
        { "disk", {}, QJsonValue("fast") },
        { "disk", { "folder" }, QJsonValue(3) },
        { "disk", { "direct" }, QJsonValue(1) },
        { "disk", { "fileBytes" }, QJsonValue(-4096) },
        { "disk", { "seqWrite", "mbps" }, QJsonValue("1000") },
        { "disk", { "randRead", "iops" }, QJsonValue() },
        { "interference", { "double", "cpuWait" }, QJsonValue(1.5) },
        { "interference", { "int", "steal" }, QJsonValue("0") },
        { "interference", { "pi", "frequency" }, QJsonValue(-0.25) },
    };
    for (const auto& c : cases) {
        const QString where = QString::fromLatin1(c.result) + "." + c.path.join('.');
        // Sets value at path inside object, removing the member for an undefined value.
        std::function<QJsonValue(QJsonValue, qsizetype)> replaced = [&](QJsonValue at, qsizetype depth) {
            if (depth == c.path.size())
                return c.value;
            QJsonObject object = at.toObject();
            const QJsonValue inner = replaced(object.value(c.path[depth]), depth + 1);
            if (inner.isUndefined())
                object.remove(c.path[depth]);
            else
                object.insert(c.path[depth], inner);
            return QJsonValue(object);
        };
        QJsonObject bad = good;
        bad.insert(c.result, replaced(good.value(c.result), 0));
        const Result<RunRecord> read = runFromJson(bad);
        ASSERT_FALSE(read) << where.toStdString();
        EXPECT_EQ(read.error().kind, HistoryError::Kind::BadDocument);
        EXPECT_TRUE(read.error().message.contains(c.path.isEmpty() ? QString::fromLatin1(c.result) : c.path.last()))
            << where.toStdString() << ": " << read.error().message.toStdString();
    }
}

TEST(ResultsDocument, ExportedFileImportsWithItsRunsNewestFirst)
{
    QTemporaryDir dir;
    ResultsDocument document;
    document.machine = sampleRun(0).machine;
    document.runs
        = { sampleRun(kSampleTime + 100, 70), sampleRun(kSampleTime + 300, 90), sampleRun(kSampleTime + 200, 80) };
    const QString path = dir.filePath("results.json");
    ASSERT_TRUE(writeResultsFile(path, document));

    const Result<ResultsDocument> read = readResultsFile(path);
    ASSERT_TRUE(read) << read.error().message.toStdString();
    EXPECT_EQ(read->machine, document.machine);
    ASSERT_EQ(read->runs.size(), 3);
    EXPECT_EQ(read->runs[0], document.runs[1]);
    EXPECT_EQ(read->runs[1], document.runs[2]);
    EXPECT_EQ(read->runs[2], document.runs[0]);

    const QJsonObject top = QJsonDocument::fromJson(writeResultsDocument(document)).object();
    EXPECT_EQ(top.value("format").toString(), "ostrel-results");
    EXPECT_EQ(top.value("version").toInt(), 1);
}

TEST(ResultsDocument, RefusesWhatIsNotACurrentResultsDocument)
{
    const QByteArray run = QJsonDocument(runToJson(sampleRun(kSampleTime))).toJson(QJsonDocument::Compact);
    const QByteArray machine = R"("machine": {"cpuModel": "X"})";
    const struct
    {
        QByteArray json;
        HistoryError::Kind kind;
    } cases[] = {
        { "", HistoryError::Kind::BadDocument },
        { "not json at all", HistoryError::Kind::BadDocument },
        { "[" + run + "]", HistoryError::Kind::BadDocument },
        { R"({"format": "something-else", "version": 1, )" + machine + R"(, "runs": [)" + run + "]}",
          HistoryError::Kind::BadDocument },
        { R"({"version": 1, )" + machine + R"(, "runs": [)" + run + "]}", HistoryError::Kind::BadDocument },
        { R"({"format": "ostrel-results", "version": 2, )" + machine + R"(, "runs": [)" + run + "]}",
          HistoryError::Kind::NewerVersion },
        { R"({"format": "ostrel-results", "version": "1", )" + machine + R"(, "runs": [)" + run + "]}",
          HistoryError::Kind::BadDocument },
        { R"({"format": "ostrel-results", "version": 1.5, )" + machine + R"(, "runs": [)" + run + "]}",
          HistoryError::Kind::BadDocument },
        { R"({"format": "ostrel-results", "version": 1, )" + machine + "}", HistoryError::Kind::BadDocument },
        { R"({"format": "ostrel-results", "version": 1, )" + machine + R"(, "runs": []})",
          HistoryError::Kind::BadDocument },
        { R"({"format": "ostrel-results", "version": 1, )" + machine + R"(, "runs": [{"finishedAt": 5}]})",
          HistoryError::Kind::BadDocument },
        { R"({"format": "ostrel-results", "version": 1, )" + machine + R"(, "runs": [7]})",
          HistoryError::Kind::BadDocument },
    };
    for (const auto& c : cases) {
        const Result<ResultsDocument> read = readResultsDocument(c.json);
        ASSERT_FALSE(read) << c.json.constData();
        EXPECT_EQ(read.error().kind, c.kind) << c.json.constData();
        EXPECT_FALSE(read.error().message.isEmpty());
    }
    EXPECT_EQ(readResultsFile("/nonexistent/results.json").error().kind, HistoryError::Kind::CannotOpen);
    // A device that never ends is refused before it is read, not read until memory runs out.
    const Result<ResultsDocument> device = readResultsFile("/dev/zero");
    EXPECT_EQ(device.error().kind, HistoryError::Kind::CannotOpen);
    EXPECT_TRUE(device.error().message.contains(QStringLiteral("/dev/zero（这是一个设备文件")))
        << qPrintable(device.error().message);
}

TEST(ResultsDocument, CsvHasAHeaderAndQuotesWhereNeeded)
{
    RunRecord older = sampleRun(1700000000.5, 60);
    older.elapsed = {};
    older.conditions = {};
    const QStringList lines = runsToCsv({ sampleRun(1780000000.25), older }).split('\n');
    ASSERT_EQ(lines.size(), 4) << "header, two runs, and the final line end";
    EXPECT_TRUE(lines[3].isEmpty());
    // The extended results' columns follow (CsvCarriesTheExtendedResults).
    EXPECT_TRUE(lines[0].startsWith(
        "finishedAt,int,double,pi,memory,disk,overall,elapsed_int,elapsed_double,elapsed_pi,elapsed_memory,"
        "elapsed_disk,version,cpuModel,logicalCpus,memoryBytes,kernel,os,architecture,governor,fileSystem,"
        "conditions,multicore_threads,"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(
        "1780000000.25,80.125,81.25,77.5,83.0000001,79.25,80.2450000002,3.9750000001,3.74,4.46,,4.14,1.0.0,"
        "\"Test CPU 9000, \"\"rev\"\" 2\",8,16706064384,6.1.0-99-amd64,Debian GNU/Linux 12 (bookworm),x86_64,"
        "schedutil,ext4,busy;battery,,"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("1700000000.5,60.125,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(",,,,,1.0.0,")) << "no stage times";
    EXPECT_TRUE(lines[2].endsWith(",ext4," + QString(28 + 19, ',')))
        << "no extended results, no interference: their columns empty";
}

TEST(ResultsDocument, CsvCarriesTheExtendedResults)
{
    const QStringList lines = runsToCsv({ sampleExtendedRun(1780000000.25) }).split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QString extendedHeader
        = "conditions,multicore_threads,multicore_elapsed_int,multicore_elapsed_double,multicore_elapsed_pi,"
          "multicore_speedup_int,multicore_speedup_double,multicore_speedup_pi,multicore_speedup_overall,"
          "disk_folder,disk_fileSystem,disk_direct,disk_fileBytes,disk_seqRead_mbps,disk_seqWrite_mbps,"
          "disk_randRead_iops,disk_randRead_mbps,disk_randWrite_iops,disk_randWrite_mbps,memoryBandwidth_reduced,"
          "memoryBandwidth_threads,memoryBandwidth_arrayBytes,memoryBandwidth_copy_gbps,memoryBandwidth_triad_gbps,"
          "memoryLatency_l1_ns,memoryLatency_l2_ns,memoryLatency_l3_ns,memoryLatency_dram_ns,memoryLatency_tlb_ns,"
          "disturbed,cpuWait_int,cpuWait_double,cpuWait_pi,cpuWait_memory,cpuWait_disk,cpuWait_extended.multicore,"
          "cpuWait_extended.disk,cpuWait_extended.memoryBandwidth,cpuWait_extended.memoryLatency,steal_int,"
          "steal_double,steal_pi,steal_memory,steal_disk,steal_extended.multicore,steal_extended.disk,"
          "steal_extended.memoryBandwidth,steal_extended.memoryLatency";
    EXPECT_TRUE(lines[0].endsWith(extendedHeader)) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(",busy;battery,2,4.0250000001,3.91,4.53,1.9751,1.9335,1.9690000001,1.9591,"
                                  "\"/srv/scratch, \"\"fast\"\"\",ext4,true,1073741824,2903.5,1187.25,18096.75,"
                                  "74.125,15014.5,61.5,false,2,268435456,12.75,13.5,1.5,5.4,21,190,25,double,0.0125,"
                                  "0.5,0.0375,0.025,0.0625,0.09375,,,,0,0.03125,0,,0.0078125,0,0.015625,,"))
        << lines[1].toStdString();
}

namespace {

class FixedClock final : public platform::Clock
{
public:
    explicit FixedClock(double now)
        : m_now(now)
    {
    }
    double now() const override { return m_now; }

private:
    double m_now;
};

} // namespace

// Each value no version of Ostrel could have written, with the reason that names it; the bounds themselves pass.
TEST(Plausibility, EveryImpossibleValueIsNamed)
{
    const double now = kSampleTime + 3600;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QString kib(1024, QLatin1Char('x'));
    const struct
    {
        const char* name;
        std::function<void(RunRecord&)> change;
        const char16_t* reason;
    } cases[] = {
        { "as written", [](RunRecord&) {}, u"" },
        { "no elapsed times", [](RunRecord& r) { r.elapsed = {}; }, u"" },
        { "a failed or bounded stage",
          [](RunRecord& r) {
              r.scores[4] = 0.0;
              r.elapsed[4] = 30.0;
          },
          u"" },
        { "a score of a stage that took no time",
          [](RunRecord& r) {
              r.scores[0] = 100.0;
              r.elapsed[0] = 0.0;
          },
          u"" },
        { "the earliest time", [](RunRecord& r) { r.finishedAt = 946684800.0; }, u"" },
        { "a day ahead", [now](RunRecord& r) { r.finishedAt = now + 86400.0; }, u"" },
        { "texts of 1 KiB",
          [kib](RunRecord& r) {
              r.machine.cpuModel = kib;
              r.version = QString(512, QChar(0xe9));
          },
          u"" },
        { "score 1e308", [](RunRecord& r) { r.scores[0] = 1e308; }, u"“int”成绩 1e+308 不在 0 到 100 之间" },
        { "negative score", [](RunRecord& r) { r.scores[1] = -0.5; }, u"“double”成绩 -0.5 不在 0 到 100 之间" },
        { "NaN score", [nan](RunRecord& r) { r.scores[2] = nan; }, u"“pi”成绩 NaN 不在 0 到 100 之间" },
        { "negative elapsed", [](RunRecord& r) { r.elapsed[1] = -5.0; }, u"“double”用时 -5 秒不是零或正数" },
        { "infinite elapsed", [inf](RunRecord& r) { r.elapsed[0] = inf; }, u"“int”用时 inf 秒不是零或正数" },
        { "score above its time", [](RunRecord& r) { r.scores[2] = 90.0; },
          u"“pi”成绩 90 高于用时 4.46 秒所能得到的 77.7 分" },
        { "overall above 100", [](RunRecord& r) { r.overall = 100.5; }, u"总分 100.5 不在 0 到 100 之间" },
        { "overall infinite", [inf](RunRecord& r) { r.overall = inf; }, u"总分 inf 不在 0 到 100 之间" },
        { "before 2000", [](RunRecord& r) { r.finishedAt = 946684799.0; },
          u"完成时间 946684799 不在 2000 年到此刻之后一天之间" },
        { "year 5,828,963", [](RunRecord& r) { r.finishedAt = 1.8332e14; },
          u"完成时间 1.8332e+14 不在 2000 年到此刻之后一天之间" },
        { "just over a day ahead", [now](RunRecord& r) { r.finishedAt = now + 86401.0; },
          u"完成时间 1796797201 不在 2000 年到此刻之后一天之间" },
        { "long CPU model", [kib](RunRecord& r) { r.machine.cpuModel = kib + 'x'; },
          u"机器信息“cpuModel”长于 1024 字节" },
        { "long governor", [](RunRecord& r) { r.machine.governor = QString(342, QChar(0x4e2d)); },
          u"机器信息“governor”长于 1024 字节" },
        { "long version", [kib](RunRecord& r) { r.version = kib + 'x'; }, u"版本号长于 1024 字节" },
    };
    for (const auto& c : cases) {
        RunRecord run = sampleRun(kSampleTime);
        c.change(run);
        EXPECT_EQ(implausibleValue(run, now), QString::fromUtf16(c.reason)) << c.name;
        // What the history gives back: the run as it is, or without the impossible value.
        EXPECT_EQ(withoutImplausibleValues(run, now) == run, *c.reason == 0) << c.name;
    }
}

TEST(ResultsDocument, RefusesAFileWithAnImpossibleValueNamingTheRun)
{
    ResultsDocument document;
    document.machine = sampleRun(kSampleTime).machine;
    document.runs = { sampleRun(kSampleTime), sampleRun(kSampleTime + 60) };
    document.runs[1].scores[0] = 1e308;
    const FixedClock clock(kSampleTime + 3600);
    const Result<ResultsDocument> read = readResultsDocument(writeResultsDocument(document), clock);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, HistoryError::Kind::BadDocument);
    EXPECT_EQ(read.error().message,
              QStringLiteral("成绩文件里有 Ostrel 不可能写出的数值：第 2 个测试记录（2026年12月8日 13:21 "
                             "完成）的“int”成绩 1e+308 不在 0 "
                             "到 100 之间"));

    // "Now" is the clock's: the same runs are fine a day later, and too early a day before.
    document.runs[1].scores[0] = 80.0;
    EXPECT_TRUE(readResultsDocument(writeResultsDocument(document), clock));
    const Result<ResultsDocument> early
        = readResultsDocument(writeResultsDocument(document), FixedClock(kSampleTime - 86400.5));
    ASSERT_FALSE(early);
    EXPECT_TRUE(early.error().message.endsWith(
        QStringLiteral("第 1 个测试记录的完成时间 1796707200 不在 2000 年到此刻之后一天之间")))
        << qPrintable(early.error().message);

    document.machine.os = QString(2000, QLatin1Char('o'));
    const Result<ResultsDocument> machine = readResultsDocument(writeResultsDocument(document), clock);
    ASSERT_FALSE(machine);
    EXPECT_TRUE(machine.error().message.endsWith(QStringLiteral("机器信息“os”长于 1024 字节")));
}

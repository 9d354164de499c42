// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/ResultsDocument.h"
#include "history/TestRuns.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <limits>

using namespace ostrel::history;
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
    const Expected<RunRecord> back = runFromJson(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(back) << back.error().message.toStdString();
    EXPECT_EQ(back.value(), run);
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

    const Expected<RunRecord> back
        = runFromJson(QJsonDocument::fromJson(QJsonDocument(json).toJson()).object());
    ASSERT_TRUE(back) << back.error().message.toStdString();
    EXPECT_EQ(back.value(), run);

    const QJsonObject plain = runToJson(sampleRun(1));
    EXPECT_FALSE(plain.contains("multicore"));
    EXPECT_FALSE(plain.contains("disk"));
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
        const Expected<RunRecord> read = runFromJson(bad);
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
    document.runs = { sampleRun(100, 70), sampleRun(300, 90), sampleRun(200, 80) };
    const QString path = dir.filePath("results.json");
    ASSERT_TRUE(writeResultsFile(path, document));

    const Expected<ResultsDocument> read = readResultsFile(path);
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
    const QByteArray run = QJsonDocument(runToJson(sampleRun(1))).toJson(QJsonDocument::Compact);
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
        const Expected<ResultsDocument> read = readResultsDocument(c.json);
        ASSERT_FALSE(read) << c.json.constData();
        EXPECT_EQ(read.error().kind, c.kind) << c.json.constData();
        EXPECT_FALSE(read.error().message.isEmpty());
    }
    EXPECT_EQ(readResultsFile("/nonexistent/results.json").error().kind, HistoryError::Kind::CannotOpen);
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
        "1780000000.25,80.125,81.25,77.5,83.0000001,79.25,80.2450000002,3.9750000001,3.78,4.46,,4.14,1.0.0,"
        "\"Test CPU 9000, \"\"rev\"\" 2\",8,16706064384,6.1.0-99-amd64,Debian GNU/Linux 12 (bookworm),x86_64,"
        "schedutil,ext4,busy;battery,,"))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("1700000000.5,60.125,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(",,,,,1.0.0,")) << "no stage times";
    EXPECT_TRUE(lines[2].endsWith(",ext4," + QString(18, ','))) << "no extended results: their columns empty";
}

TEST(ResultsDocument, CsvCarriesTheExtendedResults)
{
    const QStringList lines = runsToCsv({ sampleExtendedRun(1780000000.25) }).split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QString extendedHeader
        = "conditions,multicore_threads,multicore_elapsed_int,multicore_elapsed_double,multicore_elapsed_pi,"
          "multicore_speedup_int,multicore_speedup_double,multicore_speedup_pi,multicore_speedup_overall,"
          "disk_folder,disk_fileSystem,disk_direct,disk_fileBytes,disk_seqRead_mbps,disk_seqWrite_mbps,"
          "disk_randRead_iops,disk_randRead_mbps,disk_randWrite_iops,disk_randWrite_mbps";
    EXPECT_TRUE(lines[0].endsWith(extendedHeader)) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(",busy;battery,2,4.0250000001,3.91,4.53,1.9751,1.9335,1.9690000001,1.9591,"
                                  "\"/srv/scratch, \"\"fast\"\"\",ext4,true,1073741824,2903.5,1187.25,18096.75,"
                                  "74.125,15014.5,61.5"))
        << lines[1].toStdString();
}

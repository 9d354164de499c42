// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/ResultsDocument.h"
#include "history/TestRuns.h"

#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrel::history;
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
    EXPECT_EQ(lines[0],
              "finishedAt,int,double,pi,memory,disk,overall,elapsed_int,elapsed_double,elapsed_pi,elapsed_memory,"
              "elapsed_disk,version,cpuModel,logicalCpus,memoryBytes,kernel,os,architecture,governor,fileSystem,"
              "conditions");
    EXPECT_EQ(lines[1],
              "1780000000.25,80.125,81.25,77.5,83.0000001,79.25,80.2450000002,3.9750000001,3.78,4.46,,4.14,1.0.0,"
              "\"Test CPU 9000, \"\"rev\"\" 2\",8,16706064384,6.1.0-99-amd64,Debian GNU/Linux 12 (bookworm),x86_64,"
              "schedutil,ext4,busy;battery");
    EXPECT_TRUE(lines[2].startsWith("1700000000.5,60.125,")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].contains(",,,,,1.0.0,")) << "no stage times";
    EXPECT_TRUE(lines[2].endsWith(",ext4,"));
}

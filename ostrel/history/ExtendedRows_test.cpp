// SPDX-License-Identifier: GPL-3.0-or-later
// A test added to the table reaches the store, the documents, the CSV and the metrics with nothing else changed.
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/extended/JsonMembers.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/PrometheusText.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/testing/SampleRuns.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::history;
using ostrel::history::testing::kSampleTime;
using ostrel::history::testing::sampleExtendedRun;

namespace {

// One more test, shaped like the memory-bandwidth one: nested JSON members, a labelled metric and a figure per kernel.
struct Bandwidth
{
    int threads = 0;
    qint64 arrayBytes = 0;
    double copy = 0.0;
    double triad = 0.0;

    friend bool operator==(const Bandwidth&, const Bandwidth&) = default;
};

constexpr std::array<std::pair<const char*, double Bandwidth::*>, 2> kKernels { {
    { "copy", &Bandwidth::copy },
    { "triad", &Bandwidth::triad },
} };

QList<Figure<Bandwidth>> figures()
{
    QList<Figure<Bandwidth>> figures;
    for (const auto& [kernel, member] : kKernels) {
        figures << Figure<Bandwidth> { QLatin1String(kernel) + QStringLiteral("_gbps"),
                                       QLatin1String(kernel) + QStringLiteral(" GB/s"),
                                       1,
                                       Better::Higher,
                                       true,
                                       [member](const Bandwidth& b) { return b.*member; } };
    }
    return figures;
}

QJsonObject toJson(const Bandwidth& b)
{
    QJsonObject object { { QStringLiteral("threads"), b.threads },
                         { QStringLiteral("arrayBytes"), double(b.arrayBytes) } };
    for (const auto& [kernel, member] : kKernels)
        object.insert(QLatin1String(kernel), QJsonObject { { QStringLiteral("gbps"), b.*member } });
    return object;
}

ExtendedResult<Bandwidth> fromJson(const QJsonObject& object)
{
    Bandwidth b;
    const std::optional<qint64> threads = json::wholeNumber(object.value(QStringLiteral("threads")), 1.0);
    const std::optional<qint64> arrayBytes = json::wholeNumber(object.value(QStringLiteral("arrayBytes")), 0.0);
    if (!threads || !arrayBytes)
        return json::badMember(QStringLiteral("threads"));
    b.threads = int(*threads);
    b.arrayBytes = *arrayBytes;
    for (const auto& [kernel, member] : kKernels) {
        const std::optional<double> gbps
            = json::nonNegative(object.value(QLatin1String(kernel)).toObject().value(QStringLiteral("gbps")));
        if (!gbps)
            return json::badMember(QLatin1String(kernel) + QStringLiteral(".gbps"));
        b.*member = *gbps;
    }
    return b;
}

QList<MetricFamily> metrics(const Bandwidth& b)
{
    MetricFamily rates { QStringLiteral("ostrel_example_bytes_per_second"), QStringLiteral("Bandwidth."), {} };
    for (const auto& [kernel, member] : kKernels)
        rates.samples << MetricSample { b.*member * 1e9, { { QStringLiteral("kernel"), QLatin1String(kernel) } } };
    return { rates };
}

const TestDescription<Bandwidth> kBandwidth {
    "example",
    u"示例",
    "an example test",
    "the example",
    [](const ExtendedSetup&) -> std::unique_ptr<ExtendedTest<Bandwidth>> { return nullptr; },
    [](const Bandwidth& b) { return QStringLiteral("示例：复制 %1 GB/s，三元组 %2 GB/s").arg(b.copy).arg(b.triad); },
    [](const Bandwidth&, const FinishedRun&) { return QString(); },
    [](const Bandwidth& b) { return QStringLiteral("%1 线程").arg(b.threads); },
    figures,
    [] {
        return QList<TextColumn<Bandwidth>> { { QStringLiteral("arrayBytes"),
                                                [](const Bandwidth& b) { return QString::number(b.arrayBytes); } } };
    },
    toJson,
    fromJson,
    metrics,
};

RunRecord withBandwidth(double finishedAt)
{
    RunRecord run = sampleExtendedRun(finishedAt);
    run.extended.set(QStringLiteral("example"), Bandwidth { 8, 268435456, 21.25, 18.5 });
    return run;
}

} // namespace

TEST(ExtendedRows, OneMoreTestRoundTripsThroughStoreJsonCsvAndPrometheus)
{
    const ostrel::testing::ExtraExtendedTest row { ExtendedKind(kBandwidth) };
    const RunRecord run = withBandwidth(kSampleTime);
    EXPECT_EQ(extendedTestsTitle(), QStringLiteral("扩展测试（多核、磁盘、内存带宽、内存延迟、示例）"));
    EXPECT_TRUE(extendedTestsDescription().endsWith(
        QStringLiteral("多核测试、磁盘测试、内存带宽测试、内存延迟测试和示例测试")));
    EXPECT_TRUE(extendedTestsSummary().endsWith(QStringLiteral("as the working set grows, and the example")));

    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
    ASSERT_TRUE(store.append(run));
    const Result<QList<RunRecord>> kept = store.runs();
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept->size(), 1);
    EXPECT_EQ(kept->first(), run);

    const QJsonObject json = runToJson(run);
    EXPECT_EQ(QJsonDocument(json.value(QStringLiteral("example")).toObject()).toJson(QJsonDocument::Compact),
              R"({"arrayBytes":268435456,"copy":{"gbps":21.25},"threads":8,"triad":{"gbps":18.5}})");
    const Result<ResultsDocument> read
        = readResultsDocument(writeResultsDocument({ run.machine, { run } }), platform::WallClock {});
    ASSERT_TRUE(read) << read.error().message.toStdString();
    EXPECT_EQ(read->runs.first(), run);
    QJsonObject bad = json;
    bad.insert(QStringLiteral("example"), QJsonObject { { QStringLiteral("threads"), 8 } });
    ASSERT_FALSE(runFromJson(bad));
    EXPECT_TRUE(runFromJson(bad).error().message.contains(QStringLiteral("示例结果中“threads”无效")));

    const QStringList csv = runsToCsv({ run, sampleExtendedRun(kSampleTime - 60) }).split(QLatin1Char('\n'));
    // The extended columns, then what other work took of each test, the added test's too.
    EXPECT_TRUE(csv[0].contains(QStringLiteral(",memoryLatency_tlb_ns,example_arrayBytes,example_copy_gbps,"
                                               "example_triad_gbps,disturbed,cpuWait_int,")))
        << csv[0].toStdString();
    EXPECT_TRUE(csv[0].endsWith(QStringLiteral(",steal_extended.example"))) << csv[0].toStdString();
    EXPECT_TRUE(csv[1].contains(QStringLiteral(",25,268435456,21.25,18.5,double,"))) << csv[1].toStdString();
    EXPECT_TRUE(csv[2].contains(QStringLiteral(",25,,,,double,"))) << csv[2].toStdString();

    const QString metrics = QString::fromUtf8(prometheusText(run));
    EXPECT_TRUE(metrics.contains(QStringLiteral("# TYPE ostrel_example_bytes_per_second gauge\n"
                                                "ostrel_example_bytes_per_second{kernel=\"copy\"} 2.125e+10\n"
                                                "ostrel_example_bytes_per_second{kernel=\"triad\"} 1.85e+10\n")))
        << metrics.toStdString();

    const QList<ExtendedComparisonRow> compared = compareExtended(run.extended, sampleExtendedRun(0).extended);
    ASSERT_FALSE(compared.isEmpty());
    EXPECT_EQ(compared.last().figure.key, QStringLiteral("example_triad_gbps"));
    EXPECT_EQ(compared.last().a, 18.5);
    EXPECT_FALSE(compared.last().b);
}

// A row the table no longer has (another version's test) is kept by the store and ignored.
TEST(ExtendedRows, ATestTheTableLacksIsKeptAndIgnored)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        const ostrel::testing::ExtraExtendedTest row { ExtendedKind(kBandwidth) };
        HistoryStore store(path);
        ASSERT_TRUE(store.append(withBandwidth(kSampleTime)));
    }
    HistoryStore store(path);
    const Result<QList<RunRecord>> runs = store.runs();
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->first(), sampleExtendedRun(kSampleTime));
    ASSERT_TRUE(store.setExtended(1, sampleExtendedRun(kSampleTime)));
    const ostrel::testing::ExtraExtendedTest row { ExtendedKind(kBandwidth) };
    EXPECT_EQ(store.runs()->first(), withBandwidth(kSampleTime)) << "still there for the version that knows it";
}

// A row's curves reach the history and the documents through its JSON alone: read back from both, and read from the
// document's bytes with a JSON parser, they are the points the result had, each disturbed one marked.
TEST(ExtendedRows, CurvesRoundTripThroughTheHistoryAndADocument)
{
    const RunRecord run = sampleExtendedRun(kSampleTime);
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite")));
    ASSERT_TRUE(store.append(run));
    const Result<QList<RunRecord>> kept = store.runs();
    ASSERT_TRUE(kept && kept->size() == 1);
    const QByteArray bytes = writeResultsDocument({ run.machine, { kept->first() } });
    const Result<ResultsDocument> read = readResultsDocument(bytes, platform::WallClock {});
    ASSERT_TRUE(read) << read.error().message.toStdString();
    const QJsonArray runs = QJsonDocument::fromJson(bytes).object().value(QStringLiteral("runs")).toArray();
    ASSERT_EQ(runs.size(), 1);

    int rowsWithCurves = 0;
    for (const ExtendedKind& kind : extendedTests()) {
        const QList<ResultCurve> curves = kind.curves(*run.extended.find(kind.key));
        if (curves.isEmpty())
            continue;
        ++rowsWithCurves;
        EXPECT_EQ(kind.curves(*kept->first().extended.find(kind.key)), curves)
            << "the history: " << qPrintable(kind.key);
        EXPECT_EQ(kind.curves(*read->runs.first().extended.find(kind.key)), curves)
            << "a document: " << qPrintable(kind.key);
        const QJsonArray written
            = runs.first().toObject().value(kind.key).toObject().value(QStringLiteral("curves")).toArray();
        ASSERT_EQ(written.size(), curves.size()) << qPrintable(kind.key);
        for (qsizetype c = 0; c < curves.size(); ++c) {
            const QJsonObject curve = written.at(c).toObject();
            EXPECT_EQ(curve.value(QStringLiteral("name")).toString(), curves[c].name);
            EXPECT_EQ(curve.value(QStringLiteral("xUnit")).toString(), curves[c].xUnit);
            EXPECT_EQ(curve.value(QStringLiteral("logarithmicX")).toBool(), curves[c].logarithmicX);
            const QJsonArray points = curve.value(QStringLiteral("points")).toArray();
            ASSERT_EQ(points.size(), curves[c].points.size());
            QJsonArray disturbed;
            for (qsizetype i = 0; i < points.size(); ++i) {
                EXPECT_EQ(points.at(i).toArray(), (QJsonArray { curves[c].points[i].x, curves[c].points[i].y }));
                if (curves[c].points[i].disturbed)
                    disturbed.append(i);
            }
            EXPECT_EQ(curve.value(QStringLiteral("disturbed")).toArray(), disturbed);
        }
    }
    EXPECT_EQ(rowsWithCurves, 1) << "the memory latency's";
    // The sample's own numbers: 4 KiB pages at 1 MiB, 6.1 ns, disturbed.
    const QList<ResultCurve> latency = findExtendedTest(QStringLiteral("memoryLatency"))
                                           ->curves(*read->runs.first().extended.find(QStringLiteral("memoryLatency")));
    ASSERT_EQ(latency.size(), 2);
    EXPECT_EQ(latency[1].points[1], (CurvePoint { 1048576.0, 6.1e-9, true }));
}

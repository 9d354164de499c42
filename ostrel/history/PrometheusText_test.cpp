// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/PrometheusText.h"
#include "ostrel/testing/SampleRuns.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace ostrel::history;
using ostrel::history::testing::sampleExtendedRun;
using ostrel::history::testing::sampleRun;

namespace {

const QString kNodeExporter = QStringLiteral("/usr/bin/prometheus-node-exporter");

// Samples by their series, "name{label="value",...}" as written, and the value.
QMap<QString, double> samplesOf(const QString& text)
{
    QMap<QString, double> samples;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype space = line.lastIndexOf(QLatin1Char(' '));
        samples.insert(line.left(space), line.mid(space + 1).toDouble());
    }
    return samples;
}

// What every family must look like: HELP, TYPE, then its samples, each family once, names by the naming rules.
void expectWellFormed(const QString& text)
{
    ASSERT_TRUE(text.endsWith(QLatin1Char('\n')));
    static const QRegularExpression sample(QStringLiteral(
        R"(^(ostrel_[a-z_]+)(\{[a-z_]+="(?:[^"\\\n]|\\[\\"n])*"(?:,[a-z_]+="(?:[^"\\\n]|\\[\\"n])*")*\})? )"
        R"((-?[0-9.e+-]+|NaN|[+-]Inf)$)"));
    static const QRegularExpression help(QStringLiteral(R"(^# HELP (ostrel_[a-z_]+) \S.*$)"));
    static const QRegularExpression type(QStringLiteral(R"(^# TYPE (ostrel_[a-z_]+) gauge$)"));
    QStringList seen;
    QString current;
    bool typed = false;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (const QRegularExpressionMatch m = help.match(line); m.hasMatch()) {
            EXPECT_FALSE(seen.contains(m.captured(1))) << "family written twice: " << line.toStdString();
            current = m.captured(1);
            seen << current;
            typed = false;
        } else if (const QRegularExpressionMatch m = type.match(line); m.hasMatch()) {
            EXPECT_EQ(m.captured(1), current) << line.toStdString();
            typed = true;
        } else {
            const QRegularExpressionMatch s = sample.match(line);
            ASSERT_TRUE(s.hasMatch()) << "not a sample line: " << line.toStdString();
            EXPECT_EQ(s.captured(1), current) << "a sample outside its family: " << line.toStdString();
            EXPECT_TRUE(typed) << line.toStdString();
        }
    }
}

QByteArray httpGet(quint16 port, const QByteArray& path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(1000))
        return {};
    socket.write("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(5000))
        answer += socket.readAll();
    answer += socket.readAll();
    const qsizetype body = answer.indexOf("\r\n\r\n");
    return answer.startsWith("HTTP/1.") && answer.contains(" 200 ") && body >= 0 ? answer.mid(body + 4) : QByteArray();
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

TEST(PrometheusText, FollowsTheExpositionFormatWithEveryFigureInBaseUnits)
{
    const QString text = QString::fromUtf8(prometheusText(sampleExtendedRun(1780000000.5)));
    expectWellFormed(text);
    const QMap<QString, double> samples = samplesOf(text);
    const std::pair<const char*, double> expected[] = {
        { R"(ostrel_score{test="disk"})", 79.25 },
        { R"(ostrel_stage_duration_seconds{test="int"})", 3.9750000001 },
        { "ostrel_multicore_threads", 2 },
        { R"(ostrel_multicore_duration_seconds{test="pi"})", 4.53 },
        { R"(ostrel_multicore_speedup{test="double"})", 1.9335 },
        { R"(ostrel_disk_bytes_per_second{job="rand_write"})", 61500000 },
        { R"(ostrel_disk_iops{job="rand_write"})", 15014.5 },
        { "ostrel_disk_file_size_bytes", 1073741824 },
        { R"(ostrel_memory_bandwidth_bytes_per_second{kernel="triad"})", 13.5e9 },
        { R"(ostrel_memory_latency_seconds{level="l2"})", 5.4e-9 },
        { R"(ostrel_memory_latency_seconds{level="dram"})", 190e-9 },
        { "ostrel_memory_tlb_miss_cost_seconds", 25e-9 },
        { R"(ostrel_stage_cpu_wait_ratio{test="double"})", 0.5 },
        { R"(ostrel_stage_cpu_wait_ratio{test="extended.multicore"})", 0.09375 },
        { R"(ostrel_stage_steal_ratio{test="disk"})", 0.0078125 },
        { R"(ostrel_stage_steal_ratio{test="extended.disk"})", 0.015625 },
        { R"(ostrel_info{version="1.0.0",cpu_model="Test CPU 9000, \"rev\" 2"})", 1 },
    };
    for (const auto& [series, value] : expected) {
        ASSERT_TRUE(samples.contains(series)) << series << "\n" << text.toStdString();
        EXPECT_EQ(samples.value(series), value) << series;
    }
    EXPECT_FALSE(samples.contains(R"(ostrel_stage_duration_seconds{test="memory"})")) << "a stage without its time";
    EXPECT_FALSE(samples.contains(R"(ostrel_disk_iops{job="seq_read"})"));
    EXPECT_FALSE(samples.contains(R"(ostrel_stage_steal_ratio{test="memory"})")) << "a figure the machine lacked";
    EXPECT_EQ(samples.size(), 5 + 1 + 4 + 6 + 6 + 1 + 3 + 3 + 1 + 4 + 2 + 1 + 1 + 2 + 4 + 1 + 1 + 1);

    // A run without the extended tests, stage times or interference: those families are left out, not empty.
    RunRecord plain = sampleRun(1700000000);
    plain.elapsed = {};
    const QString plainText = QString::fromUtf8(prometheusText(plain));
    expectWellFormed(plainText);
    EXPECT_EQ(samplesOf(plainText).size(), 5 + 1 + 1 + 1) << plainText.toStdString();
}

TEST(PrometheusText, EscapesLabelValues)
{
    const std::pair<QString, QString> cases[] = {
        { "plain", "plain" },
        { R"(C:\path)", R"(C:\\path)" },
        { R"(say "hi")", R"(say \"hi\")" },
        { "two\nlines", R"(two\nlines)" },
        { "处理器 \\\"\n", R"(处理器 \\\"\n)" },
    };
    for (const auto& [value, escaped] : cases)
        EXPECT_EQ(prometheusLabelValue(value), escaped) << value.toStdString();
}

TEST(PrometheusText, WritesTheFileInPlaceOfTheOldOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ostrel.prom"));
    ASSERT_TRUE(writePrometheusFile(path, sampleRun(1)));
    ASSERT_TRUE(writePrometheusFile(path, sampleExtendedRun(2)));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), prometheusText(sampleExtendedRun(2)));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList { "ostrel.prom" }) << "no temporary file left";

    const Status refused = writePrometheusFile(dir.filePath(QStringLiteral("missing/ostrel.prom")), sampleRun(1));
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message.contains(QStringLiteral("missing"))) << refused.error().message.toStdString();
}

// The file as node_exporter's textfile collector reads it and serves it on /metrics.
TEST(PrometheusText, NodeExporterServesTheFile)
{
    if (!QFileInfo(kNodeExporter).isExecutable())
        GTEST_SKIP() << "prometheus-node-exporter is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(writePrometheusFile(dir.filePath(QStringLiteral("ostrel.prom")), sampleExtendedRun(1780000000.5)));

    QProcess exporter;
    exporter.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray metrics;
    quint16 port = 0;
    // Another program may take the free port first: try a few.
    for (int attempt = 0; attempt < 3 && metrics.isEmpty(); ++attempt) {
        port = freePort();
        exporter.start(kNodeExporter,
                       { QStringLiteral("--collector.disable-defaults"), QStringLiteral("--collector.textfile"),
                         QStringLiteral("--collector.textfile.directory=") + dir.path(),
                         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port) });
        ASSERT_TRUE(exporter.waitForStarted(5000));
        QElapsedTimer waited;
        waited.start();
        while (metrics.isEmpty() && exporter.state() == QProcess::Running && waited.elapsed() < 10000) {
            metrics = httpGet(port, "/metrics");
            if (metrics.isEmpty())
                QThread::msleep(50);
        }
        if (metrics.isEmpty()) {
            exporter.kill();
            exporter.waitForFinished(5000);
        }
    }
    ASSERT_FALSE(metrics.isEmpty()) << exporter.readAll().toStdString();

    const QString text = QString::fromUtf8(metrics);
    const QMap<QString, double> samples = samplesOf(text);
    EXPECT_EQ(samples.value("node_textfile_scrape_error", -1), 0) << text.toStdString();
    // node_exporter writes labels in name order and numbers in Go's notation.
    const std::pair<const char*, double> expected[] = {
        { R"(ostrel_score{test="int"})", 80.125 },
        { "ostrel_overall_score", 80.2450000002 },
        { R"(ostrel_stage_duration_seconds{test="pi"})", 4.46 },
        { "ostrel_multicore_speedup_overall", 1.9591 },
        { R"(ostrel_disk_bytes_per_second{job="seq_read"})", 2903500000 },
        { R"(ostrel_disk_iops{job="rand_read"})", 18096.75 },
        { R"(ostrel_disk_info{direct="true",file_system="ext4",folder="/srv/scratch, \"fast\""})", 1 },
        { "ostrel_last_run_timestamp_seconds", 1780000000.5 },
        { R"(ostrel_info{cpu_model="Test CPU 9000, \"rev\" 2",version="1.0.0"})", 1 },
    };
    for (const auto& [series, value] : expected) {
        ASSERT_TRUE(samples.contains(series)) << series << "\n" << text.toStdString();
        EXPECT_EQ(samples.value(series), value) << series;
    }
    EXPECT_TRUE(text.contains("# TYPE ostrel_score gauge"));

    // The same check sees a file the collector cannot parse.
    {
        QFile broken(dir.filePath(QStringLiteral("broken.prom")));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("ostrel_score{test=\"int\" 80\n");
    }
    EXPECT_EQ(samplesOf(QString::fromUtf8(httpGet(port, "/metrics"))).value("node_textfile_scrape_error", -1), 1);

    exporter.terminate();
    if (!exporter.waitForFinished(5000)) {
        exporter.kill();
        exporter.waitForFinished(5000);
    }
}

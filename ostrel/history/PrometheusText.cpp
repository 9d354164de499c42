// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/PrometheusText.h"

#include "ostrel/engine/Panel.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QLocale>
#include <cmath>
#include <utility>
#include <vector>

namespace ostrel::history {

namespace {

QString sampleValue(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("+Inf") : QStringLiteral("-Inf");
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// One metric family: its HELP and TYPE lines, then its samples. A family without samples writes nothing.
class Family
{
public:
    Family(QString& out, const char* name, const char* help)
        : m_out(out)
        , m_name(QLatin1String(name))
        , m_help(QLatin1String(help))
    {
    }
    ~Family()
    {
        if (m_samples.isEmpty())
            return;
        m_out += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n").arg(m_name, m_help) + m_samples;
    }
    Family(const Family&) = delete;
    Family& operator=(const Family&) = delete;

    // labels: name and value pairs, values unescaped.
    void add(double value, const std::vector<std::pair<const char*, QString>>& labels = {})
    {
        m_samples += m_name;
        if (!labels.empty()) {
            QStringList pairs;
            for (const auto& [label, text] : labels)
                pairs << QStringLiteral("%1=\"%2\"").arg(QLatin1String(label), prometheusLabelValue(text));
            m_samples += QLatin1Char('{') + pairs.join(QLatin1Char(',')) + QLatin1Char('}');
        }
        m_samples += QLatin1Char(' ') + sampleValue(value) + QLatin1Char('\n');
    }

private:
    QString& m_out;
    QString m_name;
    QString m_help;
    QString m_samples;
};

} // namespace

QString prometheusLabelValue(const QString& value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('"'))
            escaped += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else
            escaped += c;
    }
    return escaped;
}

QByteArray prometheusText(const RunRecord& run)
{
    QString out;
    {
        Family scores(out, "ostrel_score", "Score of one of the five tests, in points: 100 less 5 a second.");
        for (size_t i = 0; i < kTestKinds.size(); ++i)
            scores.add(run.scores[i], { { "test", QLatin1String(kTestKinds[i].key) } });
    }
    Family(out, "ostrel_overall_score", "Mean of the five test scores, in points.").add(run.overall);
    {
        Family durations(out, "ostrel_stage_duration_seconds", "Time one of the five tests took.");
        for (size_t i = 0; i < kTestKinds.size(); ++i) {
            if (run.elapsed[i])
                durations.add(*run.elapsed[i], { { "test", QLatin1String(kTestKinds[i].key) } });
        }
    }
    if (const std::optional<MulticoreResult>& multicore = run.multicore) {
        Family(out, "ostrel_multicore_threads", "Copies of each processor test run at once in the multi-core test.")
            .add(multicore->threads);
        {
            Family durations(out, "ostrel_multicore_duration_seconds",
                             "Time from the copies' common start to the end of the last one.");
            for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i)
                durations.add(multicore->elapsed[i], { { "test", QLatin1String(kMulticoreWorkloads[i]) } });
        }
        {
            Family speedups(out, "ostrel_multicore_speedup",
                            "Threads times the single-copy time over the copies' time, per processor test.");
            for (size_t i = 0; i < kMulticoreWorkloads.size(); ++i)
                speedups.add(multicore->speedup[i], { { "test", QLatin1String(kMulticoreWorkloads[i]) } });
        }
        Family(out, "ostrel_multicore_speedup_overall", "Geometric mean of the three multi-core speed-ups.")
            .add(multicore->overall);
    }
    if (const std::optional<DiskResult>& disk = run.disk) {
        {
            Family rates(out, "ostrel_disk_bytes_per_second", "Transfer rate of one fio job on the test file.");
            for (const DiskJobKind& job : kDiskJobs)
                rates.add(((*disk).*job.result).mbps * 1e6, { { "job", QLatin1String(job.metricJob) } });
        }
        {
            Family iops(out, "ostrel_disk_iops", "Operations a second of one random fio job.");
            for (const DiskJobKind& job : kDiskJobs) {
                if (const std::optional<double>& operations = ((*disk).*job.result).iops; job.random && operations)
                    iops.add(*operations, { { "job", QLatin1String(job.metricJob) } });
            }
        }
        Family(out, "ostrel_disk_file_size_bytes", "Size of the file the disk jobs ran on.")
            .add(double(disk->fileBytes));
        Family(out, "ostrel_disk_info", "Where the disk test ran; direct is false when the page cache was used.")
            .add(1,
                 { { "folder", disk->folder },
                   { "file_system", disk->fileSystem },
                   { "direct", disk->direct ? QStringLiteral("true") : QStringLiteral("false") } });
    }
    Family(out, "ostrel_last_run_timestamp_seconds", "When the run finished, in seconds since 1970.")
        .add(run.finishedAt);
    Family(out, "ostrel_info", "The Ostrel version that made the run and the processor it ran on.")
        .add(1, { { "version", run.version }, { "cpu_model", run.machine.cpuModel } });
    return out.toUtf8();
}

Status writePrometheusFile(const QString& path, const RunRecord& run)
{
    if (const platform::FileWrite written = platform::writeWholeFile(path, prometheusText(run)); !written)
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法写入文件：%1（%2）").arg(QDir::toNativeSeparators(path), written.reason)
        };
    return Done {};
}

} // namespace ostrel::history

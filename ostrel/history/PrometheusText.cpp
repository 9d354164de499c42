// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/history/PrometheusText.h"

#include "ostrel/engine/Panel.h"
#include "ostrel/extended/ExtendedTests.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QLocale>
#include <cmath>
#include <tuple>
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
        : Family(out, QLatin1String(name), QLatin1String(help))
    {
    }
    Family(QString& out, QString name, QString help)
        : m_out(out)
        , m_name(std::move(name))
        , m_help(std::move(help))
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
    void add(double value, const std::vector<std::pair<QString, QString>>& labels = {})
    {
        m_samples += m_name;
        if (!labels.empty()) {
            QStringList pairs;
            for (const auto& [label, text] : labels)
                pairs << QStringLiteral("%1=\"%2\"").arg(label, prometheusLabelValue(text));
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
            scores.add(run.scores[i], { { QStringLiteral("test"), QLatin1String(kTestKinds[i].key) } });
    }
    Family(out, "ostrel_overall_score", "Mean of the five test scores, in points.").add(run.overall);
    {
        Family durations(out, "ostrel_stage_duration_seconds", "Time one of the five tests took.");
        for (size_t i = 0; i < kTestKinds.size(); ++i) {
            if (run.elapsed[i])
                durations.add(*run.elapsed[i], { { QStringLiteral("test"), QLatin1String(kTestKinds[i].key) } });
        }
    }
    for (const auto& [name, figure, help] : {
             std::tuple { "ostrel_stage_cpu_wait_ratio", &machine::Interference::cpuWait,
                          "Share of a test's time in which runnable work waited for a CPU (pressure)." },
             std::tuple { "ostrel_stage_steal_ratio", &machine::Interference::steal,
                          "Share of the CPUs' time the hypervisor gave to others during a test." },
         }) {
        Family family(out, name, help);
        for (auto it = run.interference.begin(); it != run.interference.end(); ++it) {
            if (const std::optional<double> value = (*it).*figure)
                family.add(*value, { { QStringLiteral("test"), it.key() } });
        }
    }
    for (const ExtendedKind& kind : extendedTests()) {
        if (const ExtendedResults::Entry* result = run.extended.find(kind.key)) {
            for (const MetricFamily& metric : kind.metrics(*result)) {
                Family family(out, metric.name, metric.help);
                for (const MetricSample& sample : metric.samples)
                    family.add(sample.value, sample.labels);
            }
        }
    }
    Family(out, "ostrel_last_run_timestamp_seconds", "When the run finished, in seconds since 1970.")
        .add(run.finishedAt);
    Family(out, "ostrel_info", "The Ostrel version that made the run and the processor it ran on.")
        .add(1, { { QStringLiteral("version"), run.version }, { QStringLiteral("cpu_model"), run.machine.cpuModel } });
    return out.toUtf8();
}

Status writePrometheusFile(const QString& path, const RunRecord& run)
{
    if (const platform::Status<platform::FileWriteError> written = platform::writeWholeFile(path, prometheusText(run));
        !written)
        return HistoryError {
            HistoryError::Kind::CannotOpen,
            QStringLiteral("无法写入文件：%1（%2）").arg(QDir::toNativeSeparators(path), written.error().reason)
        };
    return Done {};
}

} // namespace ostrel::history

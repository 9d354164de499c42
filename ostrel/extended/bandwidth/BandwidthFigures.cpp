// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/bandwidth/BandwidthFigures.h"

#include "ostrel/extended/bandwidth/MemoryBandwidth.h"

#include <QLocale>
#include <QStringList>
#include <cmath>
#include <limits>

namespace ostrel::bandwidth {

namespace {

QString gbps(double value)
{
    return QString::number(value, 'f', 1);
}

// As every Ostrel metric writes its samples.
QString sampleValue(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("+Inf") : QStringLiteral("-Inf");
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

BandwidthError badValue(const QString& member)
{
    return { BandwidthError::Kind::BadValue, QStringLiteral("内存带宽结果中“%1”无效").arg(member) };
}

std::optional<double> nonNegative(const QJsonValue& value)
{
    if (!value.isDouble() || !std::isfinite(value.toDouble()) || value.toDouble() < 0.0)
        return std::nullopt;
    return value.toDouble();
}

// A whole number from 1 up to `most`.
std::optional<qint64> positiveWhole(const QJsonValue& value, double most)
{
    const std::optional<double> number = nonNegative(value);
    if (!number || *number < 1.0 || *number != std::floor(*number) || *number > most)
        return std::nullopt;
    return qint64(*number);
}

} // namespace

QString bandwidthLine(const MemoryBandwidthResult& result)
{
    QStringList kernels;
    for (const Kernel& kernel : kKernels)
        kernels << QString::fromUtf16(kernel.title) + QLatin1Char(' ') + gbps(result.*kernel.gbps)
                + QStringLiteral(" GB/s");
    return QStringLiteral("内存带宽：") + kernels.join(QStringLiteral("，"));
}

QString bandwidthDetails(const MemoryBandwidthResult& result)
{
    QString details = QStringLiteral("%1 线程，每个数组 %2 MiB").arg(result.threads).arg(result.arrayBytes / kMiB);
    if (result.reduced)
        details += QStringLiteral("（可用内存不足，数组已缩小）");
    return details;
}

QString bandwidthState()
{
    return QStringLiteral("正在测试内存带宽…");
}

QJsonObject bandwidthToJson(const MemoryBandwidthResult& result)
{
    QJsonObject object {
        { QStringLiteral("threads"), result.threads },
        { QStringLiteral("arrayBytes"), double(result.arrayBytes) },
    };
    if (result.reduced)
        object.insert(QStringLiteral("reduced"), true);
    for (const Kernel& kernel : kKernels)
        object.insert(QLatin1String(kernel.key), QJsonObject { { QStringLiteral("gbps"), result.*kernel.gbps } });
    return object;
}

Result<MemoryBandwidthResult> bandwidthFromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return badValue(QLatin1String(kJsonKey));
    const QJsonObject object = value.toObject();
    MemoryBandwidthResult result;
    const std::optional<qint64> threads
        = positiveWhole(object.value(QStringLiteral("threads")), double(std::numeric_limits<int>::max()));
    if (!threads)
        return badValue(QStringLiteral("threads"));
    result.threads = int(*threads);
    const std::optional<qint64> arrayBytes
        = positiveWhole(object.value(QStringLiteral("arrayBytes")), 9007199254740992.0);
    if (!arrayBytes)
        return badValue(QStringLiteral("arrayBytes"));
    result.arrayBytes = *arrayBytes;
    const QJsonValue reduced = object.value(QStringLiteral("reduced"));
    if (!reduced.isUndefined() && !reduced.isBool())
        return badValue(QStringLiteral("reduced"));
    result.reduced = reduced.toBool(false);
    for (const Kernel& kernel : kKernels) {
        const QString key = QLatin1String(kernel.key);
        const std::optional<double> rate = nonNegative(object.value(key).toObject().value(QStringLiteral("gbps")));
        if (!rate)
            return badValue(key + QStringLiteral(".gbps"));
        result.*kernel.gbps = *rate;
    }
    return result;
}

QString bandwidthPrometheusText(const MemoryBandwidthResult& result)
{
    const QString name = QStringLiteral("ostrel_memory_bandwidth_bytes_per_second");
    QString out = QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n")
                      .arg(name, QStringLiteral("Best rate of one STREAM kernel over arrays larger than the caches."));
    for (const Kernel& kernel : kKernels) {
        out += QStringLiteral("%1{kernel=\"%2\"} %3\n")
                   .arg(name, QLatin1String(kernel.key), sampleValue(result.*kernel.gbps * 1e9));
    }
    return out;
}

} // namespace ostrel::bandwidth

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/bandwidth/BandwidthTest.h"

#include "ostrel/extended/JsonMembers.h"
#include "ostrel/extended/bandwidth/MemoryBandwidth.h"

#include <QStringList>
#include <limits>

namespace ostrel::bandwidth {

namespace {

QString gbps(double value)
{
    return QString::number(value, 'f', 1);
}

// "复制 12.3 GB/s，三元组 13.4 GB/s"
QString rates(const MemoryBandwidthResult& result)
{
    QStringList kernels;
    for (const Kernel& kernel : kKernels)
        kernels << QString::fromUtf16(kernel.title) + QLatin1Char(' ') + gbps(result.*kernel.gbps)
                + QStringLiteral(" GB/s");
    return kernels.join(QStringLiteral("，"));
}

QString arrays(const MemoryBandwidthResult& result)
{
    QString text = QStringLiteral("%1 线程，每个数组 %2 MiB").arg(result.threads).arg(result.arrayBytes / kMiB);
    if (result.groupLimited)
        text += QStringLiteral("（cgroup 内存限制不足，数组已缩小）");
    else if (result.reduced)
        text += QStringLiteral("（可用内存不足，数组已缩小）");
    return text;
}

class Test final : public ExtendedTest<MemoryBandwidthResult>
{
public:
    explicit Test(const ExtendedSetup& setup)
        : m_threads(setup.threads)
    {
    }

    std::size_t steps() const override { return 1; }

    ExtendedResult<MemoryBandwidthResult> run(const FinishedRun&, const std::atomic<bool>& stop,
                                              ExtendedProgress& progress) override
    {
        progress.showState(state());
        progress.showStep(0, 0.0);
        Result<MemoryBandwidthResult> result = measureMemoryBandwidth(
            Options { .threads = m_threads }, stop, [&](double fraction) { progress.showStep(0, fraction); });
        if (result)
            return std::move(result).value();
        if (result.error().kind == BandwidthError::Kind::Stopped)
            return ExtendedError { ExtendedError::Kind::Stopped, {} };
        return ExtendedError { ExtendedError::Kind::Failed, result.error().message };
    }

private:
    int m_threads;
};

} // namespace

std::unique_ptr<ExtendedTest<MemoryBandwidthResult>> makeTest(const ExtendedSetup& setup)
{
    return std::make_unique<Test>(setup);
}

QString line(const MemoryBandwidthResult& result)
{
    return QStringLiteral("内存带宽：") + rates(result);
}

QString details(const MemoryBandwidthResult& result, const FinishedRun&)
{
    return arrays(result);
}

QString historyTip(const MemoryBandwidthResult& result)
{
    return rates(result) + QStringLiteral("；") + arrays(result);
}

QString state()
{
    return QStringLiteral("正在测试 内存带宽");
}

QList<Figure<MemoryBandwidthResult>> figures()
{
    QList<Figure<MemoryBandwidthResult>> figures {
        { QStringLiteral("threads"), QStringLiteral("内存带宽线程数"), 0, Better::Neither, false,
          [](const MemoryBandwidthResult& r) { return double(r.threads); } },
        { QStringLiteral("arrayBytes"), QStringLiteral("内存带宽数组字节数"), 0, Better::Neither, false,
          [](const MemoryBandwidthResult& r) { return double(r.arrayBytes); } },
    };
    // Triad, the figure machines are compared by, gets a column of its own in the list of runs.
    for (const Kernel& kernel : kKernels) {
        const bool triad = &kernel == &kKernels.back();
        figures << Figure<MemoryBandwidthResult> { QLatin1String(kernel.key) + QStringLiteral("_gbps"),
                                                   QStringLiteral("%1 GB/s").arg(QString::fromUtf16(kernel.title)),
                                                   1,
                                                   Better::Higher,
                                                   triad,
                                                   [gbps = kernel.gbps](const MemoryBandwidthResult& r) {
                                                       return r.*gbps;
                                                   } };
    }
    return figures;
}

QList<TextColumn<MemoryBandwidthResult>> texts()
{
    return { { QStringLiteral("reduced"), [](const MemoryBandwidthResult& r) {
                  return r.reduced ? QStringLiteral("true") : QStringLiteral("false");
              } } };
}

QJsonObject toJson(const MemoryBandwidthResult& result)
{
    QJsonObject object {
        { QStringLiteral("threads"), result.threads },
        { QStringLiteral("arrayBytes"), double(result.arrayBytes) },
    };
    if (result.reduced)
        object.insert(QStringLiteral("reduced"), true);
    if (result.groupLimited)
        object.insert(QStringLiteral("groupLimited"), true);
    for (const Kernel& kernel : kKernels)
        object.insert(QLatin1String(kernel.key), QJsonObject { { QStringLiteral("gbps"), result.*kernel.gbps } });
    return object;
}

ExtendedResult<MemoryBandwidthResult> fromJson(const QJsonObject& object)
{
    using json::badMember;
    MemoryBandwidthResult result;
    const std::optional<qint64> threads = json::wholeNumber(object.value(QStringLiteral("threads")), 1.0);
    if (!threads || *threads > std::numeric_limits<int>::max())
        return badMember(QStringLiteral("threads"));
    result.threads = int(*threads);
    const std::optional<qint64> arrayBytes = json::wholeNumber(object.value(QStringLiteral("arrayBytes")), 1.0);
    if (!arrayBytes)
        return badMember(QStringLiteral("arrayBytes"));
    result.arrayBytes = *arrayBytes;
    const QJsonValue reduced = object.value(QStringLiteral("reduced"));
    if (!reduced.isUndefined() && !reduced.isBool())
        return badMember(QStringLiteral("reduced"));
    result.reduced = reduced.toBool(false);
    const QJsonValue groupLimited = object.value(QStringLiteral("groupLimited"));
    if (!groupLimited.isUndefined() && !groupLimited.isBool())
        return badMember(QStringLiteral("groupLimited"));
    result.groupLimited = result.reduced && groupLimited.toBool(false);
    for (const Kernel& kernel : kKernels) {
        const QString key = QLatin1String(kernel.key);
        const std::optional<double> rate
            = json::nonNegative(object.value(key).toObject().value(QStringLiteral("gbps")));
        if (!rate)
            return badMember(key + QStringLiteral(".gbps"));
        result.*kernel.gbps = *rate;
    }
    return result;
}

QList<MetricFamily> metrics(const MemoryBandwidthResult& result)
{
    MetricFamily rates { QStringLiteral("ostrel_memory_bandwidth_bytes_per_second"),
                         QStringLiteral("Best rate of one STREAM kernel over arrays larger than the caches."),
                         {} };
    for (const Kernel& kernel : kKernels)
        rates.samples << MetricSample { result.*kernel.gbps * 1e9,
                                        { { QStringLiteral("kernel"), QLatin1String(kernel.key) } } };
    return { rates };
}

} // namespace ostrel::bandwidth

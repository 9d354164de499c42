// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/machine/Interference.h"

#include "ostrel/machine/SystemFiles.h"

#include <QDir>
#include <QList>
#include <QStringList>
#include <cmath>
#include <sys/resource.h>

namespace ostrel::machine {

namespace {

std::optional<double> numberIn(const QString& path)
{
    bool ok = false;
    const double value = readSystemFile(path).trimmed().toDouble(&ok);
    return ok && std::isfinite(value) && value >= 0 ? std::optional<double>(value) : std::nullopt;
}

// A share of a span, within 0 to 1; empty for a span that is not positive.
std::optional<double> share(double part, double whole)
{
    if (!(whole > 0) || !std::isfinite(part))
        return std::nullopt;
    return std::clamp(part / whole, 0.0, 1.0);
}

QString percent(double share)
{
    return QString::number(std::lround(share * 100)) + QLatin1Char('%');
}

} // namespace

std::optional<double> cpuSomeTotal(const QByteArray& pressure)
{
    for (const QByteArray& line : pressure.split('\n')) {
        if (!line.startsWith("some "))
            continue;
        for (const QByteArray& field : line.split(' ')) {
            if (!field.startsWith("total="))
                continue;
            bool ok = false;
            const double total = field.mid(6).toDouble(&ok);
            if (ok && total >= 0)
                return total;
        }
    }
    return std::nullopt;
}

std::optional<double> stealTicksOf(const QByteArray& stat, int* cpus)
{
    std::optional<double> steal;
    int count = 0;
    for (const QByteArray& line : stat.split('\n')) {
        if (line.startsWith("cpu ")) {
            // user nice system idle iowait irq softirq steal ...
            const QList<QByteArray> fields = line.simplified().split(' ');
            bool ok = false;
            const double ticks = fields.size() > 8 ? fields[8].toDouble(&ok) : 0.0;
            if (ok && ticks >= 0)
                steal = ticks;
        } else if (line.startsWith("cpu")) {
            ++count;
        }
    }
    if (cpus)
        *cpus = count;
    return count > 0 ? steal : std::nullopt;
}

InterferenceCounters readInterferenceCounters(double now, int cpu, const SystemRoots& roots)
{
    InterferenceCounters counters;
    counters.at = now;
    counters.cpuWaitMicros = cpuSomeTotal(readSystemFile(roots.proc + QStringLiteral("/pressure/cpu")));
    counters.stealTicks = stealTicksOf(readSystemFile(roots.proc + QStringLiteral("/stat")), &counters.cpus);
    struct rusage usage
    {
    };
    if (::getrusage(RUSAGE_THREAD, &usage) == 0)
        counters.involuntarySwitches = usage.ru_nivcsw;
    if (cpu >= 0) {
        const QString cpufreq = roots.sys + QStringLiteral("/devices/system/cpu/cpu%1/cpufreq/").arg(cpu);
        counters.frequencyKHz = numberIn(cpufreq + QStringLiteral("scaling_cur_freq"));
        counters.maxFrequencyKHz = numberIn(cpufreq + QStringLiteral("cpuinfo_max_freq"));
    }
    const QDir cpuFolder(roots.sys + QStringLiteral("/devices/system/cpu"));
    for (const QString& name : cpuFolder.entryList({ QStringLiteral("cpu[0-9]*") }, QDir::Dirs)) {
        for (const char* counter : { "core_throttle_count", "package_throttle_count" }) {
            const std::optional<double> events
                = numberIn(cpuFolder.filePath(name) + QStringLiteral("/thermal_throttle/") + QLatin1String(counter));
            if (events)
                counters.throttleEvents = counters.throttleEvents.value_or(0) + qint64(*events);
        }
    }
    return counters;
}

Interference interferenceBetween(const InterferenceCounters& start, const InterferenceCounters& end, long userHz)
{
    Interference result;
    const double seconds = end.at - start.at;
    if (start.cpuWaitMicros && end.cpuWaitMicros)
        result.cpuWait = share((*end.cpuWaitMicros - *start.cpuWaitMicros) / 1e6, seconds);
    if (start.stealTicks && end.stealTicks && end.cpus > 0 && userHz > 0)
        result.steal = share((*end.stealTicks - *start.stealTicks) / double(userHz), seconds * end.cpus);
    if (start.involuntarySwitches && end.involuntarySwitches)
        result.involuntarySwitches = std::max(0L, *end.involuntarySwitches - *start.involuntarySwitches);
    if (start.frequencyKHz && end.frequencyKHz && end.maxFrequencyKHz && *end.maxFrequencyKHz > 0)
        result.frequency = std::clamp((*start.frequencyKHz + *end.frequencyKHz) / 2 / *end.maxFrequencyKHz, 0.0, 1.0);
    if (start.throttleEvents && end.throttleEvents)
        result.throttleEvents = std::max<qint64>(0, *end.throttleEvents - *start.throttleEvents);
    return result;
}

bool Interference::disturbed() const
{
    return (cpuWait && *cpuWait > kMostCpuWait) || (steal && *steal > kMostSteal)
        || (frequency && *frequency < kLeastFrequency);
}

QString Interference::reasons() const
{
    QStringList reasons;
    if (cpuWait && *cpuWait > kMostCpuWait)
        reasons << QStringLiteral("等待处理器 ") + percent(*cpuWait);
    if (steal && *steal > kMostSteal)
        reasons << QStringLiteral("宿主占用 ") + percent(*steal);
    if (frequency && *frequency < kLeastFrequency)
        reasons << QStringLiteral("频率 ") + percent(*frequency);
    return reasons.join(QStringLiteral("，"));
}

QString interferenceLine(const QString& testTitle, const Interference& interference)
{
    if (!interference.disturbed())
        return {};
    return QStringLiteral("干扰：%1 %2").arg(testTitle, interference.reasons());
}

} // namespace ostrel::machine

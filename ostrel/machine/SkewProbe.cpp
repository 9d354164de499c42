// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/machine/SkewProbe.h"

#include "ostrel/machine/SystemFiles.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <optional>

namespace ostrel::machine {

namespace {

QByteArray readWord(const QString& path)
{
    return readSystemFile(path).trimmed();
}

struct CpuTimes
{
    quint64 busy = 0;
    quint64 total = 0;
    int cpus = 0;
};

// The aggregate "cpu" line of /proc/stat: user nice system idle iowait irq softirq steal [guest guest_nice].
// Guest time is already counted in user and nice.
std::optional<CpuTimes> parseStat(const QByteArray& stat)
{
    std::optional<CpuTimes> times;
    int cpus = 0;
    for (const QByteArray& line : stat.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.isEmpty() || !fields[0].startsWith("cpu"))
            continue;
        if (fields[0] != "cpu") {
            ++cpus;
            continue;
        }
        if (fields.size() < 5)
            return std::nullopt;
        quint64 values[8] {};
        for (int i = 0; i < 8 && i + 1 < fields.size(); ++i) {
            bool ok = false;
            values[i] = fields[i + 1].toULongLong(&ok);
            if (!ok)
                return std::nullopt;
        }
        const quint64 idle = values[3] + values[4];
        const quint64 busy = values[0] + values[1] + values[2] + values[5] + values[6] + values[7];
        times = CpuTimes { busy, busy + idle, 0 };
    }
    if (times)
        times->cpus = cpus;
    return times;
}

// utime + stime of /proc/self/stat: fields 14 and 15, counted after the command name in parentheses, which may
// itself hold spaces and parentheses.
std::optional<quint64> parseSelfStat(const QByteArray& stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    // After ")": state (3) ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt utime (14) stime (15)
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    bool userOk = false;
    bool systemOk = false;
    const quint64 user = fields[11].toULongLong(&userOk);
    const quint64 system = fields[12].toULongLong(&systemOk);
    if (!userOk || !systemOk)
        return std::nullopt;
    return user + system;
}

} // namespace

double SkewProbe::otherCores(const QByteArray& statBefore, const QByteArray& selfBefore, const QByteArray& statAfter,
                             const QByteArray& selfAfter)
{
    const auto before = parseStat(statBefore);
    const auto after = parseStat(statAfter);
    const auto selfStart = parseSelfStat(selfBefore);
    const auto selfEnd = parseSelfStat(selfAfter);
    if (!before || !after || !selfStart || !selfEnd || after->cpus <= 0 || after->total <= before->total
        || after->busy < before->busy || *selfEnd < *selfStart)
        return -1.0;
    // Both files count in the same clock ticks; the ticks that passed on each CPU measure the window itself.
    const double windowTicks = double(after->total - before->total) / after->cpus;
    const double othersTicks = double(after->busy - before->busy) - double(*selfEnd - *selfStart);
    return std::max(0.0, othersTicks) / windowTicks;
}

bool SkewProbe::onBattery() const
{
    const QDir supplies(roots.sys + QStringLiteral("/class/power_supply"));
    bool batteryPresent = false;
    bool mainsSeen = false;
    bool mainsOnline = false;
    for (const QString& name : supplies.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString base = supplies.filePath(name) + QLatin1Char('/');
        const QByteArray type = readWord(base + QStringLiteral("type"));
        if (type == "Battery") {
            // A wireless mouse's or headset's battery says nothing about the machine's power.
            if (readWord(base + QStringLiteral("scope")) == "Device"
                || readWord(base + QStringLiteral("present")) == "0")
                continue;
            if (readWord(base + QStringLiteral("status")) == "Discharging")
                return true;
            batteryPresent = true;
        } else if (type == "Mains") {
            mainsSeen = true;
            mainsOnline = mainsOnline || readWord(base + QStringLiteral("online")) == "1";
        }
    }
    return batteryPresent && mainsSeen && !mainsOnline;
}

bool SkewProbe::powerSaving() const
{
    const QString cpufreq = roots.sys + QStringLiteral("/devices/system/cpu/cpu0/cpufreq/");
    const QByteArray governor = readWord(cpufreq + QStringLiteral("scaling_governor"));
    if (governor != "powersave")
        return false;
    // Under intel_pstate and amd-pstate-epp in active mode, "powersave" is the usual governor and still raises
    // the clock under load; there the energy preference says whether the processor holds back.
    const QByteArray driver = readWord(cpufreq + QStringLiteral("scaling_driver"));
    if (driver == "intel_pstate" || driver == "amd-pstate-epp")
        return readWord(cpufreq + QStringLiteral("energy_performance_preference")) == "power";
    return true;
}

QStringList SkewProbe::probe() const
{
    const QString statPath = roots.proc + QStringLiteral("/stat");
    const QString selfPath = roots.proc + QStringLiteral("/self/stat");
    const QByteArray statBefore = readSystemFile(statPath);
    const QByteArray selfBefore = readSystemFile(selfPath);
    if (sleep)
        sleep(window);
    else
        QThread::msleep(static_cast<unsigned long>(window.count()));
    const double others = otherCores(statBefore, selfBefore, readSystemFile(statPath), readSystemFile(selfPath));

    QStringList found;
    if (others > kBusyCores)
        found << QStringLiteral("busy");
    if (onBattery())
        found << QStringLiteral("battery");
    if (powerSaving())
        found << QStringLiteral("powersave");
    return found;
}

} // namespace ostrel::machine

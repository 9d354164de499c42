// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/machine/SkewProbe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrel::machine;
using namespace std::chrono_literals;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// /proc/stat of a 4-CPU machine: aggregate user nice system idle iowait irq softirq steal guest guest_nice.
QByteArray stat(quint64 user, quint64 system, quint64 idle)
{
    QByteArray text = "cpu  " + QByteArray::number(user) + " 0 " + QByteArray::number(system) + " "
        + QByteArray::number(idle) + " 0 0 0 0 0 0\n";
    for (int cpu = 0; cpu < 4; ++cpu)
        text += "cpu" + QByteArray::number(cpu) + " 0 0 0 0 0 0 0 0 0 0\n";
    return text + "intr 0\nctxt 0\n";
}

QByteArray selfStat(quint64 utime, quint64 stime, const QByteArray& command = "ostrel")
{
    return "4242 (" + command + ") S 1 4242 4242 0 -1 4194304 100 0 0 0 " + QByteArray::number(utime) + " "
        + QByteArray::number(stime) + " 0 0 20 0 3 0 100 1000 200\n";
}

} // namespace

TEST(SkewProbe, OtherProcessesCoresLessThisProcess)
{
    // 200 ticks pass over 4 CPUs: a window of 50 ticks per CPU.
    const QByteArray statBefore = stat(100, 0, 100);
    const QByteArray selfBefore = selfStat(40, 5);
    const struct
    {
        QByteArray statAfter;
        QByteArray selfAfter;
        double cores;
    } rows[] = {
        // 30 ticks busy, 10 of them ours: others used 20 of 50 ticks.
        { stat(120, 10, 270), selfStat(50, 5), 0.4 },
        // All the work was ours.
        { stat(115, 5, 280), selfStat(55, 10), 0.0 },
        // Idle machine.
        { stat(100, 0, 300), selfStat(40, 5), 0.0 },
        // Just above a tenth of a core: 6 of 50 ticks.
        { stat(106, 0, 294), selfStat(40, 5), 0.12 },
    };
    for (const auto& row : rows)
        EXPECT_NEAR(SkewProbe::otherCores(statBefore, selfBefore, row.statAfter, row.selfAfter), row.cores, 1e-9)
            << row.statAfter.constData();

    // The command name may hold spaces and parentheses.
    EXPECT_NEAR(
        SkewProbe::otherCores(statBefore, selfStat(40, 5, "a (b) c"), stat(120, 10, 270), selfStat(50, 5, "a (b) c")),
        0.4, 1e-9);
    // Unusable readings.
    EXPECT_LT(SkewProbe::otherCores("", selfBefore, stat(120, 10, 270), selfStat(50, 5)), 0.0);
    EXPECT_LT(SkewProbe::otherCores(statBefore, "garbage", stat(120, 10, 270), selfStat(50, 5)), 0.0);
    EXPECT_LT(SkewProbe::otherCores(statBefore, selfBefore, statBefore, selfBefore), 0.0) << "no time passed";
}

TEST(SkewProbe, BatteryFromPowerSupplies)
{
    struct Supply
    {
        const char* name;
        const char* type;
        const char* status;
        const char* online;
        const char* scope;
    };
    const struct
    {
        const char* what;
        std::vector<Supply> supplies;
        bool onBattery;
    } cases[] = {
        { "discharging battery", { { "BAT0", "Battery", "Discharging", nullptr, nullptr } }, true },
        { "charging on mains",
          { { "AC", "Mains", nullptr, "1", nullptr }, { "BAT0", "Battery", "Charging", nullptr, nullptr } },
          false },
        { "mains offline, battery not reporting discharge",
          { { "AC", "Mains", nullptr, "0", nullptr }, { "BAT0", "Battery", "Unknown", nullptr, nullptr } },
          true },
        { "a mouse's battery",
          { { "AC", "Mains", nullptr, "1", nullptr },
            { "hidpp_battery_0", "Battery", "Discharging", nullptr, "Device" } },
          false },
        { "desktop without battery", { { "AC", "Mains", nullptr, "0", nullptr } }, false },
        { "full battery, no mains supply listed", { { "BAT0", "Battery", "Full", nullptr, nullptr } }, false },
        { "no supplies", {}, false },
    };
    for (const auto& c : cases) {
        QTemporaryDir root;
        SkewProbe probe;
        probe.roots.sys = root.path();
        for (const Supply& supply : c.supplies) {
            const QString base
                = root.path() + QStringLiteral("/class/power_supply/") + QLatin1String(supply.name) + "/";
            writeFile(base + "type", QByteArray(supply.type) + "\n");
            if (supply.status)
                writeFile(base + "status", QByteArray(supply.status) + "\n");
            if (supply.online)
                writeFile(base + "online", QByteArray(supply.online) + "\n");
            if (supply.scope)
                writeFile(base + "scope", QByteArray(supply.scope) + "\n");
        }
        EXPECT_EQ(probe.onBattery(), c.onBattery) << c.what;
    }
}

TEST(SkewProbe, PowerSavingGovernor)
{
    const struct
    {
        const char* governor;
        const char* driver;
        const char* preference;
        bool powerSaving;
    } cases[] = {
        { "powersave", "acpi-cpufreq", nullptr, true },
        { "performance", "acpi-cpufreq", nullptr, false },
        { "schedutil", "cppc_cpufreq", nullptr, false },
        // intel_pstate's usual governor still boosts under load unless the energy preference holds it back.
        { "powersave", "intel_pstate", "balance_performance", false },
        { "powersave", "intel_pstate", "power", true },
        { "powersave", "amd-pstate-epp", "power", true },
        { nullptr, nullptr, nullptr, false },
    };
    for (const auto& c : cases) {
        QTemporaryDir root;
        SkewProbe probe;
        probe.roots.sys = root.path();
        const QString cpufreq = root.path() + QStringLiteral("/devices/system/cpu/cpu0/cpufreq/");
        if (c.governor)
            writeFile(cpufreq + "scaling_governor", QByteArray(c.governor) + "\n");
        if (c.driver)
            writeFile(cpufreq + "scaling_driver", QByteArray(c.driver) + "\n");
        if (c.preference)
            writeFile(cpufreq + "energy_performance_preference", QByteArray(c.preference) + "\n");
        EXPECT_EQ(probe.powerSaving(), c.powerSaving)
            << (c.governor ? c.governor : "none") << " " << (c.driver ? c.driver : "");
    }
}

TEST(SkewProbe, ProbeMeasuresAcrossItsWindowAndReportsEveryCondition)
{
    QTemporaryDir root;
    SkewProbe probe;
    probe.roots.proc = root.filePath(QStringLiteral("proc"));
    probe.roots.sys = root.filePath(QStringLiteral("sys"));
    writeFile(probe.roots.proc + "/stat", stat(100, 0, 100));
    writeFile(probe.roots.proc + "/self/stat", selfStat(40, 5));
    writeFile(probe.roots.sys + "/class/power_supply/BAT0/type", "Battery\n");
    writeFile(probe.roots.sys + "/class/power_supply/BAT0/status", "Discharging\n");
    writeFile(probe.roots.sys + "/devices/system/cpu/cpu0/cpufreq/scaling_governor", "powersave\n");

    std::vector<std::chrono::milliseconds> waits;
    probe.sleep = [&](std::chrono::milliseconds wait) {
        waits.push_back(wait);
        writeFile(probe.roots.proc + "/stat", stat(120, 10, 270));
        writeFile(probe.roots.proc + "/self/stat", selfStat(50, 5));
    };
    EXPECT_EQ(probe.probe(), (QStringList { "busy", "battery", "powersave" }));
    EXPECT_EQ(waits, std::vector<std::chrono::milliseconds> { 500ms });

    // A quiet machine on mains with another governor.
    writeFile(probe.roots.sys + "/class/power_supply/BAT0/status", "Charging\n");
    writeFile(probe.roots.sys + "/devices/system/cpu/cpu0/cpufreq/scaling_governor", "schedutil\n");
    probe.sleep = [&](std::chrono::milliseconds) {
        writeFile(probe.roots.proc + "/stat", stat(121, 10, 469));
        writeFile(probe.roots.proc + "/self/stat", selfStat(51, 5));
    };
    EXPECT_EQ(probe.probe(), QStringList());
}

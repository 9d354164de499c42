// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/machine/Interference.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrel::machine;

namespace {

void writeFile(const QString& path, const QByteArray& text)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(Interference, ReadsTheKernelsCountersAndLeavesMissingOnesEmpty)
{
    QTemporaryDir root;
    const SystemRoots roots { root.filePath("proc"), root.filePath("sys"), root.filePath("etc") };
    const InterferenceCounters none = readInterferenceCounters(1.0, 0, roots);
    EXPECT_FALSE(none.cpuWaitMicros || none.stealTicks || none.frequencyKHz || none.throttleEvents);
    EXPECT_TRUE(none.involuntarySwitches); // getrusage always answers

    writeFile(roots.proc + "/pressure/cpu",
              "some avg10=85.00 avg60=8.08 avg300=13.47 total=6395854090\n"
              "full avg10=0.00 avg60=0.00 avg300=0.00 total=0\n");
    writeFile(roots.proc + "/stat",
              "cpu  1758114 101604 221497 736549 8322 0 7076 3580 0 0\n"
              "cpu0 879057 50802 110748 368274 4161 0 3538 1790 0 0\n"
              "cpu1 879057 50802 110749 368275 4161 0 3538 1790 0 0\nintr 1 2 3\n");
    const QString cpu1 = roots.sys + "/devices/system/cpu/cpu1/";
    writeFile(cpu1 + "cpufreq/scaling_cur_freq", "2400000\n");
    writeFile(cpu1 + "cpufreq/cpuinfo_max_freq", "3000000\n");
    writeFile(cpu1 + "thermal_throttle/core_throttle_count", "3\n");
    writeFile(roots.sys + "/devices/system/cpu/cpu0/thermal_throttle/package_throttle_count", "4\n");
    const InterferenceCounters read = readInterferenceCounters(2.0, 1, roots);
    EXPECT_EQ(read.cpuWaitMicros, 6395854090.0);
    EXPECT_EQ(read.stealTicks, 3580.0);
    EXPECT_EQ(read.cpus, 2);
    EXPECT_EQ(read.frequencyKHz, 2400000.0);
    EXPECT_EQ(read.maxFrequencyKHz, 3000000.0);
    EXPECT_EQ(read.throttleEvents, 7);
    // Another CPU's frequency is not this thread's.
    EXPECT_FALSE(readInterferenceCounters(2.0, 0, roots).frequencyKHz);

    EXPECT_FALSE(cpuSomeTotal("full avg10=0.00 total=5\n"));
    EXPECT_FALSE(stealTicksOf("cpu  1 2 3 4\n", nullptr)); // no per-CPU lines, too few columns
}

TEST(Interference, SharesOfTheTestsTimeAndWhenATestIsDisturbed)
{
    auto counters = [](double at, double waitMicros, double steal, double freq, long switches) {
        InterferenceCounters c;
        c.at = at;
        c.cpuWaitMicros = waitMicros;
        c.stealTicks = steal;
        c.cpus = 2;
        c.involuntarySwitches = switches;
        c.frequencyKHz = freq;
        c.maxFrequencyKHz = 3000000;
        return c;
    };
    struct Case
    {
        const char* what;
        InterferenceCounters start, end;
        double cpuWait, steal, frequency;
        const char* line;
    };
    const Case cases[] = {
        { "quiet", counters(10, 0, 0, 3000000, 5), counters(14, 40000, 20, 3000000, 9), 0.01, 0.025, 1.0, "" },
        { "waited 23 %", counters(10, 0, 0, 3000000, 5), counters(14, 920000, 0, 3000000, 9), 0.23, 0, 1.0,
          "干扰：浮点运算 等待处理器 23%" },
        { "exactly at the limits", counters(0, 0, 0, 2700000, 0), counters(10, 1000000, 200, 2700000, 0), 0.1, 0.1, 0.9,
          "" },
        { "stolen and slowed", counters(0, 0, 0, 2400000, 0), counters(10, 0, 300, 2400000, 0), 0, 0.15, 0.8,
          "干扰：浮点运算 宿主占用 15%，频率 80%" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Interference i = interferenceBetween(c.start, c.end, 100);
        EXPECT_NEAR(*i.cpuWait, c.cpuWait, 1e-9);
        EXPECT_NEAR(*i.steal, c.steal, 1e-9);
        EXPECT_NEAR(*i.frequency, c.frequency, 1e-9);
        EXPECT_EQ(i.involuntarySwitches, c.end.involuntarySwitches.value() - c.start.involuntarySwitches.value());
        EXPECT_EQ(i.disturbed(), *c.line != 0);
        EXPECT_EQ(interferenceLine(QStringLiteral("浮点运算"), i), QString::fromUtf8(c.line));
    }

    // Missing counters give no figure and never make a test disturbed.
    InterferenceCounters bare;
    bare.at = 1;
    InterferenceCounters later = bare;
    later.at = 5;
    const Interference none = interferenceBetween(bare, later);
    EXPECT_EQ(none, Interference {});
    EXPECT_FALSE(none.disturbed());
    // A span that is not positive gives no share.
    EXPECT_FALSE(interferenceBetween(counters(5, 0, 0, 1, 0), counters(5, 10, 10, 1, 0)).cpuWait);
}

} // namespace

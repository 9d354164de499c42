// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ostrel/extended/bandwidth/MemoryBandwidthResult.h"
#include "ostrel/extended/disk/DiskResult.h"
#include "ostrel/extended/latency/testing/FakeLatencyTest.h"
#include "ostrel/extended/multicore/Multicore.h"
#include "ostrel/history/RunRecord.h"

namespace ostrel::history::testing {

// 2026-12-08 13:20 in Shanghai: a time a run could have finished at.
inline constexpr double kSampleTime = 1796707200.0;

// A run with distinct, non-round values everywhere, so a field written to or read from the wrong place shows. Each
// elapsed time allows its score, as a real run's does.
inline RunRecord sampleRun(double finishedAt, double base = 80.0)
{
    RunRecord run;
    run.finishedAt = finishedAt;
    run.scores = { base + 0.125, base + 1.25, base - 2.5, base + 3.0000001, base - 0.75 };
    run.overall = base + 0.2450000002;
    const double slower = (80.0 - base) * 0.2;
    run.elapsed = { 3.9750000001 + slower, 3.74 + slower, 4.46 + slower, std::nullopt, 4.14 + slower };
    run.version = QStringLiteral("1.0.0");
    run.machine.cpuModel = QStringLiteral("Test CPU 9000, \"rev\" 2");
    run.machine.logicalCpus = 8;
    run.machine.memoryBytes = 16706064384;
    run.machine.kernel = QStringLiteral("6.1.0-99-amd64");
    run.machine.os = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
    run.machine.architecture = QStringLiteral("x86_64");
    run.machine.governor = QStringLiteral("schedutil");
    run.machine.fileSystem = QStringLiteral("ext4");
    run.conditions = QStringList { QStringLiteral("busy"), QStringLiteral("battery") };
    return run;
}

// The same run with every extended result, again with distinct values everywhere.
inline RunRecord sampleExtendedRun(double finishedAt, double base = 80.0)
{
    RunRecord run = sampleRun(finishedAt, base);
    MulticoreResult multicore;
    multicore.threads = 2;
    multicore.elapsed = { 4.0250000001, 3.91, 4.53 };
    multicore.speedup = { 1.9751, 1.9335, 1.9690000001 };
    multicore.overall = 1.9591;
    run.extended.set(QStringLiteral("multicore"), multicore);
    DiskResult disk;
    disk.folder = QStringLiteral("/srv/scratch, \"fast\"");
    disk.fileSystem = QStringLiteral("ext4");
    disk.direct = true;
    disk.fileBytes = 1073741824;
    disk.seqRead = { 2903.5, std::nullopt };
    disk.seqWrite = { 1187.25, std::nullopt };
    disk.randRead = { 74.125, 18096.75 };
    disk.randWrite = { 61.5, 15014.5 };
    run.extended.set(QStringLiteral("disk"), disk);
    run.extended.set(
        QStringLiteral("memoryBandwidth"),
        MemoryBandwidthResult {
            .threads = 2, .arrayBytes = 268435456, .reduced = false, .copyGbps = 12.75, .triadGbps = 13.5 });
    // Both curves, one point disturbed.
    run.extended.set(QStringLiteral("memoryLatency"), latency::testing::sampleResult());
    // The floating-point test disturbed; a figure the machine could not give left out.
    const auto figures
        = [](std::optional<double> cpuWait, std::optional<double> steal, std::optional<double> frequency) {
              machine::Interference interference;
              interference.cpuWait = cpuWait;
              interference.steal = steal;
              interference.frequency = frequency;
              return interference;
          };
    run.interference = {
        { QStringLiteral("int"), figures(0.0125, 0.0, 0.96875) },
        { QStringLiteral("double"), figures(0.5, 0.03125, 0.9375) },
        { QStringLiteral("pi"), figures(0.0375, 0.0, std::nullopt) },
        { QStringLiteral("memory"), figures(0.025, std::nullopt, std::nullopt) },
        { QStringLiteral("disk"), figures(0.0625, 0.0078125, std::nullopt) },
        { QStringLiteral("extended.multicore"), figures(0.09375, 0.0, std::nullopt) },
        { QStringLiteral("extended.disk"), figures(std::nullopt, 0.015625, std::nullopt) },
    };
    return run;
}

} // namespace ostrel::history::testing

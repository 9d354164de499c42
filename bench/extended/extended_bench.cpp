// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the multi-core test on this machine (its speed-up per workload,
// and the barrier and thread start against the copies' time) and the disk
// test (each fio job through Ostrel beside the same job run directly, taking
// turns, in the same folder). Run by hand:
// ostrel-extended-bench [repetitions] [--disk-folder DIR]
#include "ostrel/engine/BenchmarkRun.h"
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/extended/disk/FioDisk.h"
#include "ostrel/extended/disk/FioReport.h"
#include "ostrel/extended/multicore/Multicore.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

using Seconds = std::chrono::duration<double>;

class NoProgress final : public ostrel::ExtendedProgress
{
public:
    void showState(const QString&) override { }
    void showStep(std::size_t, const std::function<double()>&) override { }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void multicore(int repetitions)
{
    ostrel::MachineWorkloads workloads(QDir::tempPath(), QDir::tempPath());
    const platform::MonotonicClock clock;
    const std::atomic<bool> stop { false };
    const int threads = ostrel::usableCpuCount();
    const std::array<std::function<bool()>, 3> copies {
        [&] {
            for (int i = 0; i < 20; ++i)
                workloads.integerStep();
            return true;
        },
        [&] {
            for (int i = 0; i < 20; ++i)
                workloads.floatingPointStep(stop);
            return true;
        },
        [&] { return workloads.piComputation(stop); },
    };
    std::printf("Multi-core test, %d threads, %d repetitions (medians)\n", threads, repetitions);
    std::printf("  %-8s %10s %10s %9s\n", "workload", "T1 (s)", "TN (s)", "speed-up");
    double logSum = 0.0;
    double copiesSeconds = 0.0;
    for (std::size_t w = 0; w < copies.size(); ++w) {
        std::vector<double> single;
        std::vector<double> together;
        std::vector<double> speedups;
        for (int r = 0; r < repetitions; ++r) {
            single.push_back(*ostrel::timeCopies(1, clock, copies[w]));
            together.push_back(*ostrel::timeCopies(threads, clock, copies[w]));
            speedups.push_back(threads * single.back() / together.back());
        }
        const double speedup = median(speedups);
        logSum += std::log(speedup);
        copiesSeconds += median(together);
        std::printf("  %-8s %10.3f %10.3f %9.3f\n", ostrel::kMulticoreWorkloads[w], median(single), median(together),
                    speedup);
    }
    std::printf("  overall (geometric mean) %.3f\n", std::exp(logSum / 3.0));

    // Empty copies: what the barrier and the threads cost by themselves.
    std::vector<double> timedSpan;
    std::vector<double> wholeCall;
    for (int r = 0; r < 200; ++r) {
        const double start = clock.now();
        timedSpan.push_back(*ostrel::timeCopies(threads, clock, [] { return true; }));
        wholeCall.push_back(clock.now() - start);
    }
    std::printf("  empty copies: timed span (release to last end) %.1f µs, whole call (thread start, barrier, join) "
                "%.1f µs\n",
                median(timedSpan) * 1e6, median(wholeCall) * 1e6);
    std::printf("  against the copies' time of %.2f s: timed overhead %.2e, untimed %.2e of it\n", copiesSeconds,
                median(timedSpan) * 3 / copiesSeconds, median(wholeCall) * 3 / copiesSeconds);
}

// The job run with fio directly, its report read the way Ostrel reads it.
std::optional<double> directFio(std::size_t job, const QString& file, qint64 bytes)
{
    QProcess fio;
    fio.start(QStringLiteral("fio"),
              ostrel::disk::fioJobArguments(job, file, bytes, true, std::chrono::milliseconds(5000),
                                            std::chrono::milliseconds(1000)));
    if (!fio.waitForFinished(600000) || fio.exitCode() != 0)
        return std::nullopt;
    const ostrel::disk::FioReading reading = ostrel::disk::readFioReport(fio.readAllStandardOutput());
    if (!reading.report)
        return std::nullopt;
    const ostrel::disk::FioJobReport& report = reading.report->jobs.constFirst();
    const bool reads = job == 0 || job == 2;
    return (reads ? report.readBytesPerSecond : report.writeBytesPerSecond) / 1e6;
}

// Ostrel's run and the direct jobs take turns, so that a disk whose speed drifts (a virtual disk shared with other
// machines) drifts under both alike; the medians of each side and of the ratios of each turn are shown.
void disk(const QString& folder, int repetitions)
{
    std::printf(
        "\nDisk test in %s: Ostrel's run, then the same four fio jobs run directly, %d times in turn (medians)\n",
        qPrintable(folder), repetitions);
    const QString file = QDir(folder).filePath(QStringLiteral("ostrel-bench-direct.tmp"));
    const std::size_t jobs = ostrel::kDiskJobs.size();
    std::vector<std::vector<double>> mine(jobs), theirs(jobs), ratios(jobs);
    std::optional<ostrel::DiskResult> first;
    for (int r = 0; r < repetitions; ++r) {
        std::atomic<bool> stop { false };
        NoProgress none;
        const ostrel::ExtendedResult<ostrel::DiskResult> ours
            = ostrel::disk::FioDisk({ folder }).run(ostrel::FinishedRun {}, stop, none);
        if (!ours) {
            std::printf("  Ostrel's disk test gave no result: %s\n", qPrintable(ours.error().message));
            return;
        }
        if (!first)
            first = ours.value();
        for (std::size_t job = 0; job < jobs; ++job) {
            const double our = (ours.value().*ostrel::kDiskJobs[job].result).mbps;
            const std::optional<double> direct = directFio(job, file, ours->fileBytes);
            if (!direct) {
                std::printf("  %s run directly failed\n", ostrel::kDiskJobs[job].key);
                ::unlink(QFile::encodeName(file).constData());
                return;
            }
            mine[job].push_back(our);
            theirs[job].push_back(*direct);
            ratios[job].push_back(our / *direct);
        }
        ::unlink(QFile::encodeName(file).constData());
    }
    std::printf("  file %lld MiB, %s, %s\n", first->fileBytes >> 20, qPrintable(first->fileSystem),
                first->direct ? "direct" : "buffered");
    std::printf("  %-10s %14s %14s %7s  %s\n", "job", "Ostrel MB/s", "fio MB/s", "ratio",
                "ratios of each turn; fio's own lowest-highest");
    for (std::size_t job = 0; job < jobs; ++job) {
        QStringList each;
        for (double ratio : ratios[job])
            each << QString::number(ratio, 'f', 3);
        const auto [low, high] = std::minmax_element(theirs[job].begin(), theirs[job].end());
        std::printf("  %-10s %14.1f %14.1f %7.3f  %s; %.1f-%.1f\n", ostrel::kDiskJobs[job].key, median(mine[job]),
                    median(theirs[job]), median(ratios[job]), qPrintable(each.join(QLatin1Char(' '))), *low, *high);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QString folder = QDir::currentPath();
    if (const qsizetype at = arguments.indexOf(QStringLiteral("--disk-folder")); at >= 0 && at + 1 < arguments.size()) {
        folder = arguments[at + 1];
        arguments.remove(at, 2);
    }
    const int repetitions = arguments.isEmpty() ? 3 : std::max(1, arguments.constFirst().toInt());
    multicore(repetitions);
    disk(folder, repetitions);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The disk test on this machine: each fio job through Ostrel beside the same job run directly, taking turns, in the
// same folder. Part of ostrel-extended-bench, run by hand.
#include "ostrel/engine/FiveTests.h"
#include "ostrel/extended/ExtendedBench.h"
#include "ostrel/extended/disk/FioDisk.h"
#include "ostrel/extended/disk/FioReport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <chrono>
#include <cstdio>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

using ostrel::bench::median;

class NoProgress final : public ostrel::ExtendedProgress
{
public:
    void showState(const QString&) override { }
    void showStep(std::size_t, const std::function<double()>&) override { }
};

// The job run with fio directly, its report read the way Ostrel reads it.
std::optional<double> directFio(std::size_t job, const QString& file, qint64 bytes)
{
    QProcess fio;
    fio.start(QStringLiteral("fio"),
              ostrel::disk::fioJobArguments(job, file, bytes, true, std::chrono::milliseconds(5000),
                                            std::chrono::milliseconds(1000)));
    if (!fio.waitForFinished(600000) || fio.exitCode() != 0)
        return std::nullopt;
    const auto reading = ostrel::disk::readFioReport(fio.readAllStandardOutput());
    if (!reading)
        return std::nullopt;
    const ostrel::disk::FioJobReport& report = reading->jobs.constFirst();
    const bool reads = job == 0 || job == 2;
    return (reads ? report.readBytesPerSecond : report.writeBytesPerSecond) / 1e6;
}

// Ostrel's run and the direct jobs take turns, so that a disk whose speed drifts (a virtual disk shared with other
// machines) drifts under both alike; the medians of each side and of the ratios of each turn are shown.
void disk(const ostrel::bench::BenchOptions& options)
{
    const QString& folder = options.folder;
    const int repetitions = options.repetitions;
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

const ostrel::bench::ExtendedBench registered("disk", disk);

} // namespace

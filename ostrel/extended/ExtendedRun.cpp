// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/ExtendedRun.h"

#include "ostrel/engine/BenchmarkRun.h"
#include "ostrel/engine/Multicore.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "platform/BarHolder.h"

namespace ostrel {

namespace {

// Three multi-core workloads, then four disk jobs, on one bar from 0 to 100.
constexpr double kPhases = double(kMulticoreWorkloads.size() + kDiskJobs.size());
constexpr int kStepsPerTest = 20;

// The names of the disk jobs in the disk line.
constexpr std::array<const char16_t*, 4> kDiskJobShortTitles { u"顺序读", u"顺序写", u"随机读", u"随机写" };

const TestKind& testKind(std::size_t workload)
{
    // kMulticoreWorkloads are the first three tests, in the same order.
    return kTestKinds[workload];
}

QString rate(double value)
{
    return QString::number(value, 'f', value < 10.0 ? 1 : 0);
}

QString seconds(double value)
{
    return QString::number(value, 'f', 2);
}

} // namespace

ExtendedPanel::ExtendedPanel()
{
    resetExtendedPanel(*this);
}

void resetExtendedPanel(ExtendedPanel& shown)
{
    for (platform::TextHolder* holder :
         { &shown.multicore, &shown.multicoreDetails, &shown.disk, &shown.diskDetails }) {
        holder->setHidden(true);
        holder->setText(QString());
    }
}

QString multicoreLine(const MulticoreResult& result)
{
    return QStringLiteral("多核：%1 线程，加速 %2 倍").arg(result.threads).arg(result.overall, 0, 'f', 2);
}

QString multicoreDetails(const MulticoreResult& result, const std::array<double, 3>& singleElapsed)
{
    QStringList lines;
    for (std::size_t i = 0; i < kMulticoreWorkloads.size(); ++i) {
        lines << QStringLiteral("%1：%2 线程 %3 秒，单线程 %4 秒，加速 %5 倍")
                     .arg(QString::fromUtf16(testKind(i).title))
                     .arg(result.threads)
                     .arg(seconds(result.elapsed[i]), seconds(singleElapsed[i]))
                     .arg(result.speedup[i], 0, 'f', 2);
    }
    return lines.join(QLatin1Char('\n'));
}

QString diskLine(const DiskResult& result)
{
    QStringList jobs;
    for (std::size_t i = 0; i < kDiskJobs.size(); ++i) {
        const DiskJobResult& job = result.*kDiskJobs[i].result;
        const QString title = QString::fromUtf16(kDiskJobShortTitles[i]);
        if (kDiskJobs[i].random)
            jobs << QStringLiteral("%1 %2 IOPS（%3 MB/s）").arg(title, rate(job.iops.value_or(0.0)), rate(job.mbps));
        else
            jobs << QStringLiteral("%1 %2 MB/s").arg(title, rate(job.mbps));
    }
    QString line = QStringLiteral("磁盘：") + jobs.join(QStringLiteral("，"));
    if (!result.direct)
        line += QStringLiteral("，经过缓存");
    return line;
}

QString diskDetails(const DiskResult& result)
{
    QStringList lines {
        QStringLiteral("文件夹：%1").arg(result.folder),
        QStringLiteral("文件系统：%1").arg(result.fileSystem.isEmpty() ? QStringLiteral("未知") : result.fileSystem),
        QStringLiteral("测试文件：%1 MiB").arg(result.fileBytes / (1024 * 1024)),
        result.direct ? QStringLiteral("直接读写，不经过缓存") : QStringLiteral("经过缓存：文件系统不支持直接读写"),
    };
    return lines.join(QLatin1Char('\n'));
}

QString diskProblemLine(const QString& problem)
{
    return QStringLiteral("磁盘：未能测试，") + problem;
}

ExtendedOutcome runExtendedTests(const ExtendedTests& tests, FinishedRun& finished)
{
    ExtendedOutcome outcome;
    RunControl& control = tests.control;
    Panel& panel = tests.panel;
    const QString endState = panel.testingState.text();
    const auto showProgress = [&](double phase, double fraction) {
        control.write([&] { panel.testingProgress.setValue(100.0 * (phase + std::min(fraction, 1.0)) / kPhases); });
    };
    const auto showState
        = [&](const QString& state) { return control.write([&] { panel.testingState.setText(state); }); };

    if (!control.write([&] { panel.testingProgress.setValue(0.0); }))
        return outcome;

    const std::array<double, 3> single { finished.elapsed[0], finished.elapsed[1], finished.elapsed[2] };
    const double stepsPerWorkload = double(kStepsPerTest * tests.threads);
    std::array<int, 3> steps {};
    const std::optional<MulticoreResult> multicore = runMulticore(
        tests.workloads, tests.threads, tests.stopwatch, control.stopFlag(), single,
        [&](std::size_t workload) {
            showState(QStringLiteral("正在测试 多核 ") + QString::fromUtf16(testKind(workload).title));
            showProgress(double(workload), 0.0);
        },
        [&](std::size_t workload) {
            // Pi has one step a copy; the others twenty.
            const double total = workload == 2 ? double(tests.threads) : stepsPerWorkload;
            // Counted inside the gate, so that the copies' writes never take the bar back.
            control.write([&] {
                const double fraction = std::min(++steps[workload] / total, 1.0);
                panel.testingProgress.setValue(100.0 * (double(workload) + fraction) / kPhases);
            });
        });
    if (!multicore)
        return outcome;
    finished.multicore = multicore;
    if (!control.write([&] {
            tests.shown.multicore.setText(multicoreLine(*multicore));
            tests.shown.multicoreDetails.setText(multicoreDetails(*multicore, single));
            tests.shown.multicore.setHidden(false);
        }))
        return outcome;

    if (tests.disk) {
        const double firstDiskPhase = double(kMulticoreWorkloads.size());
        std::size_t shownJob = kDiskJobs.size();
        const DiskTest::Outcome disk = tests.disk->run(control.stopFlag(), [&](std::size_t job, double fraction) {
            if (job != shownJob) {
                shownJob = job;
                showState(QStringLiteral("正在测试 磁盘 ") + QString::fromUtf16(kDiskJobs[job].title));
            }
            showProgress(firstDiskPhase + double(job), fraction);
        });
        if (control.stopRequested())
            return outcome;
        finished.disk = disk.result;
        const bool shown = control.write([&] {
            if (disk.result) {
                tests.shown.disk.setText(diskLine(*disk.result));
                tests.shown.diskDetails.setText(diskDetails(*disk.result));
            } else {
                tests.shown.disk.setText(diskProblemLine(disk.problem));
                tests.shown.diskDetails.setText(QString());
            }
            tests.shown.disk.setHidden(false);
        });
        if (!shown)
            return outcome;
        if (!disk.result)
            outcome.problems << diskProblemLine(disk.problem);
    }
    control.write([&] {
        panel.testingProgress.setValue(100.0);
        panel.testingState.setText(endState);
    });
    return outcome;
}

} // namespace ostrel

// SPDX-License-Identifier: GPL-3.0-or-later
// ostrel-cli: one complete benchmark in the terminal, with the engine and the
// saved results of the Ostrel window.
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/cli/TerminalView.h"
#include "ostrel/engine/BenchmarkRun.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/RunLock.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/ExtendedRun.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/RunKeeper.h"
#include "ostrel/history/RunStatistics.h"
#include "platform/Clock.h"
#include "platform/StopSignals.h"
#include "platform/UserDefaults.h"
#include "platform/Version.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QThread>
#include <cstdio>
#include <unistd.h>

namespace {

// The benchmark, options.runs times back to back, each run saved and kept in
// the history; with more than one, how the scores spread.
int runBenchmarks(QCoreApplication& app, const ostrel::cli::Options& options, const QString& program)
{
    using ostrel::BenchmarkRun;

    // Held until every run is over, so nothing of another benchmark comes
    // between them; the kernel drops it if this process dies.
    ostrel::RunLock lock;
    if (!lock.tryLock()) {
        if (lock.errorText().isEmpty()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(ostrel::cli::busyMessage(lock.holder())));
            return ostrel::cli::kExitBusy;
        }
        // A lock that cannot be made must not cost the user the benchmark.
        std::fprintf(stderr, "%s: the run lock could not be taken, so another benchmark may run at the same time: %s\n",
                     qPrintable(program), qPrintable(lock.errorText()));
    }

    // With --json, standard output carries the JSON alone.
    std::FILE* out = options.json ? stderr : stdout;
    const bool interactive = ::isatty(::fileno(out)) != 0;

    ostrel::Panel panel;
    platform::UserDefaults defaults(platform::UserDefaults::pathFor(ostrel::saved::kApplication));
    ostrel::saved::registerFallbacks(defaults);
    if (const QString problem = defaults.readProblem(); !problem.isEmpty()) {
        std::fprintf(stderr, "%s: the saved results could not be read from %s: %s\n", qPrintable(program),
                     qPrintable(defaults.fileName()), qPrintable(problem));
    }
    ostrel::MachineWorkloads workloads = ostrel::MachineWorkloads::forThisApplication();
    // What runs that were killed left behind: with the lock held, no run of
    // this user's is using it.
    if (lock.isLocked())
        ostrel::removeExtendedLeftovers(workloads.scratchFolder(), options.diskFolder, lock.lockedAt());
    ostrel::RunControl control;
    const platform::MonotonicClock stopwatch;
    const platform::WallClock wallClock;
    ostrel::history::RunKeeper keeper(ostrel::history::HistoryStore::defaultPath());

    ostrel::resetForRun(panel);
    ostrel::cli::TerminalView view(panel, out, interactive);
    ostrel::ExtendedPanel extendedPanel;
    view.showExtended(extendedPanel);
    std::vector<ostrel::PlannedTest> extendedTests;
    if (options.extended) {
        extendedTests = ostrel::planExtendedTests(
            { workloads, stopwatch, ostrel::usableCpuCount(),
              options.diskFolder.isEmpty() ? workloads.scratchFolder() : options.diskFolder });
    }

    if (!platform::StopSignals::watch()) {
        std::perror("ostrel-cli: signals");
        return 1;
    }
    // Ctrl-C or SIGTERM asks the run to stop, from the event loop, where that is safe; a second one ends the
    // process at once.
    QSocketNotifier stopSignal(platform::StopSignals::descriptor(), QSocketNotifier::Read);
    QObject::connect(&stopSignal, &QSocketNotifier::activated, &app, [&] {
        stopSignal.setEnabled(false);
        control.requestStop();
    });

    // The worker hands each line to the main thread and waits until it is
    // out, so it lands between the view's own lines in order.
    auto onMainThread = [&](const std::function<void()>& call) {
        QMetaObject::invokeMethod(&view, call, Qt::BlockingQueuedConnection);
    };

    bool stopped = false;
    bool problems = false;
    QList<ostrel::history::RunRecord> records;
    QJsonObject lastReport;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        for (int n = 1; n <= options.runs && !control.stopRequested(); ++n) {
            if (options.runs > 1)
                onMainThread(
                    [&] { view.printNote(QStringLiteral("第 %1 次测试，共 %2 次").arg(n).arg(options.runs), out); });
            if (n > 1)
                control.write([&] { panel.testingProgress.setValue(0.0); });
            // Just before the run: what could make its scores low.
            keeper.prepare(workloads.scratchFolder());
            for (const QString& condition : keeper.conditionTexts())
                onMainThread([&] { view.printNote(condition, stderr); });

            ostrel::ExtendedOutcome extended;
            std::function<void(ostrel::FinishedRun&)> extend;
            if (options.extended) {
                ostrel::resetExtendedPanel(extendedPanel);
                extend = [&](ostrel::FinishedRun& finished) {
                    extended = ostrel::runExtendedTests({ panel, extendedPanel, control, extendedTests }, finished);
                };
            }
            BenchmarkRun run({ panel,
                               defaults,
                               workloads,
                               control,
                               stopwatch,
                               wallClock,
                               {},
                               [&](const ostrel::FinishedRun& finished) { return keeper.keep(finished); },
                               extend,
                               [&](const ostrel::FinishedRun& finished) { return keeper.keepExtended(finished); } });
            const bool finished = run.run() == BenchmarkRun::Outcome::Finished;
            const BenchmarkRun::Problems& found = run.problems();
            ostrel::cli::RunEnd end = ostrel::cli::runEnd(finished, found.failedStage, found.saveError,
                                                          defaults.fileName(), found.unkept, keeper.historyPath());
            if (finished && !extended.problems.isEmpty()) {
                end.messages << extended.problems;
                end.exitStatus = ostrel::cli::kExitProblem;
            }
            onMainThread([&] {
                if (finished)
                    view.printSummary();
                else
                    view.printStopped();
                for (const QString& message : end.messages)
                    std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(message));
            });
            problems = problems || !end.messages.isEmpty();
            if (!finished) {
                stopped = true;
                break;
            }
            records << keeper.lastKept();
            // The time this run finished at, also when it could not be saved.
            lastReport = ostrel::cli::runReport(panel, keeper.lastKept().finishedAt);
            lastReport.insert(QStringLiteral("problems"), QJsonArray::fromStringList(end.messages));
            ostrel::history::insertExtended(lastReport, keeper.lastKept().extended);
        }
    }));
    QObject::connect(worker.get(), &QThread::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    worker->start();
    app.exec();
    worker->wait();

    // The latest run that finished, even when a later one of --runs was stopped.
    if (!options.prometheusFile.isEmpty() && !records.isEmpty()) {
        const ostrel::cli::Streams streams { out, stderr, program };
        problems
            = ostrel::cli::writePrometheus(records.last(), options.prometheusFile, streams) != ostrel::cli::kExitSuccess
            || problems;
    }
    if (stopped)
        return ostrel::cli::kExitStopped;
    if (options.runs > 1) {
        const ostrel::history::RunsSummary summary = ostrel::history::summarizeRuns(records);
        view.printNote(ostrel::cli::summaryText(summary), out);
        if (options.json) {
            const QJsonObject report { { QStringLiteral("runs"), ostrel::history::runsToJson(records) },
                                       { QStringLiteral("summary"), ostrel::history::summaryToJson(summary) } };
            std::fputs(QJsonDocument(report).toJson().constData(), stdout);
        }
    } else if (options.json) {
        std::fputs(QJsonDocument(lastReport).toJson().constData(), stdout);
    }
    return problems ? ostrel::cli::kExitProblem : ostrel::cli::kExitSuccess;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The same name as the window's: one store, one cache folder.
    QCoreApplication::setApplicationName(ostrel::saved::kApplication);

    const QString program = QStringLiteral("ostrel-cli");
    const ostrel::cli::Options options = ostrel::cli::parseArguments(app.arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", qPrintable(program), qPrintable(options.error),
                     qPrintable(program));
        return ostrel::cli::kExitBadArguments;
    }
    if (options.help) {
        std::fputs(ostrel::cli::usage(program).toUtf8().constData(), stdout);
        return ostrel::cli::kExitSuccess;
    }
    if (options.version) {
        std::printf("%s %s\n", qPrintable(program), platform::kVersion);
        return ostrel::cli::kExitSuccess;
    }

    using Mode = ostrel::cli::Options::Mode;
    const ostrel::cli::Streams streams { stdout, stderr, program };
    ostrel::history::HistoryStore store(ostrel::history::HistoryStore::defaultPath());
    switch (options.mode) {
    case Mode::History: {
        using Format = ostrel::cli::HistoryFormat;
        const Format format = options.json ? Format::Json : options.csv ? Format::Csv : Format::Text;
        return ostrel::cli::printHistory(store, format, streams);
    }
    case Mode::Export:
        return ostrel::cli::exportRuns(store, options.file, options.all, streams);
    case Mode::Compare:
        return ostrel::cli::compareWithFile(store, options.file, streams);
    case Mode::Prometheus:
        return ostrel::cli::prometheusFromHistory(store, options.prometheusFile, streams);
    case Mode::Run:
        break;
    }
    return runBenchmarks(app, options, program);
}

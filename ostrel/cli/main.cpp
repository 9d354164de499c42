// SPDX-License-Identifier: GPL-3.0-or-later
// ostrel-cli: one complete benchmark in the terminal, with the engine and the
// saved results of the Ostrel window.
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/cli/TerminalView.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/ExtendedRun.h"
#include "ostrel/history/HistoryStore.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/RunStatistics.h"
#include "ostrel/history/SteadyRuns.h"
#include "ostrel/run/RunSession.h"
#include "platform/CheckedOutput.h"
#include "platform/Clock.h"
#include "platform/StopSignals.h"
#include "platform/UserDefaults.h"
#include "platform/Version.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

// The benchmark, options.runs times back to back, each run saved and kept in
// the history; with more than one, how the scores spread.
int runBenchmarks(QCoreApplication& app, const ostrel::cli::Options& options, const QString& program,
                  std::FILE* standardOutput)
{
    using ostrel::run::RunOutcome;
    using ostrel::run::RunProblem;

    auto tell
        = [&](const QString& message) { std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(message)); };

    ostrel::Panel panel;
    ostrel::ExtendedPanel extendedPanel;
    platform::UserDefaults defaults(platform::UserDefaults::pathFor(ostrel::saved::kApplication));
    ostrel::saved::registerFallbacks(defaults);
    const platform::MonotonicClock stopwatch;
    const platform::WallClock wallClock;
    // Holds the run lock until every run is over; the kernel drops it if
    // this process dies.
    auto opened = ostrel::run::RunSession::open({ .panel = panel,
                                                  .defaults = defaults,
                                                  .stopwatch = stopwatch,
                                                  .wallClock = wallClock,
                                                  .extendedPanel = options.extended ? &extendedPanel : nullptr,
                                                  .diskFolder = options.diskFolder });
    if (!opened) {
        tell(opened.error().message);
        return ostrel::cli::kExitBusy;
    }
    ostrel::run::RunSession& session = **opened;
    for (const RunProblem& warning : session.warnings())
        tell(warning.message);

    // With --json, standard output carries the JSON alone.
    std::FILE* out = options.json ? stderr : standardOutput;
    const bool interactive = ::isatty(::fileno(out)) != 0;

    ostrel::MachineWorkloads workloads = ostrel::MachineWorkloads::forThisApplication();
    ostrel::RunControl control;
    ostrel::resetForRun(panel);
    ostrel::cli::TerminalView view(panel, out, interactive);
    view.showExtended(extendedPanel);

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
    const ostrel::run::RunSession::Hooks hooks {
        .beforeRun =
            [&](int n) {
                if (options.untilSteady)
                    onMainThread([&] {
                        view.printNote(QStringLiteral("第 %1 次测试，最多 %2 次").arg(n).arg(options.runs), out);
                    });
                else if (options.runs > 1)
                    onMainThread([&] {
                        view.printNote(QStringLiteral("第 %1 次测试，共 %2 次").arg(n).arg(options.runs), out);
                    });
            },
        .conditionsFound =
            [&](const QStringList& conditions) {
                for (const QString& condition : conditions)
                    onMainThread([&] { view.printNote(condition, stderr); });
            },
        .disturbed = [&](const QString& line) { onMainThread([&] { view.printNote(line, stderr); }); },
        .afterRun =
            [&](const RunOutcome& outcome) {
                onMainThread([&] {
                    if (outcome.finished)
                        view.printSummary();
                    else
                        view.printStopped();
                    for (const QString& message : ostrel::run::messages(outcome.problems))
                        tell(message);
                });
            },
        .another = [&](const QList<RunOutcome>& done) -> bool {
            if (!options.untilSteady)
                return true;
            QList<ostrel::history::RunRecord> kept;
            for (const RunOutcome& outcome : done)
                kept << *outcome.record;
            return !ostrel::history::steadyState(kept, { .mostRuns = options.runs }).done;
        },
    };

    QList<RunOutcome> outcomes;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { outcomes = session.run(options.runs, workloads, control, hooks); }));
    QObject::connect(worker.get(), &QThread::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    worker->start();
    app.exec();
    worker->wait();

    bool stopped = false;
    bool problems = false;
    QList<ostrel::history::RunRecord> records;
    QJsonObject lastReport;
    for (const RunOutcome& outcome : outcomes) {
        const ostrel::cli::RunEnd end = ostrel::cli::runEnd(outcome);
        problems = problems || !end.messages.isEmpty();
        if (!outcome.finished) {
            stopped = true;
            break;
        }
        const ostrel::history::RunRecord& kept = *outcome.record;
        records << kept;
        // The time this run finished at, also when it could not be saved.
        lastReport = ostrel::cli::runReport(panel, kept.finishedAt);
        lastReport.insert(QStringLiteral("problems"), QJsonArray::fromStringList(end.messages));
        ostrel::history::insertExtended(lastReport, kept.extended);
        ostrel::history::insertInterference(lastReport, kept.interference);
    }

    // The latest run that finished, even when a later one of --runs was stopped.
    if (!options.prometheusFile.isEmpty() && !records.isEmpty()) {
        const ostrel::cli::Streams streams { out, stderr, program };
        problems
            = ostrel::cli::writePrometheus(records.last(), options.prometheusFile, streams) != ostrel::cli::kExitSuccess
            || problems;
    }
    // Repeated runs stopped by a Stop still report the runs that finished before it; a single one has shown and
    // saved its finished tests already.
    const bool repeated = options.untilSteady || options.runs > 1;
    if (stopped && (!repeated || records.isEmpty()))
        return ostrel::cli::kExitStopped;
    QJsonObject report = lastReport;
    if (options.untilSteady) {
        view.printNote(ostrel::cli::steadyText(records, options.runs), out);
        report = { { QStringLiteral("runs"), ostrel::history::runsToJson(records) },
                   { QStringLiteral("steady"), ostrel::cli::steadyToJson(records, options.runs) } };
    } else if (repeated) {
        const ostrel::history::RunsSummary summary = ostrel::history::summarizeRuns(records);
        view.printNote(ostrel::cli::summaryText(summary), out);
        report = { { QStringLiteral("runs"), ostrel::history::runsToJson(records) },
                   { QStringLiteral("summary"), ostrel::history::summaryToJson(summary) } };
    }
    if (stopped) {
        view.printNote(ostrel::cli::stoppedRunsText(int(records.size())), out);
        report.insert(QStringLiteral("stopped"), true);
    }
    if (options.json)
        std::fputs(QJsonDocument(report).toJson().constData(), standardOutput);
    if (stopped)
        return ostrel::cli::kExitStopped;
    return problems ? ostrel::cli::kExitProblem : ostrel::cli::kExitSuccess;
}

// What the command line asks for, printed to `out`; the exit status.
int carryOut(QCoreApplication& app, const ostrel::cli::Options& options, const QString& program, std::FILE* out)
{
    if (options.help) {
        std::fputs(ostrel::cli::usage(program).toUtf8().constData(), out);
        return ostrel::cli::kExitSuccess;
    }
    if (options.version) {
        std::fprintf(out, "%s %s\n", qPrintable(program), platform::kVersion);
        return ostrel::cli::kExitSuccess;
    }

    using Mode = ostrel::cli::Options::Mode;
    const ostrel::cli::Streams streams { out, stderr, program };
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
    return runBenchmarks(app, options, program, out);
}

} // namespace

int main(int argc, char** argv)
{
    platform::holdClosedStandardDescriptors();
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
    // A reader that goes away (| head) makes a write fail instead, which is said and ends in exit status 141.
    std::signal(SIGPIPE, SIG_IGN);
    platform::CheckedOutput standardOutput(STDOUT_FILENO);
    const int status = carryOut(app, options, program, standardOutput.file() ? standardOutput.file() : stdout);
    return standardOutput.finish(program, status, ostrel::cli::kExitProblem);
}

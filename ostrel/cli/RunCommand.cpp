// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/RunCommand.h"

#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/cli/TerminalView.h"
#include "ostrel/engine/Panel.h"
#include "ostrel/engine/RunControl.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/engine/Workloads.h"
#include "ostrel/extended/ExtendedRun.h"
#include "ostrel/history/ResultsDocument.h"
#include "ostrel/history/RunStatistics.h"
#include "ostrel/history/SteadyRuns.h"
#include "ostrel/run/RunSession.h"
#include "platform/Clock.h"
#include "platform/StopSignals.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QThread>
#include <unistd.h>

namespace ostrel::cli {

int runBenchmarks(QCoreApplication& app, const Options& options, const QString& program, std::FILE* standardOutput)
{
    using run::RunOutcome;
    using run::RunProblem;

    auto tell
        = [&](const QString& message) { std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(message)); };

    Panel panel;
    ExtendedPanel extendedPanel;
    platform::UserDefaults defaults(platform::UserDefaults::pathFor(saved::kApplication));
    saved::registerFallbacks(defaults);
    const platform::MonotonicClock stopwatch;
    const platform::WallClock wallClock;
    // Holds the run lock until every run is over; the kernel drops it if
    // this process dies.
    auto opened = run::RunSession::open({ .panel = panel,
                                          .defaults = defaults,
                                          .stopwatch = stopwatch,
                                          .wallClock = wallClock,
                                          .extendedPanel = options.extended ? &extendedPanel : nullptr,
                                          .diskFolder = options.diskFolder });
    if (!opened) {
        tell(opened.error().message);
        return kExitBusy;
    }
    run::RunSession& session = **opened;
    for (const RunProblem& warning : session.warnings())
        tell(warning.message);

    // With --json, standard output carries the JSON alone.
    std::FILE* out = options.json ? stderr : standardOutput;
    const bool interactive = ::isatty(::fileno(out)) != 0;

    MachineWorkloads workloads = MachineWorkloads::forThisApplication();
    RunControl control;
    resetForRun(panel);
    TerminalView view(panel, out, interactive);
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
    const run::RunSession::Hooks hooks {
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
                    for (const QString& message : run::messages(outcome.problems))
                        tell(message);
                });
            },
        .another = [&](const QList<RunOutcome>& done) -> bool {
            if (!options.untilSteady)
                return true;
            QList<history::RunRecord> kept;
            for (const RunOutcome& outcome : done)
                kept << *outcome.record;
            return !history::steadyState(kept, { .mostRuns = options.runs }).done;
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
    QList<history::RunRecord> records;
    QJsonObject lastReport;
    for (const RunOutcome& outcome : outcomes) {
        const RunEnd end = runEnd(outcome);
        problems = problems || !end.messages.isEmpty();
        if (!outcome.finished) {
            stopped = true;
            break;
        }
        const history::RunRecord& kept = *outcome.record;
        records << kept;
        // The time this run finished at, also when it could not be saved.
        lastReport = history::runReportToJson(kept, panel.lastTime.text(), end.messages);
    }

    // The latest run that finished, even when a later one of --runs was stopped.
    if (!options.prometheusFile.isEmpty() && !records.isEmpty()) {
        const Streams streams { out, stderr, program };
        problems = writePrometheus(records.last(), options.prometheusFile, streams) != kExitSuccess || problems;
    }
    // Repeated runs stopped by a Stop still report the runs that finished before it; a single one has shown and
    // saved its finished tests already.
    const bool repeated = options.untilSteady || options.runs > 1;
    if (stopped && (!repeated || records.isEmpty()))
        return kExitStopped;
    QJsonObject report = lastReport;
    if (options.untilSteady) {
        view.printNote(steadyText(records, options.runs), out);
        report = { { QStringLiteral("runs"), history::runsToJson(records) },
                   { QStringLiteral("steady"), steadyToJson(records, options.runs) } };
    } else if (repeated) {
        const history::RunsSummary summary = history::summarizeRuns(records);
        view.printNote(summaryText(summary), out);
        report = { { QStringLiteral("runs"), history::runsToJson(records) },
                   { QStringLiteral("summary"), history::summaryToJson(summary) } };
    }
    if (stopped) {
        view.printNote(stoppedRunsText(int(records.size())), out);
        report.insert(QStringLiteral("stopped"), true);
    }
    if (options.json)
        std::fputs(QJsonDocument(report).toJson().constData(), standardOutput);
    if (stopped)
        return kExitStopped;
    return problems ? kExitProblem : kExitSuccess;
}

} // namespace ostrel::cli

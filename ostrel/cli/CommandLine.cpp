// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"

#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/SteadyRuns.h"
#include "ostrel/run/RunSession.h"
#include "platform/ErrorText.h"
#include "platform/WrappedText.h"

#include <QCommandLineParser>
#include <algorithm>
#include <utility>

namespace ostrel::cli {

Options parseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    const QCommandLineOption history(QStringLiteral("history"));
    const QCommandLineOption runs(QStringLiteral("runs"), {}, QStringLiteral("N|auto[:MAX]"));
    const QCommandLineOption exportTo(QStringLiteral("export"), {}, QStringLiteral("FILE"));
    const QCommandLineOption all(QStringLiteral("all"));
    const QCommandLineOption compare(QStringLiteral("compare"), {}, QStringLiteral("FILE"));
    const QCommandLineOption prometheus(QStringLiteral("prometheus"), {}, QStringLiteral("FILE"));
    const QCommandLineOption extended(QStringLiteral("extended"));
    const QCommandLineOption diskFolder(QStringLiteral("disk-folder"), {}, QStringLiteral("DIR"));
    const QCommandLineOption help(QStringList { QStringLiteral("h"), QStringLiteral("help") });
    const QCommandLineOption version(QStringList { QStringLiteral("v"), QStringLiteral("version") });
    parser.addOptions(
        { json, csv, history, runs, exportTo, all, compare, prometheus, extended, diskFolder, help, version });

    Options options;
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().constFirst());
        return options;
    }
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.json = parser.isSet(json);
    options.csv = parser.isSet(csv);
    options.all = parser.isSet(all);
    options.extended = parser.isSet(extended);
    options.diskFolder = parser.value(diskFolder);

    QStringList modes;
    for (const auto& [option, mode] :
         { std::pair { &history, Options::Mode::History }, std::pair { &exportTo, Options::Mode::Export },
           std::pair { &compare, Options::Mode::Compare } }) {
        if (parser.isSet(*option)) {
            modes << QStringLiteral("--") + option->names().constFirst();
            options.mode = mode;
        }
    }
    if (options.mode == Options::Mode::Export)
        options.file = parser.value(exportTo);
    else if (options.mode == Options::Mode::Compare)
        options.file = parser.value(compare);

    const QString autoRuns = QStringLiteral("auto");
    if (parser.isSet(runs) && parser.value(runs).section(QLatin1Char(':'), 0, 0) == autoRuns) {
        const QString value = parser.value(runs);
        options.untilSteady = true;
        options.runs = history::SteadyRule::kDefaultMostRuns;
        bool isNumber = value == autoRuns;
        if (value.startsWith(autoRuns + QLatin1Char(':')))
            options.runs = value.mid(autoRuns.size() + 1).toInt(&isNumber);
        if (!isNumber || options.runs < history::SteadyRule::kLeastRuns)
            options.error = QStringLiteral("--runs auto:MAX needs a whole number of at least %1 for MAX, not '%2'")
                                .arg(history::SteadyRule::kLeastRuns)
                                .arg(value);
        else if (!modes.isEmpty())
            modes << QStringLiteral("--runs");
    } else if (parser.isSet(runs)) {
        bool isNumber = false;
        options.runs = parser.value(runs).toInt(&isNumber);
        if (!isNumber || options.runs < 1)
            options.error
                = QStringLiteral("--runs needs a whole number of at least 1, not '%1'").arg(parser.value(runs));
        else if (!modes.isEmpty())
            modes << QStringLiteral("--runs");
    }
    if (!options.error.isEmpty())
        return options;
    if (parser.isSet(prometheus)) {
        options.prometheusFile = parser.value(prometheus);
        // Beside any option of a run it follows the run; alone it takes the latest run from the history.
        const QStringList given = parser.optionNames();
        const bool alone = std::all_of(given.begin(), given.end(),
                                       [](const QString& name) { return name == QLatin1String("prometheus"); });
        if (!modes.isEmpty())
            modes << QStringLiteral("--prometheus");
        else if (alone)
            options.mode = Options::Mode::Prometheus;
    }
    if (modes.size() > 1)
        options.error = QStringLiteral("%1 cannot be used together").arg(modes.join(QStringLiteral(" and ")));
    else if (options.csv && options.mode != Options::Mode::History)
        options.error = QStringLiteral("--csv goes with --history");
    else if (options.csv && options.json)
        options.error = QStringLiteral("--csv and --json cannot be used together");
    else if (options.all && options.mode != Options::Mode::Export)
        options.error = QStringLiteral("--all goes with --export");
    else if (options.json && (options.mode == Options::Mode::Export || options.mode == Options::Mode::Compare))
        options.error = QStringLiteral("--json goes with a run or --history");
    else if (options.extended && options.mode != Options::Mode::Run)
        options.error = QStringLiteral("--extended goes with a run");
    else if (parser.isSet(diskFolder) && !options.extended)
        options.error = QStringLiteral("--disk-folder goes with --extended");
    else if (parser.isSet(diskFolder) && options.diskFolder.isEmpty())
        options.error = QStringLiteral("--disk-folder needs a folder");
    return options;
}

namespace {

// The options' texts are wrapped to this width.
constexpr qsizetype kHelpWidth = 75;
// --json's text has always been a little wider.
constexpr qsizetype kJsonHelpWidth = 77;

// The extended tests' members of the JSON report, each quoted: "a" and "b".
QString extendedMembers()
{
    QStringList members;
    for (const ExtendedKind& kind : extendedTests())
        members << QLatin1Char('"') + kind.key + QLatin1Char('"');
    const QString last = members.isEmpty() ? QString() : members.takeLast();
    return members.isEmpty() ? last : members.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

} // namespace

QString usage(const QString& program)
{
    return QStringLiteral("Usage: %1 [--json] [--runs N | --runs auto[:MAX]] [--extended [--disk-folder DIR]] "
                          "[--prometheus FILE]\n"
                          "  or:  %1 --history [--json | --csv]\n"
                          "  or:  %1 --export FILE [--all]\n"
                          "  or:  %1 --compare FILE\n"
                          "  or:  %1 --prometheus FILE\n"
                          "\n"
                          "Runs the Ostrel benchmark in the terminal: integer, floating point, pi,\n"
                          "memory and disk. Each test scores 100 points less 5 points a second. The\n"
                          "scores are saved where the Ostrel window shows them at its next launch, and\n"
                          "every finished run is added to the history that the window and these\n"
                          "options show.\n"
                          "\n"
                          "Options:\n"
                          "%2\n"
                          "  --runs N        make N complete runs back to back, each saved, then show the\n"
                          "                  median, minimum, maximum and spread of every score\n"
                          "  --runs auto[:MAX]\n"
                          "                  at least 3 runs, then one more until every test's score has\n"
                          "                  a standard deviation of at most 1 point, or MAX runs (at\n"
                          "                  least 3; default 10) are done; a run that other work\n"
                          "                  disturbed is repeated and left out of the figures. Then\n"
                          "                  the median, minimum, maximum and standard deviation of\n"
                          "                  every score, and the tests that never settled\n"
                          "%3\n"
                          "  --disk-folder DIR  with --extended: run the disk test in DIR (default: the\n"
                          "                  folder of the disk test's scratch file)\n"
                          "  --history       list the finished runs, newest first\n"
                          "  --csv           with --history: the runs as comma-separated values\n"
                          "  --export FILE   write this machine's latest run and its machine facts to\n"
                          "                  FILE, to be compared or imported on another machine\n"
                          "  --all           with --export: every run, not only the latest\n"
                          "  --compare FILE  compare this machine's latest run with the latest run in\n"
                          "                  FILE, test by test\n"
                          "  --prometheus FILE\n"
                          "                  write the latest finished run to FILE in Prometheus' text\n"
                          "                  format, replacing the file in one step: after the runs when\n"
                          "                  given with a run's options, alone the latest run in the\n"
                          "                  history. node_exporter's textfile collector reads FILE when\n"
                          "                  it ends in .prom and lies in its --collector.textfile.directory\n"
                          "  -h, --help      show this help and exit\n"
                          "  -v, --version   show the version and exit\n"
                          "\n"
                          "Ctrl-C stops the run; the tests that finished stay saved. Stopped, --runs\n"
                          "still shows the figures over the runs that finished before the stop (with\n"
                          "--json, those runs and their figures, marked \"stopped\": true). One benchmark\n"
                          "runs at a time for a user: while the Ostrel window or another ostrel-cli\n"
                          "runs one, a new run does not start (--runs N keeps the others out for\n"
                          "all N runs).\n"
                          "\n"
                          "During each test Ostrel reads what the kernel counts about other work: the\n"
                          "time runnable work waited for a processor, the time a hypervisor gave to\n"
                          "others, the processor's frequency. A test they disturbed is named on\n"
                          "standard error as it ends (\"干扰：浮点运算 等待处理器 23%\") and kept so\n"
                          "with the run.\n"
                          "\n"
                          "The FILE of --export and --prometheus is written whole or not at all: when\n"
                          "the write fails (a full disk), the file is left as it was and the exit\n"
                          "status is 3. Only a regular file is replaced: a symbolic link (even one\n"
                          "that points nowhere), a device, a FIFO, a socket or a folder at FILE is\n"
                          "refused.\n"
                          "\n"
                          "Exit status:\n"
                          "  0    the run finished and every result is saved\n"
                          "  2    bad arguments, or a file for --compare that is not an export or\n"
                          "       holds a value no run could have written\n"
                          "  3    the run finished, but a test failed, an extended test could not be\n"
                          "       done, or a result could not be saved; or the history could not be\n"
                          "       read or written, or the FILE of --export or --prometheus could not\n"
                          "       be written, or standard output could not be written (a full disk)\n"
                          "  4    another benchmark was under way, so this one did not start\n"
                          "  130  stopped by Ctrl-C or SIGTERM\n"
                          "  141  standard output was closed by its reader (e.g. by head)\n")
        .arg(program,
             platform::wrappedText(QStringLiteral("print the results as JSON on standard output (progress goes to "
                                                  "standard error), with %1 after --extended; with --history, the "
                                                  "runs as JSON")
                                       .arg(extendedMembers()),
                                   kJsonHelpWidth, QStringLiteral("  --json          "), QString(18, QLatin1Char(' '))),
             platform::wrappedText(QStringLiteral("after the five tests, the extended tests: %1; kept with the run")
                                       .arg(extendedTestsHelp()),
                                   kHelpWidth, QStringLiteral("  --extended      "), QString(18, QLatin1Char(' '))));
}

RunEnd runEnd(const run::RunOutcome& outcome)
{
    RunEnd end;
    end.messages = run::messages(outcome.problems);
    if (!outcome.finished)
        end.exitStatus = kExitStopped;
    else if (!end.messages.isEmpty())
        end.exitStatus = kExitProblem;
    return end;
}

} // namespace ostrel::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/cli/CommandLine.h"

#include "ostrel/extended/ExtendedTests.h"
#include "ostrel/history/SteadyRuns.h"
#include "ostrel/run/RunSession.h"
#include "platform/ErrorText.h"
#include "platform/ListText.h"
#include "platform/Version.h"
#include "platform/WrappedText.h"

#include <QCommandLineParser>
#include <algorithm>
#include <iterator>
#include <utility>

namespace ostrel::cli {

namespace {

// The options' texts are wrapped to this width.
constexpr qsizetype kHelpWidth = 75;
// --json's text has always been a little wider.
constexpr qsizetype kJsonHelpWidth = 77;
// Where the options' texts start.
constexpr qsizetype kTextColumn = 18;

// The extended tests' members of the JSON report, each quoted: "a" and "b".
QString extendedMembers()
{
    QStringList members;
    for (const ExtendedKind& kind : extendedTests())
        members << QLatin1Char('"') + kind.key + QLatin1Char('"');
    return platform::joinedList(members, u", ", u" and ");
}

struct CliOption
{
    const char* shortName; // "" for none
    const char* name;
    const char* valueName; // "" for a switch
    // --help's lines for it, broken where it breaks them; an empty first line puts the text below the name. With
    // `filled`, one paragraph whose %1 it fills, wrapped to `width`.
    const char* description;
    QString (*filled)() = nullptr;
    qsizetype width = 0;
};

// In the order --help lists them; an option with two forms of value has a row for each.
const CliOption kOptions[] = {
    { "", "json", "",
      "print the results as JSON on standard output (progress goes to standard error), with %1 after --extended; "
      "with --history, the runs as JSON",
      extendedMembers, kJsonHelpWidth },
    { "", "runs", "N",
      "make N complete runs back to back, each saved, then show the\n"
      "median, minimum, maximum and spread of every score" },
    { "", "runs", "auto[:MAX]",
      "\n"
      "at least 3 runs, then one more until every test's score has\n"
      "a standard deviation of at most 1 point, or MAX runs (at\n"
      "least 3; default 10) are done; a run that other work\n"
      "disturbed is repeated and left out of the figures. Then\n"
      "the median, minimum, maximum and standard deviation of\n"
      "every score, and the tests that never settled" },
    { "", "extended", "", "after the five tests, the extended tests: %1; kept with the run", extendedTestsHelp,
      kHelpWidth },
    { "", "disk-folder", "DIR",
      "with --extended: run the disk test in DIR (default: the\n"
      "folder of the disk test's scratch file)" },
    { "", "history", "", "list the finished runs, newest first" },
    { "", "csv", "", "with --history: the runs as comma-separated values" },
    { "", "export", "FILE",
      "write this machine's latest run and its machine facts to\n"
      "FILE, to be compared or imported on another machine" },
    { "", "all", "", "with --export: every run, not only the latest" },
    { "", "compare", "FILE",
      "compare this machine's latest run with the latest run in\n"
      "FILE, test by test" },
    { "", "prometheus", "FILE",
      "\n"
      "write the latest finished run to FILE in Prometheus' text\n"
      "format, replacing the file in one step: after the runs when\n"
      "given with a run's options, alone the latest run in the\n"
      "history. node_exporter's textfile collector reads FILE when\n"
      "it ends in .prom and lies in its --collector.textfile.directory" },
    { "h", "help", "", "show this help and exit" },
    { "v", "version", "", "show the version and exit" },
};

// An option's entry in --help, ending in a line break.
QString optionHelp(const CliOption& option)
{
    QString head = QStringLiteral("  ");
    if (*option.shortName)
        head += QLatin1Char('-') + QLatin1String(option.shortName) + QStringLiteral(", ");
    head += QStringLiteral("--") + QLatin1String(option.name);
    if (*option.valueName)
        head += QLatin1Char(' ') + QLatin1String(option.valueName);
    const QString first = head.leftJustified(kTextColumn - 2) + QStringLiteral("  ");
    const QString indent(kTextColumn, QLatin1Char(' '));
    if (option.filled)
        return platform::wrappedText(QString::fromUtf8(option.description).arg(option.filled()), option.width, first,
                                     indent)
            + QLatin1Char('\n');
    QStringList lines = QString::fromUtf8(option.description).split(QLatin1Char('\n'));
    QString text = lines.constFirst().isEmpty() ? head : first + lines.constFirst();
    for (const QString& line : lines.mid(1))
        text += QLatin1Char('\n') + indent + line;
    return text + QLatin1Char('\n');
}

Exit refused(const QString& reason)
{
    return { kExitBadArguments, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(kProgram, reason) };
}

} // namespace

platform::Result<Options, Exit> parseArguments(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const CliOption& option : kOptions) {
        const QString name = QLatin1String(option.name);
        // A second row of an option is a second form of its value.
        if (std::any_of(std::begin(kOptions), &option,
                        [&](const CliOption& o) { return name == QLatin1String(o.name); }))
            continue;
        QStringList names { name };
        if (*option.shortName)
            names.prepend(QLatin1String(option.shortName));
        parser.addOption(QCommandLineOption(names, {}, QLatin1String(option.valueName)));
    }
    const auto option = [](const char* name) { return QString::fromLatin1(name); };

    if (!parser.parse(arguments))
        return refused(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refused(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().constFirst()));

    Options options;
    options.json = parser.isSet(option("json"));
    options.csv = parser.isSet(option("csv"));
    options.all = parser.isSet(option("all"));
    options.extended = parser.isSet(option("extended"));
    options.diskFolder = parser.value(option("disk-folder"));

    QStringList modes;
    for (const auto& [name, mode] :
         { std::pair { "history", Options::Mode::History }, std::pair { "export", Options::Mode::Export },
           std::pair { "compare", Options::Mode::Compare } }) {
        if (parser.isSet(option(name))) {
            modes << QStringLiteral("--") + option(name);
            options.mode = mode;
        }
    }
    if (options.mode == Options::Mode::Export)
        options.file = parser.value(option("export"));
    else if (options.mode == Options::Mode::Compare)
        options.file = parser.value(option("compare"));

    const QString runs = option("runs");
    const QString autoRuns = QStringLiteral("auto");
    if (parser.isSet(runs) && parser.value(runs).section(QLatin1Char(':'), 0, 0) == autoRuns) {
        const QString value = parser.value(runs);
        options.untilSteady = true;
        options.runs = history::SteadyRule::kDefaultMostRuns;
        bool isNumber = value == autoRuns;
        if (value.startsWith(autoRuns + QLatin1Char(':')))
            options.runs = value.mid(autoRuns.size() + 1).toInt(&isNumber);
        if (!isNumber || options.runs < history::SteadyRule::kLeastRuns)
            return refused(QStringLiteral("--runs auto:MAX needs a whole number of at least %1 for MAX, not '%2'")
                               .arg(history::SteadyRule::kLeastRuns)
                               .arg(value));
        if (!modes.isEmpty())
            modes << QStringLiteral("--runs");
    } else if (parser.isSet(runs)) {
        bool isNumber = false;
        options.runs = parser.value(runs).toInt(&isNumber);
        if (!isNumber || options.runs < 1)
            return refused(
                QStringLiteral("--runs needs a whole number of at least 1, not '%1'").arg(parser.value(runs)));
        if (!modes.isEmpty())
            modes << QStringLiteral("--runs");
    }
    if (parser.isSet(option("prometheus"))) {
        options.prometheusFile = parser.value(option("prometheus"));
        // Beside any option of a run it follows the run; alone it takes the latest run from the history.
        const QStringList given = parser.optionNames();
        const bool alone = std::all_of(given.begin(), given.end(),
                                       [](const QString& name) { return name == QLatin1String("prometheus"); });
        if (!modes.isEmpty())
            modes << QStringLiteral("--prometheus");
        else if (alone)
            options.mode = Options::Mode::Prometheus;
    }
    const bool diskFolder = parser.isSet(option("disk-folder"));
    if (modes.size() > 1)
        return refused(QStringLiteral("%1 cannot be used together").arg(modes.join(QStringLiteral(" and "))));
    if (options.csv && options.mode != Options::Mode::History)
        return refused(QStringLiteral("--csv goes with --history"));
    if (options.csv && options.json)
        return refused(QStringLiteral("--csv and --json cannot be used together"));
    if (options.all && options.mode != Options::Mode::Export)
        return refused(QStringLiteral("--all goes with --export"));
    if (options.json && (options.mode == Options::Mode::Export || options.mode == Options::Mode::Compare))
        return refused(QStringLiteral("--json goes with a run or --history"));
    if (options.extended && options.mode != Options::Mode::Run)
        return refused(QStringLiteral("--extended goes with a run"));
    if (diskFolder && !options.extended)
        return refused(QStringLiteral("--disk-folder goes with --extended"));
    if (diskFolder && options.diskFolder.isEmpty())
        return refused(QStringLiteral("--disk-folder needs a folder"));
    // Only arguments that could be used show the help or the version.
    if (parser.isSet(option("help")))
        return Exit { kExitSuccess, usage() };
    if (parser.isSet(option("version")))
        return Exit { kExitSuccess, QStringLiteral("%1 %2\n").arg(kProgram, QLatin1String(platform::kVersion)) };
    return options;
}

QString usage()
{
    QString options;
    for (const CliOption& option : kOptions)
        options += optionHelp(option);
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
                          "Options:\n")
               .arg(kProgram)
        + options
        + QStringLiteral("\n"
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
                         "  141  standard output was closed by its reader (e.g. by head)\n");
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

#include "CommandLine.h"

namespace ostrel::cli {

Options parseArguments(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--json"))
            options.json = true;
        else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            options.help = true;
        else if (argument == QLatin1String("--version") || argument == QLatin1String("-v"))
            options.version = true;
        else if (argument.startsWith(QLatin1Char('-')))
            options.error = QStringLiteral("unknown option: %1").arg(argument);
        else
            options.error = QStringLiteral("unexpected argument: %1").arg(argument);
        if (!options.error.isEmpty())
            break;
    }
    return options;
}

QString usage(const QString& program)
{
    return QStringLiteral(
        "Usage: %1 [--json]\n"
        "\n"
        "Runs the Ostrel benchmark once in the terminal: integer, floating point, pi,\n"
        "memory and disk. Each test scores 100 points less 5 points a second. The\n"
        "scores are saved where the Ostrel window shows them at its next launch.\n"
        "\n"
        "Options:\n"
        "  --json     print the scores, the overall score and the time of the run as\n"
        "             JSON on standard output at the end (progress goes to standard error)\n"
        "  --help     show this help and exit\n"
        "  --version  show the version and exit\n"
        "\n"
        "Ctrl-C stops the run; the tests that finished stay saved.\n")
        .arg(program);
}

} // namespace ostrel::cli

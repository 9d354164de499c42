#include "CommandLine.h"

#include "platform/ErrorText.h"

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
        "  --json   print the scores, the overall score and the time of the run as\n"
        "           JSON on standard output at the end (progress goes to standard error)\n"
        "  --help   show this help and exit\n"
        "\n"
        "Ctrl-C stops the run; the tests that finished stay saved.\n"
        "\n"
        "Exit status:\n"
        "  0    the run finished and every result is saved\n"
        "  2    bad arguments\n"
        "  3    the run finished, but a test failed or a result could not be saved\n"
        "  130  stopped by Ctrl-C or SIGTERM\n")
        .arg(program);
}

RunEnd runEnd(bool finished, const QString& failedStage, int saveError,
    const QString& storeFile)
{
    RunEnd end;
    if (finished && !failedStage.isEmpty())
        end.messages << failedStage;
    if (saveError != 0) {
        end.messages << QStringLiteral("the results could not be saved to %1: %2")
                            .arg(storeFile, platform::errorText(saveError));
    }
    if (!finished)
        end.exitStatus = kExitStopped;
    else if (!end.messages.isEmpty())
        end.exitStatus = kExitProblem;
    return end;
}

} // namespace ostrel::cli

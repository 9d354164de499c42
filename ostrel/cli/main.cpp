// SPDX-License-Identifier: GPL-3.0-or-later
// ostrel-cli: one complete benchmark in the terminal, with the engine and the
// saved results of the Ostrel window.
#include "ostrel/cli/CommandLine.h"
#include "ostrel/cli/HistoryCommands.h"
#include "ostrel/cli/RunCommand.h"
#include "ostrel/engine/Scores.h"
#include "ostrel/history/HistoryStore.h"
#include "platform/CheckedOutput.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

using namespace ostrel::cli;

// The job the command line asks for, printed to `out`; the exit status.
int carryOut(QCoreApplication& app, const Options& options, std::FILE* out)
{
    const Streams streams { out, stderr, kProgram };
    ostrel::history::HistoryStore store(ostrel::history::HistoryStore::defaultPath());
    switch (options.mode) {
    case Options::Mode::History:
        return printHistory(store,
                            options.json      ? HistoryFormat::Json
                                : options.csv ? HistoryFormat::Csv
                                              : HistoryFormat::Text,
                            streams);
    case Options::Mode::Export:
        return exportRuns(store, options.file, options.all, streams);
    case Options::Mode::Compare:
        return compareWithFile(store, options.file, streams);
    case Options::Mode::Prometheus:
        return prometheusFromHistory(store, options.prometheusFile, streams);
    case Options::Mode::Run:
        break;
    }
    return runBenchmarks(app, options, kProgram, out);
}

} // namespace

int main(int argc, char** argv)
{
    platform::holdClosedStandardDescriptors();
    QCoreApplication app(argc, argv);
    // The same name as the window's: one store, one cache folder.
    QCoreApplication::setApplicationName(ostrel::saved::kApplication);

    const auto parsed = parseArguments(app.arguments());
    if (!parsed && parsed.error().status != kExitSuccess) {
        std::fputs(parsed.error().text.toLocal8Bit().constData(), stderr);
        return parsed.error().status;
    }
    // A reader that goes away (| head) makes a write fail instead, which is said and ends in exit status 141.
    std::signal(SIGPIPE, SIG_IGN);
    platform::CheckedOutput standardOutput(STDOUT_FILENO);
    std::FILE* out = standardOutput.file() ? standardOutput.file() : stdout;
    int status = kExitSuccess;
    if (parsed)
        status = carryOut(app, *parsed, out);
    else // --help or --version
        std::fputs(parsed.error().text.toUtf8().constData(), out);
    return standardOutput.finish(kProgram, status, kExitProblem);
}

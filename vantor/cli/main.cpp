// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli: the window's lookups in a terminal, with its formats and configuration.
#include "platform/CheckedOutput.h"
#include "platform/StopSignals.h"
#include "vantor/cli/AddressList.h"
#include "vantor/cli/CommandLine.h"
#include "vantor/cli/Lookup.h"
#include "vantor/cli/OwnAddresses.h"
#include "vantor/cli/ProgressLine.h"
#include "vantor/net/Fetch.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether standard input holds a list: a pipe, a file or a socket. A terminal, /dev/null or another device is none,
// as a systemd service or a cron job with its input redirected has it, so they look up the own addresses.
bool standardInputIsList()
{
    struct stat input = {};
    return ::fstat(STDIN_FILENO, &input) == 0
        && (S_ISFIFO(input.st_mode) || S_ISREG(input.st_mode) || S_ISSOCK(input.st_mode));
}

} // namespace

int main(int argc, char** argv)
{
    platform::holdClosedStandardDescriptors();
    QCoreApplication app(argc, argv);
    const auto parsed = vantor::cli::parseCliCommandLine(app.arguments(), vantor::configurationFilePath());
    if (!parsed)
        return vantor::options::printExit(parsed.error());
    vantor::options::printWarnings(parsed->warnings);
    const vantor::cli::CliOptions& options = *parsed;

    // A reader that goes away (| head) makes the write fail instead, so the run says so and ends cleanly.
    std::signal(SIGPIPE, SIG_IGN);
    if (!platform::StopSignals::watch()) {
        std::perror("vantor-cli: signals");
        return 1;
    }
    // Ctrl-C and SIGTERM end a read of standard input, a wait for a rate limit and a request under way at once, and
    // the lookups stop after the entry at hand; a second one ends the process.
    QSocketNotifier stopSignal(platform::StopSignals::descriptor(), QSocketNotifier::Read);
    QObject::connect(&stopSignal, &QSocketNotifier::activated, &app, [&] {
        stopSignal.setEnabled(false);
        vantor::cancelFetches();
    });

    // As in the window: http_proxy and no_proxy apply.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QFile out;
    QFile err;
    out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(STDERR_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (options.ownOnly)
        return vantor::cli::printOwnAddresses(options.services, options.format == vantor::cli::OutputFormat::Json, out,
                                              err);

    vantor::cli::DescriptorReader in(STDIN_FILENO, platform::StopSignals::descriptor());

    using vantor::cli::AddressSource;
    QList<AddressSource> sources = options.sources;
    // Nothing named and something piped or redirected in: the addresses are there.
    if (sources.isEmpty() && standardInputIsList())
        sources.append({ AddressSource::Kind::File, QStringLiteral("-") });

    vantor::cli::ProgressLine progress(err, isatty(STDERR_FILENO));
    vantor::cli::LookupOptions lookup;
    lookup.format = options.format;
    lookup.extract = options.extract;
    lookup.standardInput = &in;
    lookup.interruption = platform::StopSignals::descriptor();
    lookup.progress = &progress;
    lookup.stopRequested = [] { return platform::StopSignals::requested(); };
    lookup.summaryTop = options.summaryTop;
    return vantor::cli::lookUp(options.services, sources, lookup, out, err, [&](std::chrono::seconds pause) {
        for (auto left = pause; left.count() > 0 && !platform::StopSignals::requested(); --left) {
            progress.waiting(left);
            pollfd signal { platform::StopSignals::descriptor(), POLLIN, 0 };
            ::poll(&signal, 1, 1000);
        }
    });
}

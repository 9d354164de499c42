// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli: the window's lookups in a terminal, with its formats and configuration.
#include "AddressList.h"
#include "BatchLookup.h"
#include "vantor/net/Configuration.h"
#include "vantor/net/Fetch.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalSocket[2] = { -1, -1 };
volatile std::sig_atomic_t g_stopRequested = 0;

void onSignal(int)
{
    g_stopRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
}

// Ctrl-C and SIGTERM make the signal socket readable: a read of standard input, a wait for a rate limit and a
// request under way end at once, and the lookups stop after the entry at hand. A second one ends the process.
bool watchStopSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0)
        return false;
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const vantor::Invocation invocation
        = vantor::parseInvocation(vantor::Program::Cli, app.arguments(), vantor::configurationFilePath());
    if (const std::optional<int> status = vantor::answerInvocation(invocation))
        return *status;

    // A reader that goes away (| head) makes the write fail instead, so the run says so and ends cleanly.
    std::signal(SIGPIPE, SIG_IGN);
    if (!watchStopSignals()) {
        std::perror("vantor-cli: signals");
        return 1;
    }
    QSocketNotifier stopSignal(g_signalSocket[1], QSocketNotifier::Read);
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
    if (invocation.ownOnly)
        return vantor::cli::printOwnAddresses(invocation.services, invocation.json, out, err);

    vantor::cli::DescriptorReader in(STDIN_FILENO, g_signalSocket[1]);

    using vantor::Invocation;
    QList<Invocation::AddressSource> sources = invocation.sources;
    // Nothing named and something piped in: the addresses are in the pipe.
    if (sources.isEmpty() && !isatty(STDIN_FILENO))
        sources.append({ Invocation::AddressSource::Kind::File, QStringLiteral("-") });

    vantor::cli::ProgressLine progress(err, isatty(STDERR_FILENO));
    vantor::cli::LookupOptions options;
    options.format = invocation.csv ? vantor::cli::OutputFormat::Csv
        : invocation.json           ? vantor::cli::OutputFormat::Json
                                    : vantor::cli::OutputFormat::Text;
    options.standardInput = &in;
    options.progress = &progress;
    options.stopRequested = [] { return g_stopRequested != 0; };
    return vantor::cli::lookUp(invocation.services, sources, options, out, err, [&](std::chrono::seconds pause) {
        for (auto left = pause; left.count() > 0 && !g_stopRequested; --left) {
            progress.waiting(left);
            pollfd signal { g_signalSocket[1], POLLIN, 0 };
            ::poll(&signal, 1, 1000);
        }
    });
}

// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli: the window's lookups in a terminal, with its formats and configuration.
#include "AddressList.h"
#include "BatchLookup.h"
#include "vantor/net/Configuration.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkProxyFactory>
#include <cstdio>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const vantor::Invocation invocation
        = vantor::parseInvocation(vantor::Program::Cli, app.arguments(), vantor::configurationFilePath());
    if (const std::optional<int> status = vantor::answerInvocation(invocation))
        return *status;

    // As in the window: http_proxy and no_proxy apply.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    if (invocation.ownOnly)
        return vantor::cli::printOwnAddresses(invocation.services, invocation.json, out, err);

    vantor::cli::DescriptorReader in(STDIN_FILENO);

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
    return vantor::cli::lookUp(invocation.services, sources, options, out, err, [&](std::chrono::seconds pause) {
        for (auto left = pause; left.count() > 0; --left) {
            progress.waiting(left);
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
}

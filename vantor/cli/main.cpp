// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli: the window's lookups in a terminal, with its formats and configuration.
#include "BatchLookup.h"
#include "vantor/net/Configuration.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkProxyFactory>
#include <cstdio>
#include <thread>

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
    return vantor::cli::lookUpAll(invocation.services, invocation.addresses, invocation.json, out, err,
                                  [](std::chrono::seconds pause) { std::this_thread::sleep_for(pause); });
}

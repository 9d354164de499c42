// SPDX-License-Identifier: GPL-3.0-or-later
// A list of addresses through ip-api's batch endpoint and through single lookups, against a local stand-in that
// keeps ip-api's documented limits (15 batch requests, 45 single ones a minute, X-Rl and X-Ttl on every answer).
//
// Batch runs wait for real when the limit says so. Single lookups of a long list would wait for minutes, so their
// waits go onto the stand-in's clock instead of being slept: the time reported is the measured time plus the
// waits the limit enforced, exactly as long as a real run would take.
#include "vantor/cli/Lookup.h"
#include "vantor/testing/IpApiStandIn.h"
#include "vantor/testing/MiniHttpServer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <thread>

namespace {

struct Run
{
    double measuredSeconds = 0;
    double waitedSeconds = 0; // on the stand-in's clock, not slept
    int requests = 0;
    int refused = 0;
    qsizetype answers = 0;
    int exitStatus = -1;
};

Run lookUpList(int addresses, bool batch, bool sleepForReal)
{
    vantor::testing::MiniHttpServer server;
    QElapsedTimer clock;
    clock.start();
    double skipped = 0;
    vantor::testing::IpApiStandIn standIn(server, 45, 15, [&] { return double(clock.elapsed()) / 1000 + skipped; });

    vantor::ServiceConfig services;
    services.ipInfoPrefix = server.baseUrl() + QStringLiteral("/json/");
    services.ipApiBatchUrl = batch ? server.baseUrl() + QStringLiteral("/batch") : QString();
    QList<vantor::cli::AddressSource> sources;
    for (int i = 0; i < addresses; ++i)
        sources.append({ vantor::cli::AddressSource::Kind::Address,
                         QStringLiteral("151.%1.%2.%3").arg(101 + i / 65536).arg(i / 256 % 256).arg(i % 256) });
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    vantor::cli::LookupOptions options;
    options.format = vantor::cli::OutputFormat::Csv;

    Run run;
    QElapsedTimer measured;
    measured.start();
    run.exitStatus = vantor::cli::lookUp(services, sources, options, out, err, [&](std::chrono::seconds pause) {
        if (sleepForReal) {
            std::this_thread::sleep_for(pause);
        } else {
            skipped += double(pause.count());
            run.waitedSeconds += double(pause.count());
        }
    });
    run.measuredSeconds = double(measured.nsecsElapsed()) / 1e9;
    run.requests = batch ? standIn.batchRequests() : standIn.singleRequests();
    run.refused = standIn.refused();
    run.answers = out.data().count("\r\n") - 1;
    return run;
}

void report(const char* what, const Run& run)
{
    std::printf("%s\n", what);
    std::printf("  requests %d (refused %d), answers %lld, exit status %d\n", run.requests, run.refused,
                static_cast<long long>(run.answers), run.exitStatus);
    std::printf("  measured %.3f s", run.measuredSeconds);
    if (run.waitedSeconds > 0)
        std::printf(" + %.0f s of enforced waits = %.1f s (%.1f min)", run.waitedSeconds,
                    run.measuredSeconds + run.waitedSeconds, (run.measuredSeconds + run.waitedSeconds) / 60);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int addresses = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 1000;
    report(qPrintable(QStringLiteral("batch, %1 addresses (waits slept)").arg(addresses)),
           lookUpList(addresses, true, true));
    report(qPrintable(QStringLiteral("batch, %1 addresses (waits counted)").arg(addresses * 2)),
           lookUpList(addresses * 2, true, false));
    report(qPrintable(QStringLiteral("single lookups, %1 addresses (waits counted)").arg(addresses)),
           lookUpList(addresses, false, false));
    return 0;
}

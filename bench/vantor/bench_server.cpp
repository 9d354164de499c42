// SPDX-License-Identifier: GPL-3.0-or-later
// Answers every request at once: the own-address service at "/", the IP-information service everywhere else.
// With the argument "ip-api", ip-api's single and batch endpoints as IpApiStandIn answers them, without a limit.
// Prints its port, then serves until its standard input closes.
#include "vantor/testing/IpApiStandIn.h"
#include "vantor/testing/MiniHttpServer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    vantor::testing::MiniHttpServer server;
    server.setResponse("/", { 200, "81.2.69.1\n" });
    server.setDefaultResponse(
        { 200, R"({"code":0,"data":{"ip":"81.2.69.1","country":"中国","area":"华东","city":"上海","isp":"电信"}})" });
    std::unique_ptr<vantor::testing::IpApiStandIn> ipApi;
    if (argc > 1 && std::strcmp(argv[1], "ip-api") == 0)
        ipApi = std::make_unique<vantor::testing::IpApiStandIn>(server, INT_MAX, INT_MAX, [] { return 0.0; });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char byte;
        if (read(STDIN_FILENO, &byte, 1) <= 0)
            app.quit();
    });

    std::printf("%u\n", server.serverPort());
    std::fflush(stdout);
    return app.exec();
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Version.h"
#include "vantor/testing/MiniHttpServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using vantor::testing::MiniHttpServer;

namespace {

QProcessEnvironment throughProxy(const MiniHttpServer& proxy)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("http_proxy"), proxy.baseUrl());
    environment.insert(QStringLiteral("https_proxy"), proxy.baseUrl());
    environment.insert(QStringLiteral("no_proxy"), QString());
    return environment;
}

// Without configuration, all seven my-address services are asked at once, each over HTTPS: through a proxy, as
// tunnels to port 443. The proxy refuses them, so nothing is printed.
TEST(VantorExecutable, AsksTheDefaultServicesOverHttps)
{
    MiniHttpServer proxy;
    QProcess vantor;
    vantor.setProcessEnvironment(throughProxy(proxy));
    vantor.start(QStringLiteral(VANTOR_EXECUTABLE), {});
    ASSERT_TRUE(vantor.waitForStarted());
    const bool asked = QTest::qWaitFor([&] { return proxy.requests().size() >= 7; }, 60000);
    vantor.terminate();
    vantor.waitForFinished();

    ASSERT_TRUE(asked) << proxy.requests().size();
    QStringList tunnels;
    for (const auto& request : proxy.requests()) {
        EXPECT_EQ(request.method, "CONNECT");
        tunnels << QString::fromLatin1(request.target);
    }
    tunnels.sort();
    EXPECT_EQ(
        tunnels,
        (QStringList { "api.ipify.org:443", "api6.ipify.org:443", "checkip.amazonaws.com:443", "ipv4.icanhazip.com:443",
                       "ipv6.icanhazip.com:443", "v4.ident.me:443", "v6.ident.me:443" }));
    EXPECT_TRUE(vantor.readAllStandardOutput().isEmpty());
}

// The real executable, reaching its public services through our server as its HTTP proxy, so nothing leaves
// this machine.
TEST(VantorExecutable, PrintsItsOwnAddressAndLooksItUp)
{
    MiniHttpServer proxy;
    proxy.setResponse("/", { 200, "142.250.7.7\n" });
    // With no configuration, the IP-information service is ip-api.
    const QByteArray ipApiPath = "/json/142.250.7.7?lang=zh-CN&fields=status,message,query,country,regionName,city,isp";
    proxy.setResponse(ipApiPath,
                      { 200,
                        R"({"status":"success","query":"142.250.7.7","country":"中国","regionName":"上海",)"
                        R"("city":"上海","isp":"电信"})" });

    QProcess vantor;
    vantor.setProcessEnvironment(throughProxy(proxy));
    // The default services are asked over HTTPS, which the proxy only tunnels; this one it answers itself.
    vantor.start(QStringLiteral(VANTOR_EXECUTABLE),
                 { QStringLiteral("--my-address-url"), QStringLiteral("http://icanhazip.com/") });
    ASSERT_TRUE(vantor.waitForStarted());

    QByteArray printed;
    const bool lookedUp = QTest::qWaitFor(
        [&] {
            printed += vantor.readAllStandardOutput();
            return proxy.requests().size() >= 2 && printed.endsWith('\n');
        },
        60000);
    vantor.terminate();
    vantor.waitForFinished();
    printed += vantor.readAllStandardOutput();

    ASSERT_TRUE(lookedUp) << vantor.readAllStandardError().toStdString();
    EXPECT_EQ(printed, "142.250.7.7\n");
    ASSERT_EQ(proxy.requests().size(), 2);
    EXPECT_EQ(proxy.requests()[0].pathAndQuery, "/");
    EXPECT_EQ(proxy.requests()[1].pathAndQuery, ipApiPath);
    EXPECT_EQ(proxy.requests()[0].target, "http://icanhazip.com/");
    EXPECT_EQ(proxy.requests()[1].target, "http://ip-api.com" + ipApiPath);
    // Both went to the public services' hosts, by way of the proxy.
    EXPECT_TRUE(proxy.requests()[0].target.startsWith("http://")) << proxy.requests()[0].target.toStdString();
    EXPECT_NE(proxy.requests()[0].host, proxy.requests()[1].host);
    EXPECT_FALSE(proxy.requests()[0].host.startsWith("127.0.0.1"));
}

struct Finished
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Without any display: these must be answered before Qt looks for one.
Finished runWithoutDisplay(const QStringList& arguments, const QString& configHome)
{
    QProcess vantor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    vantor.setProcessEnvironment(environment);
    vantor.start(QStringLiteral(VANTOR_EXECUTABLE), arguments);
    EXPECT_TRUE(vantor.waitForFinished(60000));
    return { vantor.exitStatus() == QProcess::NormalExit ? vantor.exitCode() : -1, vantor.readAllStandardOutput(),
             vantor.readAllStandardError() };
}

TEST(VantorExecutable, AnswersTheCommandLineWithoutADisplay)
{
    QTemporaryDir configHome;
    const Finished help = runWithoutDisplay({ QStringLiteral("--help") }, configHome.path());
    EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
    EXPECT_TRUE(help.out.startsWith("Usage: vantor [options]\n")) << help.out.toStdString();
    for (const char* option : { "--ip-info-format", "--ip-info-url", "--my-address-url", "--version" })
        EXPECT_TRUE(help.out.contains(option)) << option;

    const Finished version = runWithoutDisplay({ QStringLiteral("--version") }, configHome.path());
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QByteArray("vantor ") + platform::kVersion + "\n")) << version.out.toStdString();
    EXPECT_TRUE(version.out.contains("vantor-ip-data")) << "what the bundled databases are";

    const Finished bad
        = runWithoutDisplay({ QStringLiteral("--ip-info-url"), QStringLiteral("ftp://x/") }, configHome.path());
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.out.isEmpty());
    EXPECT_TRUE(bad.err.startsWith("vantor: --ip-info-url: ")) << bad.err.toStdString();
}

// The configuration file points the window at a getipinfo service; a bad key in it is reported and replaced.
TEST(VantorExecutable, ReadsItsConfigurationFile)
{
    MiniHttpServer server;
    server.setResponse("/", { 200, "142.250.7.7\n" });
    QTemporaryDir configHome;
    ASSERT_TRUE(QDir(configHome.path()).mkpath(QStringLiteral("vantor")));
    const QString path = configHome.filePath(QStringLiteral("vantor/vantor.conf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nipInfoFormat=getipinfo\nipInfoUrl=" + server.baseUrl().toUtf8()
               + "/service/getIpInfo.php?ip=\nmyAddressUrl=icanhazip.com\n");
    file.close();

    QProcess vantor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
    vantor.setProcessEnvironment(environment);
    vantor.start(QStringLiteral(VANTOR_EXECUTABLE),
                 { QStringLiteral("--my-address-url"), server.baseUrl() + QStringLiteral("/") });
    ASSERT_TRUE(vantor.waitForStarted());
    const bool lookedUp = QTest::qWaitFor([&] { return server.requests().size() >= 2; }, 60000);
    vantor.terminate();
    vantor.waitForFinished();

    ASSERT_TRUE(lookedUp);
    EXPECT_EQ(server.requests()[1].pathAndQuery, "/service/getIpInfo.php?ip=142.250.7.7");
    const QByteArray err = vantor.readAllStandardError();
    EXPECT_TRUE(err.contains(QStringLiteral("vantor: %1: myAddressUrls: ").arg(path).toUtf8())) << err.toStdString();
}

} // namespace

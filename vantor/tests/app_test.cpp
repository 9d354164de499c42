#include "vantor/testing/MiniHttpServer.h"

#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using vantor::testing::MiniHttpServer;

namespace {

// The real executable, reaching its public services through our server as its HTTP proxy, so nothing leaves
// this machine.
TEST(VantorExecutable, PrintsItsOwnAddressAndLooksItUp)
{
    MiniHttpServer proxy;
    proxy.setResponse("/", { 200, "203.0.113.7\n" });
    proxy.setResponse("/service/getIpInfo.php?ip=203.0.113.7",
                      { 200,
                        R"({"code":0,"data":{"ip":"203.0.113.7","country":"中国","area":"华东","city":"上海",)"
                        R"("isp":"电信"}})" });

    QProcess vantor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("http_proxy"), proxy.baseUrl());
    environment.insert(QStringLiteral("no_proxy"), QString());
    vantor.setProcessEnvironment(environment);
    vantor.start(QStringLiteral(VANTOR_EXECUTABLE), {});
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
    EXPECT_EQ(printed, "203.0.113.7\n");
    ASSERT_EQ(proxy.requests().size(), 2);
    EXPECT_EQ(proxy.requests()[0].pathAndQuery, "/");
    EXPECT_EQ(proxy.requests()[1].pathAndQuery, "/service/getIpInfo.php?ip=203.0.113.7");
    // Both went to the public services' hosts, by way of the proxy.
    EXPECT_TRUE(proxy.requests()[0].target.startsWith("http://")) << proxy.requests()[0].target.toStdString();
    EXPECT_NE(proxy.requests()[0].host, proxy.requests()[1].host);
    EXPECT_FALSE(proxy.requests()[0].host.startsWith("127.0.0.1"));
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/testing/WindowTest.h"

namespace {

using namespace window_test;

struct LaunchCase
{
    const char* name;
    HttpResponse myAddress;
    QByteArray printed;
    QStringList queried; // the addresses the IP-information service is asked about
};

void PrintTo(const LaunchCase& c, std::ostream* os)
{
    *os << c.name;
}

class LaunchTest : public WindowTest, public ::testing::WithParamInterface<LaunchCase>
{
protected:
    std::chrono::milliseconds timeout() const override { return timeoutFor(GetParam().myAddress); }
};

TEST_P(LaunchTest, PrintsAndQueriesTheOwnAddress)
{
    const LaunchCase& c = GetParam();
    server.setResponse("/", c.myAddress);

    controller().awakeFromNib();

    EXPECT_EQ(output.data(), c.printed);
    QStringList expectedTargets { QStringLiteral("/") };
    for (const QString& address : c.queried)
        expectedTargets << QString::fromLatin1(kIpInfoPath) + address;
    EXPECT_EQ(requestedTargets(), expectedTargets);
    EXPECT_TRUE(nib->ipTextField()->text().isEmpty());
    EXPECT_EQ(shown().size(), c.queried.isEmpty() ? 0 : 5);
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LaunchTest,
    ::testing::Values(
        LaunchCase { "AddressAndLineBreak", { 200, "142.250.7.7\n" }, "142.250.7.7\n", { "142.250.7.7" } },
        LaunchCase { "AddressAndCrLf", { 200, "142.250.7.7\r\n" }, "142.250.7.7\n", { "142.250.7.7" } },
        // Only a line break goes: the address keeps its last digit.
        LaunchCase { "AddressWithoutLineBreak", { 200, "151.101.65.1" }, "151.101.65.1\n", { "151.101.65.1" } },
        LaunchCase { "Ipv6Address", { 200, "2001:67c::1\n" }, "2001:67c::1\n", { "2001:67c::1" } },
        LaunchCase { "CaptivePortalPage", { 200, "<html><body>Log in to Wi-Fi</body></html>\n" }, "", {} },
        LaunchCase { "EmptyAnswer", { 200, "" }, "", {} },
        LaunchCase { "NoAnswer", { 200, "", Delivery::Never }, "", {} },
        LaunchCase { "NotUtf8", { 200, "\xff\xfe\n" }, "", {} }),
    [](const ::testing::TestParamInfo<LaunchCase>& info) { return info.param.name; });

TEST_F(WindowTest, LaunchWithoutNetworkSaysSoBesideTheField)
{
    server.setResponse("/", { 200, "", Delivery::Drop });

    nib->launch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return nib->stateLabel()->isVisible(); }));

    EXPECT_TRUE(nib->window()->isVisible());
    EXPECT_TRUE(nib->stateLabel()->text().startsWith(QStringLiteral("没有得到本机的公网地址：127.0.0.1：")))
        << nib->stateLabel()->text().toStdString();
    EXPECT_FALSE(nib->ownAddressLabel()->isVisible());
    EXPECT_TRUE(output.data().isEmpty());
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

// Two providers stand in for the two families of a dual-stack machine; the family is the list's, the answer has to
// match it.
class DualStackTest : public WindowTest
{
protected:
    void launchWith(QStringList paths)
    {
        QStringList urls;
        for (const QString& path : paths)
            urls << server.baseUrl() + path;
        nib.emplace([&] {
            vantor::ServiceConfig config = services();
            config.myAddressUrls = urls;
            return config;
        }());
        nib->controller()->setAddressOutput(&output);
        nib->window()->show();
        controller().awakeFromNib();
        ASSERT_TRUE(QTest::qWaitFor([&] { return controller().ownAddressSearch()->isFinished(); }));
    }
};

TEST_F(DualStackTest, ShowsBothPrintsIpv4FirstAndLooksUpIpv4)
{
    // The first IPv4 provider is dead: it never answers, and nobody waits for it.
    server.setResponse("/dead", { 200, "", Delivery::Never });
    server.setResponse("/v4", { 200, "142.250.7.7\n", Delivery::Trickle, 5 });
    server.setResponse("/v6", { 200, "2001:67c::1\n" });
    launchWith({ "/dead#ipv4", "/v6#ipv6", "/v4#ipv4" });

    EXPECT_EQ(output.data(), "142.250.7.7\n2001:67c::1\n");
    EXPECT_TRUE(nib->ownAddressLabel()->isVisible());
    EXPECT_EQ(nib->ownAddressLabel()->text(),
              QStringLiteral("本机 IPv4：<a href=\"142.250.7.7\">142.250.7.7</a>　"
                             "IPv6：<a href=\"2001:67c::1\">2001:67c::1</a>"));
    EXPECT_TRUE(nib->ownAddressLabel()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    EXPECT_TRUE(nib->ownAddressLabel()->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse));
    EXPECT_EQ(shown(), kShanghaiRows);
    EXPECT_FALSE(nib->stateLabel()->isVisible());
    EXPECT_TRUE(alerts.alerts().isEmpty());

    // Each address is a link to its lookup; the field is left as it was.
    emit nib->ownAddressLabel()->linkActivated(QStringLiteral("2001:67c::1"));
    EXPECT_EQ(shown(), rows("2001:67c::1", "日本", "关东", "东京", "NTT"));
    EXPECT_TRUE(nib->ipTextField()->text().isEmpty());
}

TEST_F(DualStackTest, WithoutIpv4TheIpv6AddressIsLookedUp)
{
    server.setResponse("/v4", { 200, "2001:67c::1\n" }); // the wrong family for this provider
    server.setResponse("/v6", { 200, "2001:67c::1\n", Delivery::Trickle, 5 });
    launchWith({ "/v4#ipv4", "/v6#ipv6" });

    EXPECT_EQ(output.data(), "2001:67c::1\n");
    EXPECT_EQ(nib->ownAddressLabel()->text(), QStringLiteral("本机 IPv6：<a href=\"2001:67c::1\">2001:67c::1</a>"));
    EXPECT_EQ(shown(), rows("2001:67c::1", "日本", "关东", "东京", "NTT"));
    EXPECT_FALSE(nib->stateLabel()->isVisible());
}

} // namespace

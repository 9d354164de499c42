// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/Alert.h"
#include "vantor/extension.h"
#include "vantor/testing/MiniHttpServer.h"

#include <QPainter>
#include <QWidget>
#include <gtest/gtest.h>

using vantor::testing::HttpResponse;
using vantor::testing::MiniHttpServer;
using vantor::testing::timeoutFor;

namespace {

const QString kNetworkMessage = QStringLiteral("连接超时");
const QString kNetworkInformative = QStringLiteral("您的网络不太给力哦！");

using Why = vantor::FetchFailure::Kind;

struct FetchCase
{
    const char* name;
    HttpResponse response;
    bool fails;
    Why why = Why::Network; // when it fails
};

void PrintTo(const FetchCase& c, std::ostream* os)
{
    *os << c.name;
}

class FetchTest : public ::testing::TestWithParam<FetchCase>
{
protected:
    QString url(const char* pathAndQuery) const { return server.baseUrl() + QLatin1String(pathAndQuery); }

    MiniHttpServer server;
    platform::ui::AlertRecorder alerts;
};

QByteArray bytesOfSize(qsizetype size)
{
    return QByteArray(size, 'x');
}

// A port on which nobody listens: one the system just handed out and took back.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

TEST_P(FetchTest, InternetDataGivesAnyBodyAndAlertsOnlyWhenNoneCame)
{
    const FetchCase& c = GetParam();
    server.setResponse("/answer", c.response);

    const std::optional<QByteArray> body = vantor::internetData(url("/answer"), timeoutFor(c.response));

    if (c.fails) {
        EXPECT_EQ(body, std::nullopt);
        ASSERT_EQ(alerts.alerts().size(), 1);
        EXPECT_EQ(alerts.alerts()[0].messageText, kNetworkMessage);
        EXPECT_EQ(alerts.alerts()[0].informativeText, kNetworkInformative);
        EXPECT_EQ(alerts.alerts()[0].window, nullptr);
    } else {
        EXPECT_EQ(body, c.response.body);
        EXPECT_TRUE(alerts.alerts().isEmpty());
    }
    // Qt's transport may send a request again once over a fresh connection when the first one is dropped.
    ASSERT_FALSE(server.requests().isEmpty());
    for (const auto& request : server.requests())
        EXPECT_EQ(request.method, "GET");
}

TEST_P(FetchTest, InitWithInternetStringIsSilent)
{
    const FetchCase& c = GetParam();
    server.setResponse("/answer", c.response);

    const std::optional<QString> text = vantor::initWithInternetString(url("/answer"), timeoutFor(c.response));

    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.fails ? QString() : QString::fromUtf8(c.response.body));
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

TEST_P(FetchTest, FetchAnswerSaysWhyNoneCame)
{
    const FetchCase& c = GetParam();
    server.setResponse("/answer", c.response);

    const platform::Result<vantor::WebAnswer, vantor::FetchFailure> answer
        = vantor::fetchAnswer(vantor::WebRequest { url("/answer") }, timeoutFor(c.response));

    EXPECT_EQ(answer.hasValue(), !c.fails);
    if (c.fails) {
        EXPECT_EQ(answer.error().kind, c.why);
        EXPECT_FALSE(answer.error().reason.isEmpty());
    }
}

using Delivery = HttpResponse::Delivery;

INSTANTIATE_TEST_SUITE_P(
    Answers, FetchTest,
    ::testing::Values(
        FetchCase { "Normal", { 200, "142.250.7.7\n", Delivery::AtOnce }, false },
        FetchCase { "NotFoundPage", { 404, "<html>no such page</html>", Delivery::AtOnce }, false },
        FetchCase { "ServerErrorPage", { 500, "broken", Delivery::AtOnce }, false },
        FetchCase { "EmptyBody", { 200, "", Delivery::AtOnce }, false },
        FetchCase { "NoContent", { 204, "", Delivery::AtOnce }, false },
        FetchCase { "BodyAtTheBound", { 200, bytesOfSize(vantor::kMaxBodySize), Delivery::AtOnce }, false },
        FetchCase { "BodyOverTheBound", { 200, bytesOfSize(vantor::kMaxBodySize + 1), Delivery::AtOnce }, true },
        FetchCase { "NoAnswer", { 200, "late", Delivery::Never }, true, Why::TimedOut },
        // Bytes keep coming, but the whole exchange is bounded, not the silence between them.
        FetchCase { "Trickle", { 200, QByteArray(200, 'x'), Delivery::Trickle, 20 }, true, Why::TimedOut },
        FetchCase { "Dropped", { 200, "", Delivery::Drop }, true, Why::Reset }),
    [](const ::testing::TestParamInfo<FetchCase>& info) { return info.param.name; });

class FetchFailureTest : public ::testing::Test
{
protected:
    MiniHttpServer server;
    platform::ui::AlertRecorder alerts;
};

TEST_F(FetchFailureTest, TextsThatAreNoUrlFailLikeAnUnreachableHost)
{
    const QString base = server.baseUrl();
    const QString texts[] = {
        base + QStringLiteral("/service/getIpInfo.php?ip=1.2 .3.4"),
        base + QStringLiteral("/service/getIpInfo.php?ip=中国"),
        QStringLiteral("127.0.0.1/no-scheme"),
        QString(),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        alerts.clear();
        EXPECT_EQ(vantor::internetData(text), std::nullopt);
        ASSERT_EQ(alerts.alerts().size(), 1);
        EXPECT_EQ(alerts.alerts()[0].messageText, kNetworkMessage);
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(FetchFailureTest, ConnectionRefused)
{
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort());

    EXPECT_EQ(vantor::internetData(url), std::nullopt);
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].informativeText, kNetworkInformative);

    const std::optional<QString> text = vantor::initWithInternetString(url);
    EXPECT_EQ(text, QString());
    EXPECT_EQ(alerts.alerts().size(), 1);

    // The window's alert is the same as for a time-out; vantor-cli tells them apart.
    const auto refused = vantor::fetchAnswer(vantor::WebRequest { url }, std::chrono::seconds(20));
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, vantor::FetchFailure::Kind::Refused);
}

TEST_F(FetchFailureTest, InvalidUtf8GivesNoText)
{
    server.setResponse("/", { 200, "203.0.\xff\xfe" });
    EXPECT_EQ(vantor::initWithInternetString(server.baseUrl() + QLatin1Char('/')), std::nullopt);
    EXPECT_EQ(vantor::initWithInternetString(server.baseUrl() + QLatin1Char('/')), std::nullopt);
    server.setResponse("/", { 200, "中国\n" });
    EXPECT_EQ(vantor::initWithInternetString(server.baseUrl() + QLatin1Char('/')), QStringLiteral("中国\n"));
}

TEST_F(FetchFailureTest, UrlTextIsSentUnchanged)
{
    server.setDefaultResponse({ 200, "ok" });
    const char* targets[]
        = { "/service/getIpInfo.php?ip=142.250.7.7",
            "/service/getIpInfo.php?ip=", "/service/getIpInfo.php?ip=2001:67c::1", "/a/b/?x=1&y=%20" };
    for (const char* target : targets)
        EXPECT_EQ(vantor::internetData(server.baseUrl() + QLatin1String(target)), QByteArray("ok")) << target;

    ASSERT_EQ(server.requests().size(), std::size(targets));
    for (qsizetype i = 0; i < server.requests().size(); ++i)
        EXPECT_EQ(server.requests()[i].target, targets[i]);
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

class PaintCounter : public QWidget
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        QPainter(this).fillRect(rect(), Qt::white);
    }
};

TEST_F(FetchFailureTest, WindowKeepsRepaintingWhileTheCallerWaits)
{
    const HttpResponse silent { 200, "late", Delivery::Never };
    server.setResponse("/slow", silent);
    PaintCounter window;
    window.resize(120, 80);
    window.show();
    window.update();
    const int paintsBefore = window.paints;

    (void)vantor::fetchBody(server.baseUrl() + QStringLiteral("/slow"), timeoutFor(silent));

    EXPECT_GT(window.paints, paintsBefore);
}

TEST_F(FetchFailureTest, AnswerCarriesStatusAndHeaders)
{
    server.setResponse("/limited",
                       { 429, "{}", HttpResponse::Delivery::AtOnce, 20, { { "X-Rl", "0" }, { "X-Ttl", "9" } } });

    const platform::Result<vantor::WebAnswer, vantor::FetchFailure> answer
        = vantor::fetchAnswer(server.baseUrl() + QStringLiteral("/limited"), timeoutFor(HttpResponse {}));

    ASSERT_TRUE(answer.hasValue());
    EXPECT_EQ(answer->status, 429);
    EXPECT_EQ(answer->body, "{}");
    EXPECT_EQ(answer->header("x-rl"), "0");
    EXPECT_EQ(answer->header("X-TTL"), "9");
    EXPECT_EQ(answer->header("X-Missing"), QByteArray());
}

// The bounds users get, written out once: the tests above only read the constants.
TEST(ShippedBounds, FiveSecondsForInformationThreeForTheOwnAddressOneMebibyteABody)
{
    using namespace std::chrono_literals;
    const vantor::ServiceConfig shipped;
    EXPECT_EQ(shipped.ipInfoTimeout, 5000ms);
    EXPECT_EQ(shipped.myAddressTimeout, 3000ms);
    EXPECT_EQ(vantor::kInternetDataTimeout, 5000ms);
    EXPECT_EQ(vantor::kInternetStringTimeout, 3000ms);
    EXPECT_EQ(vantor::kMaxBodySize, 1048576);
}

} // namespace

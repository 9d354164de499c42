// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpApiBatch.h"
#include "vantor/testing/MiniHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

using vantor::IpInfoAnswer;
using vantor::WebAnswer;
using vantor::testing::HttpRequest;
using vantor::testing::HttpResponse;
using vantor::testing::MiniHttpServer;
using Kind = IpInfoAnswer::Kind;
using namespace std::chrono_literals;

const QStringList kAddresses { "142.250.7.7", "2001:67c::1", "9.9.9.10" };

struct BatchAnswerCase
{
    const char* name;
    int status;
    const char* body;
    QList<Kind> kinds; // for kAddresses
    QStringList cities = {}; // of the rows, in order
};

void PrintTo(const BatchAnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReadIpApiBatchAnswerTest : public ::testing::TestWithParam<BatchAnswerCase>
{
};

TEST_P(ReadIpApiBatchAnswerTest, MatchesEntriesByQuery)
{
    const BatchAnswerCase& c = GetParam();
    const vantor::IpApiBatchAnswer read
        = vantor::readIpApiBatchAnswer({ c.status, c.body, { { "X-Rl", "14" }, { "X-Ttl", "60" } } }, kAddresses);
    QList<Kind> kinds;
    QStringList cities;
    for (const IpInfoAnswer& answer : read.answers) {
        kinds << answer.kind;
        if (answer.kind == Kind::Rows)
            cities << answer.values[3].value_or(QString());
    }
    EXPECT_EQ(kinds, c.kinds);
    EXPECT_EQ(cities, c.cities);
    EXPECT_EQ(read.requestsLeft, c.status == 429 ? 0 : 14);
    EXPECT_EQ(read.secondsUntilReset, 60);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadIpApiBatchAnswerTest,
    ::testing::Values(
        BatchAnswerCase { "ReorderedWithAFail",
                          200,
                          R"([{"status":"fail","message":"private range","query":"9.9.9.10"},)"
                          R"({"status":"success","query":"2001:67c::1","city":"东京"},)"
                          R"({"status":"success","query":"142.250.7.7","city":"上海"}])",
                          { Kind::Rows, Kind::Rows, Kind::Rejected },
                          { "上海", "东京" } },
        BatchAnswerCase { "MissingAndStrayEntries",
                          200,
                          R"([{"status":"success","query":"81.2.69.1","city":"x"},)"
                          R"({"status":"success","city":"no query"},{"status":"success","query":"9.9.9.10"}])",
                          { Kind::Unreadable, Kind::Unreadable, Kind::Rows },
                          { "" } },
        BatchAnswerCase { "AnEntryWithoutStatus",
                          200,
                          R"([{"query":"142.250.7.7","city":"上海"}])",
                          { Kind::Unreadable, Kind::Unreadable, Kind::Unreadable } },
        BatchAnswerCase { "NotAnArray",
                          200,
                          R"({"status":"success","query":"142.250.7.7"})",
                          { Kind::Unreadable, Kind::Unreadable, Kind::Unreadable } },
        BatchAnswerCase { "AnArrayWithANonObject",
                          200,
                          R"([{"status":"success","query":"142.250.7.7"},"9.9.9.10"])",
                          { Kind::Unreadable, Kind::Unreadable, Kind::Unreadable } },
        BatchAnswerCase { "NotJson", 200, "<html>", { Kind::Unreadable, Kind::Unreadable, Kind::Unreadable } },
        BatchAnswerCase { "TooManyRequests", 429, "", { Kind::RateLimited, Kind::RateLimited, Kind::RateLimited } }),
    [](const ::testing::TestParamInfo<BatchAnswerCase>& info) { return info.param.name; });

TEST(IpApiBatch, PostsTheAddressesAndRetriesOnceAfterA429)
{
    MiniHttpServer server;
    int answered = 0;
    server.setHandler([&](const HttpRequest& request) {
        if (answered++ == 0)
            return HttpResponse { 429, "", HttpResponse::Delivery::AtOnce, 20, { { "X-Rl", "0" }, { "X-Ttl", "7" } } };
        QJsonArray entries;
        for (const QJsonValue& address : QJsonDocument::fromJson(request.body).array())
            entries.prepend(QJsonObject { { "status", "success" }, { "query", address }, { "city", address } });
        return HttpResponse { 200,
                              QJsonDocument(entries).toJson(),
                              HttpResponse::Delivery::AtOnce,
                              20,
                              { { "X-Rl", "13" }, { "X-Ttl", "50" } } };
    });
    vantor::ServiceConfig services;
    services.ipApiBatchUrl = server.baseUrl() + QStringLiteral("/batch");
    QList<std::chrono::seconds> waits;

    const auto answer
        = vantor::lookUpIpApiBatch(services, kAddresses, [&](std::chrono::seconds pause) { waits << pause; });

    ASSERT_TRUE(answer);
    ASSERT_EQ(server.requests().size(), 2);
    for (const HttpRequest& request : server.requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.pathAndQuery, "/batch?lang=zh-CN&fields=status,message,query,country,regionName,city,isp");
        EXPECT_EQ(request.body, R"(["142.250.7.7","2001:67c::1","9.9.9.10"])");
        EXPECT_EQ(request.contentType, "application/json");
    }
    EXPECT_EQ(waits, QList { 7s });
    ASSERT_EQ(answer->answers.size(), 3);
    for (qsizetype i = 0; i < 3; ++i)
        EXPECT_EQ(answer->answers[i].values[3], kAddresses[i]);
    EXPECT_EQ(answer->requestsLeft, 13);

    // A second 429 leaves the whole request rate-limited; no answer at all is no answer.
    answered = 0;
    server.setHandler([&](const HttpRequest&) { return HttpResponse { 429, "" }; });
    const auto busy
        = vantor::lookUpIpApiBatch(services, kAddresses, [&](std::chrono::seconds pause) { waits << pause; });
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->answers[2].kind, Kind::RateLimited);
    EXPECT_EQ(waits.last(), vantor::kIpApiLongestWait);
    services.ipApiBatchUrl = QStringLiteral("http://127.0.0.1:1/batch");
    const auto unanswered = vantor::lookUpIpApiBatch(services, kAddresses, [](std::chrono::seconds) {});
    ASSERT_FALSE(unanswered);
    EXPECT_EQ(unanswered.error().kind, vantor::FetchFailure::Kind::Refused);
}

} // namespace

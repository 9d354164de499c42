// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/OwnAddress.h"
#include "vantor/testing/MiniHttpServer.h"

#include <gtest/gtest.h>

using vantor::AddressFamily;
using vantor::testing::HttpResponse;
using vantor::testing::MiniHttpServer;
using Delivery = HttpResponse::Delivery;
using namespace std::chrono_literals;

namespace {

TEST(OwnAddress, OnlyTheTrailingLineBreakGoesAndOnlyAnAddressCounts)
{
    struct Case
    {
        const char* answer;
        std::optional<QString> address;
    } const cases[] = {
        { "142.250.7.7\n", QStringLiteral("142.250.7.7") },
        { "142.250.7.7\r\n", QStringLiteral("142.250.7.7") },
        // Without a line break nothing is cut: the last digit stays.
        { "151.101.65.12", QStringLiteral("151.101.65.12") },
        { "2001:67c::8a2e:370:7334\n", QStringLiteral("2001:67c::8a2e:370:7334") },
        { "2001:67C::1", QStringLiteral("2001:67C::1") },
        { "::ffff:81.2.69.1\n", QStringLiteral("::ffff:81.2.69.1") },
        { "", std::nullopt },
        { "\n", std::nullopt },
        { "142.250.7.7\n\n", std::nullopt },
        { "142.250.7.7 \n", std::nullopt },
        { " 142.250.7.7\n", std::nullopt },
        { "142.250.7.7\r", std::nullopt },
        { "<html><head><title>Wi-Fi login</title></head></html>\n", std::nullopt },
        { "1\n", std::nullopt }, // QHostAddress would read 0.0.0.1
        { "127.1\n", std::nullopt },
        { "142.250.7.256\n", std::nullopt },
        { "142.250.7\n", std::nullopt },
        { "2001:67c:::1\n", std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(vantor::ownAddressFromAnswer(QString::fromLatin1(c.answer)), c.address);
    }
}

TEST(OwnAddress, ProviderUrlsNameTheirFamilyInTheFragment)
{
    struct Case
    {
        const char* text;
        bool valid;
        std::optional<AddressFamily> family = std::nullopt;
        const char* url = "";
    } const cases[] = {
        { "https://api.ipify.org/#ipv4", true, AddressFamily::IPv4, "https://api.ipify.org/" },
        { "https://v6.ident.me/#ipv6", true, AddressFamily::IPv6, "https://v6.ident.me/" },
        { "http://icanhazip.com/", true, std::nullopt, "http://icanhazip.com/" },
        { "http://h:8080/ip?x=1#ipv4", true, AddressFamily::IPv4, "http://h:8080/ip?x=1" },
        { "https://h/#IPv6", false },
        { "https://h/#", false },
        { "https://h/#v4", false },
        { "ftp://h/#ipv4", false },
        { "icanhazip.com", false },
        { "https:///#ipv4", false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto provider = vantor::addressProvider(QString::fromLatin1(c.text));
        ASSERT_EQ(provider.hasValue(), c.valid);
        if (!provider) {
            const QString& problem = provider.error().message;
            EXPECT_EQ(provider.error().kind, vantor::VantorError::Kind::BadSetting);
            EXPECT_TRUE(problem.contains(QString::fromLatin1(c.text))) << problem.toStdString();
            continue;
        }
        EXPECT_EQ(provider->family, c.family);
        EXPECT_EQ(provider->url.toString(), QString::fromLatin1(c.url));
    }
}

struct SearchCase
{
    const char* name;
    // Path with its family fragment, and what the server answers there.
    QList<QPair<QByteArray, HttpResponse>> providers;
    std::optional<QString> ipv4;
    std::optional<QString> ipv6;
    const char* lastFailure; // found in it; "" when none may have failed
    std::chrono::milliseconds timeout = 20s;
};

void PrintTo(const SearchCase& c, std::ostream* os)
{
    *os << c.name;
}

class OwnAddressSearchTest : public ::testing::TestWithParam<SearchCase>
{
};

TEST_P(OwnAddressSearchTest, FirstGoodAnswerOfEachFamilyWins)
{
    const SearchCase& c = GetParam();
    MiniHttpServer server;
    QStringList urls;
    for (const auto& [path, response] : c.providers) {
        const QByteArray pathOnly = path.left(path.indexOf('#') < 0 ? path.size() : path.indexOf('#'));
        server.setResponse(pathOnly, response);
        urls << server.baseUrl() + QString::fromLatin1(path);
    }

    vantor::OwnAddressSearch search(urls, c.timeout);
    int settledSignals = 0;
    QObject::connect(&search, &vantor::OwnAddressSearch::settled, [&] { ++settledSignals; });
    search.start();
    search.wait([] { return false; });

    ASSERT_TRUE(search.isFinished());
    EXPECT_TRUE(search.isSettled(AddressFamily::IPv4));
    EXPECT_TRUE(search.isSettled(AddressFamily::IPv6));
    EXPECT_GE(settledSignals, 1);
    EXPECT_LE(settledSignals, 2);
    EXPECT_EQ(search.running(), 0);
    EXPECT_EQ(search.address(AddressFamily::IPv4), c.ipv4);
    EXPECT_EQ(search.address(AddressFamily::IPv6), c.ipv6);
    if (*c.lastFailure)
        EXPECT_TRUE(search.lastFailure().contains(QString::fromUtf8(c.lastFailure)))
            << search.lastFailure().toStdString();
    else
        EXPECT_TRUE(search.lastFailure().isEmpty()) << search.lastFailure().toStdString();
    // Every provider was asked, each once, before any answer came.
    EXPECT_EQ(server.requests().size(), c.providers.size());
}

const HttpResponse kSilent { 200, "", Delivery::Never };
// Slow enough that every request is in before the winner is known.
HttpResponse slowly(const char* body)
{
    return { 200, body, Delivery::Trickle, 20 };
}

INSTANTIATE_TEST_SUITE_P(
    Providers, OwnAddressSearchTest,
    ::testing::Values(
        // Were the silent one waited for, the search would end at its 20 s time-out, with that as its last failure.
        SearchCase { "SilentGarbageGood",
                     { { "/silent#ipv4", kSilent },
                       { "/garbage#ipv4", { 200, "<html>login</html>\n" } },
                       { "/good#ipv4", slowly("142.250.7.7\n") } },
                     QStringLiteral("142.250.7.7"),
                     std::nullopt,
                     "回答不是IP地址" },
        SearchCase { "BothFamiliesAtOnce",
                     { { "/v6#ipv6", slowly("2001:67c::7\n") },
                       { "/v4#ipv4", slowly("142.250.7.7\n") },
                       { "/v4-silent#ipv4", kSilent },
                       { "/v6-silent#ipv6", kSilent } },
                     QStringLiteral("142.250.7.7"),
                     QStringLiteral("2001:67c::7"),
                     "" },
        SearchCase { "OtherFamilysAddressIsRefused",
                     { { "/v4#ipv4", { 200, "2001:67c::7\n" } }, { "/v6#ipv6", { 200, "142.250.7.7\n" } } },
                     std::nullopt,
                     std::nullopt,
                     "地址" },
        SearchCase { "WithoutFamilyTheAnswerDecides",
                     { { "/any", { 200, "2001:67c::7\r\n" } } },
                     std::nullopt,
                     QStringLiteral("2001:67c::7"),
                     "" },
        SearchCase { "ErrorStatusIsNoAnswer",
                     { { "/busy#ipv4", { 503, "142.250.7.7\n" } } },
                     std::nullopt,
                     std::nullopt,
                     "127.0.0.1" },
        SearchCase { "OverlongAnswer",
                     { { "/long#ipv4", { 200, QByteArray(100000, ' ') } } },
                     std::nullopt,
                     std::nullopt,
                     "回答不是IP地址" },
        SearchCase { "TheBoundCoversTheWholeSearch",
                     { { "/a#ipv4", kSilent }, { "/b#ipv6", kSilent }, { "/c", kSilent } },
                     std::nullopt,
                     std::nullopt,
                     "0.3 秒内没有回答",
                     300ms }),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

TEST(OwnAddressSearch, FamilyRefusalNamesTheFamily)
{
    MiniHttpServer server;
    server.setResponse("/v6", { 200, "142.250.7.7\n" });
    const vantor::OwnAddresses found = vantor::findOwnAddresses({ server.baseUrl() + QStringLiteral("/v6#ipv6") }, 20s);
    EXPECT_FALSE(found.ipv4 || found.ipv6);
    EXPECT_EQ(found.lastFailure, QStringLiteral("127.0.0.1：回答不是IPv6地址"));
}

} // namespace

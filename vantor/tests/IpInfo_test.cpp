// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpInfo.h"

#include <gtest/gtest.h>

namespace {

using vantor::InfoRow;
using vantor::IpInfoAnswer;
using vantor::IpInfoFormat;
using vantor::WebAnswer;
using Kind = IpInfoAnswer::Kind;

QList<InfoRow> rows(const char* ip, const char* country, const char* area, const char* city, const char* isp)
{
    return {
        { QStringLiteral("IP"), QString::fromUtf8(ip) },      { QStringLiteral("国家"), QString::fromUtf8(country) },
        { QStringLiteral("地区"), QString::fromUtf8(area) },  { QStringLiteral("城市"), QString::fromUtf8(city) },
        { QStringLiteral("运营商"), QString::fromUtf8(isp) },
    };
}

struct AnswerCase
{
    const char* name;
    const char* body;
    Kind kind;
    QList<InfoRow> rows;
};

void PrintTo(const AnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReadGetIpInfoAnswerTest : public ::testing::TestWithParam<AnswerCase>
{
};

TEST_P(ReadGetIpInfoAnswerTest, Reads)
{
    const AnswerCase& c = GetParam();
    const IpInfoAnswer answer = vantor::ipInfoFormat(IpInfoFormat::GetIpInfo).readAnswer({ 200, c.body, {} });
    EXPECT_EQ(answer.kind, c.kind);
    EXPECT_EQ(answer.rows(), c.rows);
}

const auto kFullRows = rows("203.0.113.7", "中国", "华东", "上海", "电信");

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadGetIpInfoAnswerTest,
    ::testing::Values(
        AnswerCase {
            "Normal",
            R"({"code":0,"data":{"ip":"203.0.113.7","country":"中国","area":"华东","city":"上海","isp":"电信"}})",
            Kind::Rows, kFullRows },
        AnswerCase {
            "MembersInAnotherOrderAndExtraOnes",
            R"({"data":{"isp":"电信","city":"上海","region":"x","area":"华东","country":"中国","ip":"203.0.113.7"},"code":0})",
            Kind::Rows, kFullRows },
        AnswerCase { "EmptyArea",
                     R"({"code":0,"data":{"ip":"203.0.113.7","country":"中国","area":"","city":"上海","isp":"电信"}})",
                     Kind::Rows, rows("203.0.113.7", "中国", "未知", "上海", "电信") },
        AnswerCase { "SpacesAreKept",
                     R"({"code":0,"data":{"ip":"203.0.113.7","country":"中国","area":"  ","city":" ","isp":"电信"}})",
                     Kind::Rows, rows("203.0.113.7", "中国", "  ", " ", "电信") },
        AnswerCase { "MissingOrNonTextMembersAreUnknown",
                     R"({"code":0,"data":{"ip":"203.0.113.7","country":86,"area":null,"isp":["电信"]}})", Kind::Rows,
                     rows("203.0.113.7", "未知", "未知", "未知", "未知") },
        AnswerCase { "CodeTwoIsSuccess",
                     R"({"code":2,"data":{"ip":"a","country":"b","area":"c","city":"d","isp":"e"}})", Kind::Rows,
                     rows("a", "b", "c", "d", "e") },
        AnswerCase { "CodeZeroAsDecimal",
                     R"({"code":0.0,"data":{"ip":"a","country":"b","area":"c","city":"d","isp":"e"}})", Kind::Rows,
                     rows("a", "b", "c", "d", "e") },
        AnswerCase { "CodeOneRejectsWithoutReadingData", R"({"code":1,"data":"invalid ip"})", Kind::Rejected, {} },
        AnswerCase { "CodeOneWithFullData",
                     R"({"code":1,"data":{"ip":"a","country":"b","area":"c","city":"d","isp":"e"}})",
                     Kind::Rejected,
                     {} },
        AnswerCase { "CodeIsReadAsAnInteger", R"({"code":1.5})", Kind::Rejected, {} },
        AnswerCase { "CodeMinusOneIsSuccess", R"({"code":-1,"data":{}})", Kind::Rows,
                     rows("未知", "未知", "未知", "未知", "未知") },
        AnswerCase { "NotJson", "<html>404 Not Found</html>", Kind::Unreadable, {} },
        AnswerCase { "Empty", "", Kind::Unreadable, {} }, AnswerCase { "TopLevelNumber", "1", Kind::Unreadable, {} },
        AnswerCase { "TopLevelText", R"("x")", Kind::Unreadable, {} },
        AnswerCase { "TopLevelArray", R"([{"code":0}])", Kind::Unreadable, {} },
        AnswerCase { "NoCode", R"({"data":{"ip":"a"}})", Kind::Unreadable, {} },
        AnswerCase { "CodeAsText", R"({"code":"1","data":{}})", Kind::Unreadable, {} },
        AnswerCase { "CodeAsBoolean", R"({"code":true,"data":{}})", Kind::Unreadable, {} },
        AnswerCase { "NoData", R"({"code":0})", Kind::Unreadable, {} },
        AnswerCase { "DataNotAnObject", R"({"code":0,"data":["a","b"]})", Kind::Unreadable, {} },
        AnswerCase { "TrailingGarbage", R"({"code":0,"data":{}} x)", Kind::Unreadable, {} }),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

struct IpApiCase
{
    const char* name;
    WebAnswer web;
    Kind kind;
    QList<InfoRow> rows = {};
    std::optional<int> requestsLeft = std::nullopt;
    std::optional<int> secondsUntilReset = std::nullopt;
};

void PrintTo(const IpApiCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReadIpApiAnswerTest : public ::testing::TestWithParam<IpApiCase>
{
};

TEST_P(ReadIpApiAnswerTest, Reads)
{
    const IpApiCase& c = GetParam();
    const IpInfoAnswer answer = vantor::ipInfoFormat(IpInfoFormat::IpApi).readAnswer(c.web);
    EXPECT_EQ(answer.kind, c.kind);
    EXPECT_EQ(answer.rows(), c.rows);
    EXPECT_EQ(answer.requestsLeft, c.requestsLeft);
    EXPECT_EQ(answer.secondsUntilReset, c.secondsUntilReset);
}

WebAnswer ok(const char* body, QList<QPair<QByteArray, QByteArray>> headers = {})
{
    return { 200, QByteArray(body), std::move(headers) };
}

const char kIpApiNormal[] = R"({"status":"success","country":"中国","regionName":"上海","city":"上海",)"
                            R"("isp":"China Telecom","query":"203.0.113.7"})";

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadIpApiAnswerTest,
    ::testing::Values(
        IpApiCase { "Normal", ok(kIpApiNormal), Kind::Rows,
                    rows("203.0.113.7", "中国", "上海", "上海", "China Telecom") },
        IpApiCase { "RateHeadersAreRead", ok(kIpApiNormal, { { "X-Rl", "44" }, { "x-ttl", " 60" } }), Kind::Rows,
                    rows("203.0.113.7", "中国", "上海", "上海", "China Telecom"), 44, 60 },
        IpApiCase { "LastRequestOfTheMinute", ok(kIpApiNormal, { { "X-Rl", "0" }, { "X-Ttl", "17" } }), Kind::Rows,
                    rows("203.0.113.7", "中国", "上海", "上海", "China Telecom"), 0, 17 },
        IpApiCase { "BadRateHeadersAreIgnored", ok(kIpApiNormal, { { "X-Rl", "-1" }, { "X-Ttl", "soon" } }), Kind::Rows,
                    rows("203.0.113.7", "中国", "上海", "上海", "China Telecom") },
        IpApiCase { "Ipv6", ok(R"({"status":"success","query":"2001:db8::1","country":"美国"})"), Kind::Rows,
                    rows("2001:db8::1", "美国", "未知", "未知", "未知") },
        IpApiCase { "EmptyMissingAndNonTextAreUnknownSpacesStay",
                    ok(R"({"status":"success","query":"192.0.2.1","country":"","regionName":" ","city":7})"),
                    Kind::Rows, rows("192.0.2.1", "未知", " ", "未知", "未知") },
        IpApiCase { "Fail", ok(R"({"status":"fail","message":"invalid query","query":"x"})"), Kind::Rejected, {} },
        IpApiCase {
            "TooManyRequests", { 429, "", { { "X-Rl", "0" }, { "X-Ttl", "42" } } }, Kind::RateLimited, {}, 0, 42 },
        // Past the limit the service may say nothing more; no requests are left all the same.
        IpApiCase { "TooManyRequestsWithoutHeaders", { 429, "{}", {} }, Kind::RateLimited, {}, 0 },
        IpApiCase { "NoStatus", ok(R"({"query":"192.0.2.1","country":"中国"})"), Kind::Unreadable, {} },
        IpApiCase { "OtherStatus", ok(R"({"status":"busy"})"), Kind::Unreadable, {} },
        IpApiCase { "GetIpInfoAnswer", ok(R"({"code":0,"data":{"ip":"a"}})"), Kind::Unreadable, {} },
        IpApiCase { "NotJson", { 503, "<html>busy</html>", {} }, Kind::Unreadable, {} },
        IpApiCase { "Empty", ok(""), Kind::Unreadable, {} }),
    [](const ::testing::TestParamInfo<IpApiCase>& info) { return info.param.name; });

TEST(IpInfoFormats, RequestsAppendTheAddressUnchanged)
{
    struct Case
    {
        IpInfoFormat format;
        const char* prefix;
        const char* address;
        const char* url;
    } const cases[] = {
        { IpInfoFormat::IpApi, "http://ip-api.com/json/", "203.0.113.7",
          "http://ip-api.com/json/203.0.113.7?lang=zh-CN&fields=status,message,query,country,regionName,city,isp" },
        { IpInfoFormat::IpApi, "http://h/json/", "2001:db8::1",
          "http://h/json/2001:db8::1?lang=zh-CN&fields=status,message,query,country,regionName,city,isp" },
        { IpInfoFormat::IpApi, "http://h/json/", "",
          "http://h/json/?lang=zh-CN&fields=status,message,query,country,regionName,city,isp" },
        { IpInfoFormat::GetIpInfo, "http://h/service/getIpInfo.php?ip=", "2001:db8::1",
          "http://h/service/getIpInfo.php?ip=2001:db8::1" },
        { IpInfoFormat::GetIpInfo, "http://h/service/getIpInfo.php?ip=", " 1.2.3.4",
          "http://h/service/getIpInfo.php?ip= 1.2.3.4" },
    };
    for (const Case& c : cases) {
        vantor::ServiceConfig services;
        services.ipInfoFormat = c.format;
        services.ipInfoPrefix = QString::fromLatin1(c.prefix);
        EXPECT_EQ(vantor::ipInfoRequestUrl(services, QString::fromLatin1(c.address)), QString::fromLatin1(c.url));
    }
}

TEST(IpInfoFormats, NamesAndDefaults)
{
    ASSERT_NE(vantor::ipInfoFormatNamed(QStringLiteral("ip-api")), nullptr);
    EXPECT_EQ(vantor::ipInfoFormatNamed(QStringLiteral("ip-api"))->format, IpInfoFormat::IpApi);
    EXPECT_EQ(vantor::ipInfoFormatNamed(QStringLiteral("getipinfo"))->format, IpInfoFormat::GetIpInfo);
    EXPECT_EQ(vantor::ipInfoFormatNamed(QStringLiteral("IP-API")), nullptr);
    EXPECT_EQ(vantor::ipInfoFormatNamed(QString()), nullptr);

    // With no configuration at all, Vantor asks ip-api and icanhazip.
    const vantor::ServiceConfig defaults;
    EXPECT_EQ(defaults.ipInfoFormat, IpInfoFormat::IpApi);
    EXPECT_EQ(defaults.ipInfoPrefix, QStringLiteral("http://ip-api.com/json/"));
    EXPECT_EQ(defaults.myAddressUrl, QStringLiteral("http://icanhazip.com/"));
    EXPECT_STREQ(vantor::ipInfoFormat(IpInfoFormat::GetIpInfo).defaultPrefix, "");
}

TEST(IpInfoFormats, RowsAsTabSeparatedLines)
{
    EXPECT_EQ(vantor::rowsAsText(rows("203.0.113.7", "中国", "未知", " ", "电信")),
              QStringLiteral("IP\t203.0.113.7\n国家\t中国\n地区\t未知\n城市\t \n运营商\t电信\n"));
    EXPECT_EQ(vantor::rowsAsText({}), QString());
}

} // namespace

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

const auto kFullRows = rows("142.250.7.7", "中国", "华东", "上海", "电信");

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadGetIpInfoAnswerTest,
    ::testing::Values(
        AnswerCase {
            "Normal",
            R"({"code":0,"data":{"ip":"142.250.7.7","country":"中国","area":"华东","city":"上海","isp":"电信"}})",
            Kind::Rows, kFullRows },
        AnswerCase {
            "MembersInAnotherOrderAndExtraOnes",
            R"({"data":{"isp":"电信","city":"上海","region":"x","area":"华东","country":"中国","ip":"142.250.7.7"},"code":0})",
            Kind::Rows, kFullRows },
        AnswerCase { "EmptyArea",
                     R"({"code":0,"data":{"ip":"142.250.7.7","country":"中国","area":"","city":"上海","isp":"电信"}})",
                     Kind::Rows, rows("142.250.7.7", "中国", "未知", "上海", "电信") },
        AnswerCase { "SpacesAreKept",
                     R"({"code":0,"data":{"ip":"142.250.7.7","country":"中国","area":"  ","city":" ","isp":"电信"}})",
                     Kind::Rows, rows("142.250.7.7", "中国", "  ", " ", "电信") },
        AnswerCase { "MissingOrNonTextMembersAreUnknown",
                     R"({"code":0,"data":{"ip":"142.250.7.7","country":86,"area":null,"isp":["电信"]}})", Kind::Rows,
                     rows("142.250.7.7", "未知", "未知", "未知", "未知") },
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
                            R"("isp":"China Telecom","query":"142.250.7.7"})";

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadIpApiAnswerTest,
    ::testing::Values(
        IpApiCase { "Normal", ok(kIpApiNormal), Kind::Rows,
                    rows("142.250.7.7", "中国", "上海", "上海", "China Telecom") },
        IpApiCase { "RateHeadersAreRead", ok(kIpApiNormal, { { "X-Rl", "44" }, { "x-ttl", " 60" } }), Kind::Rows,
                    rows("142.250.7.7", "中国", "上海", "上海", "China Telecom"), 44, 60 },
        IpApiCase { "LastRequestOfTheMinute", ok(kIpApiNormal, { { "X-Rl", "0" }, { "X-Ttl", "17" } }), Kind::Rows,
                    rows("142.250.7.7", "中国", "上海", "上海", "China Telecom"), 0, 17 },
        IpApiCase { "BadRateHeadersAreIgnored", ok(kIpApiNormal, { { "X-Rl", "-1" }, { "X-Ttl", "soon" } }), Kind::Rows,
                    rows("142.250.7.7", "中国", "上海", "上海", "China Telecom") },
        IpApiCase { "Ipv6", ok(R"({"status":"success","query":"2001:67c::1","country":"美国"})"), Kind::Rows,
                    rows("2001:67c::1", "美国", "未知", "未知", "未知") },
        IpApiCase { "EmptyMissingAndNonTextAreUnknownSpacesStay",
                    ok(R"({"status":"success","query":"81.2.69.1","country":"","regionName":" ","city":7})"),
                    Kind::Rows, rows("81.2.69.1", "未知", " ", "未知", "未知") },
        IpApiCase { "Fail", ok(R"({"status":"fail","message":"invalid query","query":"x"})"), Kind::Rejected, {} },
        IpApiCase {
            "TooManyRequests", { 429, "", { { "X-Rl", "0" }, { "X-Ttl", "42" } } }, Kind::RateLimited, {}, 0, 42 },
        // Past the limit the service may say nothing more; no requests are left all the same.
        IpApiCase { "TooManyRequestsWithoutHeaders", { 429, "{}", {} }, Kind::RateLimited, {}, 0 },
        IpApiCase { "NoStatus", ok(R"({"query":"81.2.69.1","country":"中国"})"), Kind::Unreadable, {} },
        IpApiCase { "OtherStatus", ok(R"({"status":"busy"})"), Kind::Unreadable, {} },
        IpApiCase { "GetIpInfoAnswer", ok(R"({"code":0,"data":{"ip":"a"}})"), Kind::Unreadable, {} },
        IpApiCase { "NotJson", { 503, "<html>busy</html>", {} }, Kind::Unreadable, {} },
        IpApiCase { "Empty", ok(""), Kind::Unreadable, {} }),
    [](const ::testing::TestParamInfo<IpApiCase>& info) { return info.param.name; });

struct HttpsFormatCase
{
    const char* name;
    IpInfoFormat format;
    WebAnswer web;
    Kind kind;
    QList<InfoRow> rows = {};
};

void PrintTo(const HttpsFormatCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReadHttpsFormatAnswerTest : public ::testing::TestWithParam<HttpsFormatCase>
{
};

TEST_P(ReadHttpsFormatAnswerTest, Reads)
{
    const HttpsFormatCase& c = GetParam();
    const IpInfoAnswer answer = vantor::ipInfoFormat(c.format).readAnswer(c.web);
    EXPECT_EQ(answer.kind, c.kind);
    EXPECT_EQ(answer.rows(), c.rows);
}

// As ipwho.is documents its answer, shortened.
const char kIpWhoisNormal[]
    = R"({"ip":"8.8.4.4","success":true,"type":"IPv4","continent":"北美洲","country":"美国","country_code":"US",)"
      R"("region":"加利福尼亚州","city":"山景城","latitude":37.386,"is_eu":false,)"
      R"("connection":{"asn":15169,"org":"Google LLC","isp":"Google LLC","domain":"google.com"},)"
      R"("timezone":{"id":"America/Los_Angeles"}})";
// As ipinfo.io documents its answer.
const char kIpInfoNormal[] = R"({"ip":"8.8.8.8","hostname":"dns.google","city":"Mountain View",)"
                             R"("region":"California","country":"US","loc":"37.4056,-122.0775",)"
                             R"("org":"AS15169 Google LLC","postal":"94043","timezone":"America/Los_Angeles"})";

INSTANTIATE_TEST_SUITE_P(
    Answers, ReadHttpsFormatAnswerTest,
    ::testing::Values(
        HttpsFormatCase { "IpWhoisNormal", IpInfoFormat::IpWhois, ok(kIpWhoisNormal), Kind::Rows,
                          rows("8.8.4.4", "美国", "加利福尼亚州", "山景城", "Google LLC") },
        HttpsFormatCase { "IpWhoisOrgWithoutIsp", IpInfoFormat::IpWhois,
                          ok(R"({"ip":"2001:67c::1","success":true,"country":"日本","region":"",)"
                             R"("connection":{"isp":"","org":"NTT"}})"),
                          Kind::Rows, rows("2001:67c::1", "日本", "未知", "未知", "NTT") },
        HttpsFormatCase { "IpWhoisWrongTypes", IpInfoFormat::IpWhois,
                          ok(R"({"ip":"81.2.69.1","success":true,"country":1,"city":[],"connection":"x"})"), Kind::Rows,
                          rows("81.2.69.1", "未知", "未知", "未知", "未知") },
        HttpsFormatCase { "IpWhoisInvalidAddress", IpInfoFormat::IpWhois,
                          ok(R"({"success":false,"message":"Invalid IP address"})"), Kind::Rejected },
        HttpsFormatCase { "IpWhoisReservedRange", IpInfoFormat::IpWhois,
                          ok(R"({"ip":"127.0.0.1","success":false,"message":"Reserved range"})"), Kind::Rejected },
        HttpsFormatCase { "IpWhoisOtherTrouble", IpInfoFormat::IpWhois,
                          ok(R"({"success":false,"message":"You've hit the monthly limit"})"), Kind::Unreadable },
        HttpsFormatCase { "IpWhoisTooManyRequests", IpInfoFormat::IpWhois, { 429, "", {} }, Kind::RateLimited },
        HttpsFormatCase { "IpWhoisSuccessAsText", IpInfoFormat::IpWhois, ok(R"({"success":"true","ip":"a"})"),
                          Kind::Unreadable },
        HttpsFormatCase { "IpWhoisNotJson", IpInfoFormat::IpWhois, { 502, "<html>bad gateway</html>", {} },
                          Kind::Unreadable },
        HttpsFormatCase { "IpInfoNormal", IpInfoFormat::IpInfo, ok(kIpInfoNormal), Kind::Rows,
                          rows("8.8.8.8", "US", "California", "Mountain View", "AS15169 Google LLC") },
        HttpsFormatCase { "IpInfoMissingAndWrongTypes", IpInfoFormat::IpInfo,
                          ok(R"({"ip":"2001:67c::1","country":"JP","region":null,"org":15169})"), Kind::Rows,
                          rows("2001:67c::1", "JP", "未知", "未知", "未知") },
        HttpsFormatCase { "IpInfoBogon", IpInfoFormat::IpInfo, ok(R"({"ip":"10.0.0.1","bogon":true})"),
                          Kind::Rejected },
        HttpsFormatCase { "IpInfoWrongIp", IpInfoFormat::IpInfo,
                          { 404,
                            R"({"status":404,"error":{"title":"Wrong ip","message":"Please provide a valid IP address"}})",
                            {} },
                          Kind::Rejected },
        HttpsFormatCase { "IpInfoOtherNotFound", IpInfoFormat::IpInfo, { 404, R"({"error":{"title":"x"}})", {} },
                          Kind::Unreadable },
        HttpsFormatCase { "IpInfoTooManyRequests", IpInfoFormat::IpInfo, { 429, "Rate limit exceeded", {} },
                          Kind::RateLimited },
        HttpsFormatCase { "IpInfoTokenUnknown", IpInfoFormat::IpInfo, { 401, R"({"error":"Unknown token"})", {} },
                          Kind::TokenRefused },
        HttpsFormatCase { "IpInfoTokenForbidden", IpInfoFormat::IpInfo, { 403, "", {} }, Kind::TokenRefused },
        HttpsFormatCase { "IpInfoWithoutIp", IpInfoFormat::IpInfo, ok(R"({"country":"US"})"), Kind::Unreadable },
        HttpsFormatCase { "IpInfoBogonAsText", IpInfoFormat::IpInfo, ok(R"({"ip":"10.0.0.1","bogon":"true"})"),
                          Kind::Rows, rows("10.0.0.1", "未知", "未知", "未知", "未知") },
        HttpsFormatCase { "IpInfoTopLevelArray", IpInfoFormat::IpInfo, ok(R"([{"ip":"a"}])"), Kind::Unreadable }),
    [](const ::testing::TestParamInfo<HttpsFormatCase>& info) { return info.param.name; });

TEST(IpInfoFormats, OnlyIpinfoCarriesTheToken)
{
    vantor::ServiceConfig services;
    services.ipInfoFormat = IpInfoFormat::IpInfo;
    services.ipInfoPrefix = QStringLiteral("https://ipinfo.io/");
    vantor::WebRequest request = vantor::ipInfoRequest(services, QStringLiteral("142.250.7.7"));
    EXPECT_EQ(request.url, QStringLiteral("https://ipinfo.io/142.250.7.7/json"));
    EXPECT_TRUE(request.headers.isEmpty());

    services.ipInfoToken = QStringLiteral("0123abcd");
    request = vantor::ipInfoRequest(services, QStringLiteral("2001:67c::1"));
    EXPECT_EQ(request.url, QStringLiteral("https://ipinfo.io/2001:67c::1/json"));
    const vantor::HeaderList expected { { "Authorization", "Bearer 0123abcd" } };
    EXPECT_EQ(request.headers, expected);

    for (IpInfoFormat other : { IpInfoFormat::IpApi, IpInfoFormat::IpWhois, IpInfoFormat::GetIpInfo }) {
        services.ipInfoFormat = other;
        EXPECT_TRUE(vantor::ipInfoRequest(services, QStringLiteral("142.250.7.7")).headers.isEmpty());
    }
    services.ipInfoFormat = IpInfoFormat::IpWhois;
    services.ipInfoPrefix = QStringLiteral("https://ipwho.is/");
    EXPECT_EQ(vantor::ipInfoRequestUrl(services, QStringLiteral("142.250.7.7")),
              QStringLiteral("https://ipwho.is/142.250.7.7?lang=zh-CN"));
}

TEST(IpInfoFormats, RequestsAppendTheAddressUnchanged)
{
    struct Case
    {
        IpInfoFormat format;
        const char* prefix;
        const char* address;
        const char* url;
    } const cases[] = {
        { IpInfoFormat::IpApi, "http://ip-api.com/json/", "142.250.7.7",
          "http://ip-api.com/json/142.250.7.7?lang=zh-CN&fields=status,message,query,country,regionName,city,isp" },
        { IpInfoFormat::IpApi, "http://h/json/", "2001:67c::1",
          "http://h/json/2001:67c::1?lang=zh-CN&fields=status,message,query,country,regionName,city,isp" },
        { IpInfoFormat::IpApi, "http://h/json/", "",
          "http://h/json/?lang=zh-CN&fields=status,message,query,country,regionName,city,isp" },
        { IpInfoFormat::GetIpInfo, "http://h/service/getIpInfo.php?ip=", "2001:67c::1",
          "http://h/service/getIpInfo.php?ip=2001:67c::1" },
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
    EXPECT_EQ(vantor::ipInfoFormatNamed(QStringLiteral("ipwhois"))->format, IpInfoFormat::IpWhois);
    EXPECT_EQ(vantor::ipInfoFormatNamed(QStringLiteral("ipinfo"))->format, IpInfoFormat::IpInfo);
    EXPECT_STREQ(vantor::ipInfoFormat(IpInfoFormat::IpWhois).defaultPrefix, "https://ipwho.is/");
    EXPECT_STREQ(vantor::ipInfoFormat(IpInfoFormat::IpInfo).defaultPrefix, "https://ipinfo.io/");
    EXPECT_EQ(vantor::ipInfoFormatNamed(QStringLiteral("IP-API")), nullptr);
    EXPECT_EQ(vantor::ipInfoFormatNamed(QString()), nullptr);

    // With no configuration at all, Vantor asks ip-api and seven my-address services over HTTPS.
    const vantor::ServiceConfig defaults;
    EXPECT_EQ(defaults.ipInfoFormat, IpInfoFormat::IpApi);
    EXPECT_EQ(defaults.ipInfoPrefix, QStringLiteral("http://ip-api.com/json/"));
    EXPECT_TRUE(defaults.ipInfoToken.isEmpty());
    const QStringList myAddressUrls {
        "https://ipv4.icanhazip.com/#ipv4", "https://api.ipify.org/#ipv4",       "https://v4.ident.me/#ipv4",
        "https://checkip.amazonaws.com/#ipv4", "https://ipv6.icanhazip.com/#ipv6", "https://api6.ipify.org/#ipv6",
        "https://v6.ident.me/#ipv6",
    };
    EXPECT_EQ(defaults.myAddressUrls, myAddressUrls);
    EXPECT_STREQ(vantor::ipInfoFormat(IpInfoFormat::GetIpInfo).defaultPrefix, "");
}

TEST(IpInfoFormats, RowsAsTabSeparatedLines)
{
    EXPECT_EQ(vantor::rowsAsText(rows("142.250.7.7", "中国", "未知", " ", "电信")),
              QStringLiteral("IP\t142.250.7.7\n国家\t中国\n地区\t未知\n城市\t \n运营商\t电信\n"));
    EXPECT_EQ(vantor::rowsAsText({}), QString());
}

} // namespace

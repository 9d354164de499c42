// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Version.h"
#include "vantor/cli/BatchLookup.h"
#include "vantor/testing/IpApiStandIn.h"
#include "vantor/testing/MiniHttpServer.h"
#include "vantor/testing/TestDatabases.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <stdlib.h>
#include <unistd.h>

using vantor::testing::HttpResponse;
using vantor::testing::MiniHttpServer;
using Delivery = HttpResponse::Delivery;
using namespace std::chrono_literals;

namespace {

const QByteArray kFields = "?lang=zh-CN&fields=status,message,query,country,regionName,city,isp";

QByteArray ipApiPath(const char* address)
{
    return "/json/" + QByteArray(address) + kFields;
}

const HttpResponse kShanghai { 200,
                               R"({"status":"success","query":"203.0.113.7","country":"中国","regionName":"上海",)"
                               R"("city":"上海","isp":"电信"})" };
const HttpResponse kNoRegion { 200,
                               R"({"status":"success","query":"2001:db8::1","country":"日本","regionName":"",)"
                               R"("city":"东京","isp":"NTT"})" };
const HttpResponse kFail { 200, R"({"status":"fail","message":"private range","query":"10.0.0.1"})" };
const HttpResponse kBusy { 429, "", Delivery::AtOnce, 20, { { "X-Rl", "0" }, { "X-Ttl", "12" } } };

const char kShanghaiRows[] = "IP\t203.0.113.7\n国家\t中国\n地区\t上海\n城市\t上海\n运营商\t电信\n";
const char kNoRegionRows[] = "IP\t2001:db8::1\n国家\t日本\n地区\t未知\n城市\t东京\n运营商\tNTT\n";

HttpResponse withRateHeaders(HttpResponse response, const char* left, const char* ttl)
{
    response.headers = { { "X-Rl", left } };
    if (ttl)
        response.headers.append(qMakePair(QByteArray("X-Ttl"), QByteArray(ttl)));
    return response;
}

struct BatchCase
{
    const char* name;
    QList<QPair<QByteArray, HttpResponse>> responses;
    QStringList addresses;
    QByteArray out;
    QByteArray err;
    int exitStatus;
    QList<std::chrono::seconds> waits = {};
    qsizetype requests = -1; // unchecked
};

void PrintTo(const BatchCase& c, std::ostream* os)
{
    *os << c.name;
}

class BatchLookupTest : public ::testing::TestWithParam<BatchCase>
{
};

TEST_P(BatchLookupTest, WritesAnswersAndTellsHowItWent)
{
    const BatchCase& c = GetParam();
    MiniHttpServer server;
    for (const auto& [path, response] : c.responses)
        server.setResponse(path, response);
    vantor::ServiceConfig services;
    services.ipInfoPrefix = server.baseUrl() + QStringLiteral("/json/");
    services.myAddressUrls = { server.baseUrl() + QStringLiteral("/") };
    services.ipApiBatchUrl.clear(); // one request per address
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    QList<std::chrono::seconds> waits;

    const int status = vantor::cli::lookUpAll(services, c.addresses, false, out, err,
                                              [&](std::chrono::seconds pause) { waits << pause; });

    EXPECT_EQ(status, c.exitStatus);
    EXPECT_EQ(out.data().toStdString(), c.out.toStdString());
    EXPECT_EQ(err.data().toStdString(), c.err.toStdString());
    EXPECT_EQ(waits, c.waits);
    if (c.requests >= 0) {
        EXPECT_EQ(server.requests().size(), c.requests);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, BatchLookupTest,
    ::testing::Values(BatchCase { "TwoAddresses",
                                  { { ipApiPath("203.0.113.7"), kShanghai }, { ipApiPath("2001:db8::1"), kNoRegion } },
                                  { "203.0.113.7", "2001:db8::1" },
                                  QByteArray(kShanghaiRows) + "\n" + kNoRegionRows,
                                  "",
                                  0 },
                      BatchCase { "OwnAddress",
                                  { { "/", { 200, "203.0.113.7\r\n" } }, { ipApiPath("203.0.113.7"), kShanghai } },
                                  {},
                                  kShanghaiRows,
                                  "",
                                  0 },
                      BatchCase { "OwnAddressIsAPage",
                                  { { "/", { 200, "<html>login</html>\n" } } },
                                  {},
                                  "",
                                  "vantor-cli: 没有得到本机的公网地址：127.0.0.1：回答不是IP地址\n",
                                  3 },
                      BatchCase { "RejectedAndUnreadable",
                                  { { ipApiPath("10.0.0.1"), kFail }, { ipApiPath("203.0.113.7"), kShanghai } },
                                  { "10.0.0.1", "203.0.113.7", "192.0.2.9" },
                                  kShanghaiRows,
                                  "vantor-cli: 10.0.0.1: 查询错误: 您输入的IP有误\n"
                                  "vantor-cli: 192.0.2.9: 查询错误: 无法读取IP信息服务的回答。\n",
                                  1 },
                      BatchCase {
                          "NetworkWinsOverRejected",
                          { { ipApiPath("192.0.2.8"), { 200, "", Delivery::Drop } }, { ipApiPath("10.0.0.1"), kFail } },
                          { "192.0.2.8", "10.0.0.1" },
                          "",
                          "vantor-cli: 192.0.2.8: 连接被重置: 服务器中断了连接。\n"
                          "vantor-cli: 10.0.0.1: 查询错误: 您输入的IP有误\n",
                          3 },
                      BatchCase { "WaitsWhenNoRequestIsLeft",
                                  { { ipApiPath("203.0.113.7"), withRateHeaders(kShanghai, "0", "7") },
                                    { ipApiPath("2001:db8::1"), withRateHeaders(kNoRegion, "0", "5") } },
                                  { "203.0.113.7", "2001:db8::1" },
                                  QByteArray(kShanghaiRows) + "\n" + kNoRegionRows,
                                  "vantor-cli: 查询太频繁，等待 7 秒后继续。\n",
                                  0,
                                  { 7s } },
                      BatchCase { "RepeatedAddressAskedOnceAndNoWaitWhileRequestsAreLeft",
                                  { { ipApiPath("203.0.113.7"), withRateHeaders(kShanghai, "1", "59") } },
                                  { "203.0.113.7", "203.0.113.7" },
                                  QByteArray(kShanghaiRows) + "\n" + kShanghaiRows,
                                  "",
                                  0,
                                  {},
                                  1 },
                      BatchCase { "TooManyRequestsWaitsTooAndAnOverlongResetIsCut",
                                  { { ipApiPath("192.0.2.1"), kBusy },
                                    { ipApiPath("203.0.113.7"), withRateHeaders(kShanghai, "0", "3600") },
                                    { ipApiPath("2001:db8::1"), withRateHeaders(kNoRegion, "0", nullptr) } },
                                  { "192.0.2.1", "203.0.113.7", "2001:db8::1", "203.0.113.7" },
                                  QByteArray(kShanghaiRows) + "\n" + kNoRegionRows + "\n" + kShanghaiRows,
                                  "vantor-cli: 192.0.2.1: 查询错误: 查询太频繁，请稍后再试。\n"
                                  "vantor-cli: 查询太频繁，等待 12 秒后继续。\n"
                                  "vantor-cli: 查询太频繁，等待 60 秒后继续。\n",
                                  1,
                                  { 12s, 60s },
                                  3 }),
    [](const ::testing::TestParamInfo<BatchCase>& info) { return info.param.name; });

TEST(BatchLookup, JsonReport)
{
    MiniHttpServer server;
    server.setResponse(ipApiPath("203.0.113.7"), kShanghai);
    server.setResponse(ipApiPath("2001:db8::1"), kNoRegion);
    server.setResponse(ipApiPath("10.0.0.1"), kFail);
    server.setResponse(ipApiPath("192.0.2.1"), withRateHeaders(kBusy, "1", "12"));
    server.setResponse(ipApiPath("192.0.2.8"), { 200, "", Delivery::Drop });
    vantor::ServiceConfig services;
    services.ipInfoPrefix = server.baseUrl() + QStringLiteral("/json/");
    services.ipApiBatchUrl.clear();
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);

    const QStringList queries { "203.0.113.7", "2001:db8::1", "10.0.0.1", "192.0.2.9", "192.0.2.1", "192.0.2.8" };
    const int status = vantor::cli::lookUpAll(services, queries, true, out, err, [](std::chrono::seconds) {});

    EXPECT_EQ(status, 3);
    QJsonParseError error;
    const QJsonDocument report = QJsonDocument::fromJson(out.data(), &error);
    ASSERT_TRUE(report.isArray()) << error.errorString().toStdString() << out.data().toStdString();
    const auto object = [](const char* json) { return QJsonDocument::fromJson(json).object(); };
    const QJsonArray expected {
        object(R"({"query":"203.0.113.7","ok":true,"ip":"203.0.113.7","country":"中国","region":"上海",)"
               R"("city":"上海","isp":"电信"})"),
        object(R"({"query":"2001:db8::1","ok":true,"ip":"2001:db8::1","country":"日本","region":null,)"
               R"("city":"东京","isp":"NTT"})"),
        object(R"({"query":"10.0.0.1","ok":false,"error":"rejected"})"),
        object(R"({"query":"192.0.2.9","ok":false,"error":"unreadable"})"),
        object(R"({"query":"192.0.2.1","ok":false,"error":"rate-limited"})"),
        object(R"({"query":"192.0.2.8","ok":false,"error":"network"})"),
    };
    EXPECT_EQ(report.array(), expected) << out.data().toStdString();
    // Written element by element, yet byte for byte what QJsonDocument writes for the whole array.
    EXPECT_EQ(out.data().toStdString(), QJsonDocument(expected).toJson().toStdString());
    // A 429 means no request is left, whatever X-Rl says.
    EXPECT_EQ(err.data().toStdString(),
              "vantor-cli: 10.0.0.1: 查询错误: 您输入的IP有误\n"
              "vantor-cli: 192.0.2.9: 查询错误: 无法读取IP信息服务的回答。\n"
              "vantor-cli: 192.0.2.1: 查询错误: 查询太频繁，请稍后再试。\n"
              "vantor-cli: 查询太频繁，等待 12 秒后继续。\n"
              "vantor-cli: 192.0.2.8: 连接被重置: 服务器中断了连接。\n");
}

struct Captured
{
    QBuffer out;
    QBuffer err;
    Captured()
    {
        out.open(QIODevice::WriteOnly);
        err.open(QIODevice::WriteOnly);
    }
};

// A list of addresses read as it comes, against the service at `prefix` (ours unless it is unreachable).
struct StreamCase
{
    const char* name;
    QList<QPair<QByteArray, HttpResponse>> responses;
    QByteArray list; // as standard input, unless there are addresses
    QStringList addresses = {};
    bool unreachable = false;
    bool batch = false;
    qsizetype budget = 1024 * 1024;
    QStringList rows = {}; // of the CSV, after its header
    QByteArray err = {};
    int exitStatus = 0;
    qsizetype requests = 0;
};

void PrintTo(const StreamCase& c, std::ostream* os)
{
    *os << c.name;
}

class StreamTest : public ::testing::TestWithParam<StreamCase>
{
};

TEST_P(StreamTest, AnswersAsTheListComes)
{
    const StreamCase& c = GetParam();
    MiniHttpServer server;
    for (const auto& [path, response] : c.responses)
        server.setResponse(path, response);
    vantor::ServiceConfig services;
    services.ipInfoPrefix = c.unreachable ? QStringLiteral("http://127.0.0.1:1/json/") : server.baseUrl() + "/json/";
    services.ipApiBatchUrl = c.batch ? server.baseUrl() + QStringLiteral("/batch") : QString();
    services.ipInfoTimeout = vantor::testing::timeoutFor({ 200, "", Delivery::Never });
    QByteArray list = c.list;
    QBuffer input(&list);
    input.open(QIODevice::ReadOnly);
    Captured captured;
    vantor::cli::LookupOptions options;
    options.format = vantor::cli::OutputFormat::Csv;
    options.standardInput = &input;
    options.keptAnswersBudget = c.budget;
    QList<vantor::Invocation::AddressSource> sources;
    for (const QString& address : c.addresses)
        sources.append({ vantor::Invocation::AddressSource::Kind::Address, address });
    if (sources.isEmpty())
        sources.append({ vantor::Invocation::AddressSource::Kind::File, QStringLiteral("-") });

    const int status = vantor::cli::lookUp(services, sources, options, captured.out, captured.err, [](auto) {});

    EXPECT_EQ(status, c.exitStatus);
    QStringList rows = QString::fromUtf8(captured.out.data()).split(QStringLiteral("\r\n"));
    EXPECT_EQ(rows.takeFirst(), QStringLiteral("ip,country,region,city,isp,status"));
    EXPECT_EQ(rows.takeLast(), QString());
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(captured.err.data().toStdString(), c.err.toStdString());
    EXPECT_EQ(server.requests().size(), c.requests);
}

QStringList csvRows(const QStringList& addresses, const char* status)
{
    QStringList rows;
    for (const QString& address : addresses)
        rows << address + QStringLiteral(",,,,,") + QLatin1String(status);
    return rows;
}

// 350 distinct addresses for a batch endpoint that never answers: three requests of a hundred, then no more.
StreamCase silentBatchEndpoint()
{
    StreamCase c { "BatchesWithoutAnswerGiveUpToo", {}, {} };
    c.responses = { { "/batch" + kFields, { 200, "", Delivery::Never } } };
    c.batch = true;
    QStringList addresses;
    for (int i = 0; i < 350; ++i) {
        addresses << QStringLiteral("198.51.%1.%2").arg(i / 200).arg(i % 200);
        c.list += addresses.constLast().toUtf8() + '\n';
        if (i < 300)
            c.err += "vantor-cli: " + addresses.constLast().toUtf8() + ": 连接超时: 您的网络不太给力哦！\n";
    }
    c.err += "vantor-cli: 连续 3 次请求没有回应，其余地址不再查询。\n";
    c.rows = csvRows(addresses, "network");
    c.exitStatus = 3;
    c.requests = 3;
    return c;
}

const QByteArray kRefused = ": 连接被拒绝: 服务器没有接受连接。\n";

INSTANTIATE_TEST_SUITE_P(
    Lookups, StreamTest,
    ::testing::Values(
        StreamCase { "ForgottenAnswersAreAskedAgainAndSaidSo",
                     { { ipApiPath("203.0.113.7"), kShanghai }, { ipApiPath("2001:db8::1"), kNoRegion } },
                     "203.0.113.7\n2001:db8::1\n203.0.113.7\n203.0.113.7\n",
                     {},
                     false,
                     false,
                     0,
                     { "203.0.113.7,中国,上海,上海,电信,ok", "2001:db8::1,日本,,东京,NTT,ok",
                       "203.0.113.7,中国,上海,上海,电信,ok", "203.0.113.7,中国,上海,上海,电信,ok" },
                     "vantor-cli: 203.0.113.7: 回答太多，没有全部记住，重复的地址将再次查询。\n",
                     0,
                     4 },
        StreamCase { "GivesUpAfterThreeRequestsWithoutAnswer",
                     {},
                     "192.0.2.1\n192.0.2.2\nbogus\n192.0.2.3\n192.0.2.1\n192.0.2.4\n192.0.2.5\n",
                     {},
                     true,
                     false,
                     1024,
                     { "192.0.2.1,,,,,network", "192.0.2.2,,,,,network", "bogus,,,,,rejected", "192.0.2.3,,,,,network",
                       "192.0.2.1,,,,,network", "192.0.2.4,,,,,network", "192.0.2.5,,,,,network" },
                     "vantor-cli: 192.0.2.1" + kRefused + "vantor-cli: 192.0.2.2" + kRefused
                         + "-:3: not an address: bogus\n"
                           "vantor-cli: 192.0.2.3"
                         + kRefused + "vantor-cli: 192.0.2.1" + kRefused
                         + "vantor-cli: 连续 3 次请求没有回应，其余地址不再查询。\n",
                     3 },
        // The rest is on the command line, so how many are left is known: a repeat of one that failed is none.
        StreamCase {
            "GivingUpCountsWhatIsLeft",
            {},
            {},
            { "192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.1", "192.0.2.5" },
            true,
            false,
            1024,
            csvRows({ "192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.1", "192.0.2.5" }, "network"),
            "vantor-cli: 192.0.2.1" + kRefused + "vantor-cli: 192.0.2.2" + kRefused + "vantor-cli: 192.0.2.3" + kRefused
                + "vantor-cli: 连续 3 次请求没有回应，其余 2 个地址不再查询。\n" + "vantor-cli: 192.0.2.1" + kRefused,
            3 },
        silentBatchEndpoint()),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

TEST(BatchLookup, OwnAddressesOfBothFamilies)
{
    MiniHttpServer server;
    server.setResponse("/v4", { 200, "203.0.113.7\n" });
    server.setResponse("/v6", { 200, "2001:db8::1\n" });
    server.setResponse(ipApiPath("203.0.113.7"), kShanghai);
    server.setResponse(ipApiPath("2001:db8::1"), kNoRegion);
    vantor::ServiceConfig services;
    services.ipInfoPrefix = server.baseUrl() + QStringLiteral("/json/");
    services.myAddressUrls
        = { server.baseUrl() + QStringLiteral("/v6#ipv6"), server.baseUrl() + QStringLiteral("/v4#ipv4") };
    services.ipApiBatchUrl.clear(); // the two own addresses one request each

    Captured lookup;
    EXPECT_EQ(vantor::cli::lookUpAll(services, {}, false, lookup.out, lookup.err, [](std::chrono::seconds) {}), 0);
    EXPECT_EQ(lookup.out.data().toStdString(),
              QByteArray(kShanghaiRows + QByteArray("\n") + kNoRegionRows).toStdString());

    Captured own;
    EXPECT_EQ(vantor::cli::printOwnAddresses(services, false, own.out, own.err), 0);
    EXPECT_EQ(own.out.data(), "203.0.113.7\n2001:db8::1\n");
    EXPECT_TRUE(own.err.data().isEmpty());

    // One family missing is no failure; none is.
    services.myAddressUrls = { server.baseUrl() + QStringLiteral("/v4#ipv6") };
    Captured json;
    EXPECT_EQ(vantor::cli::printOwnAddresses(services, true, json.out, json.err), 3);
    EXPECT_EQ(QJsonDocument::fromJson(json.out.data()).object(),
              QJsonDocument::fromJson(R"({"ipv4":null,"ipv6":null})").object());
    EXPECT_EQ(json.err.data().toStdString(), "vantor-cli: 没有得到本机的公网地址：127.0.0.1：回答不是IPv6地址\n");
    services.myAddressUrls << server.baseUrl() + QStringLiteral("/v6#ipv6");
    Captured half;
    EXPECT_EQ(vantor::cli::printOwnAddresses(services, true, half.out, half.err), 0);
    EXPECT_EQ(QJsonDocument::fromJson(half.out.data()).object(),
              QJsonDocument::fromJson(R"({"ipv4":null,"ipv6":"2001:db8::1"})").object());
}

TEST(BatchLookup, UntrustedCertificateIsANetworkFailureWithItsReason)
{
    MiniHttpServer tls;
    tls.enableTls();
    tls.setResponse("/203.0.113.7?lang=zh-CN", { 200, R"({"success":true,"ip":"203.0.113.7"})" });
    vantor::ServiceConfig services;
    services.ipInfoFormat = vantor::IpInfoFormat::IpWhois;
    services.ipInfoPrefix = tls.baseUrl() + QStringLiteral("/");

    Captured text;
    EXPECT_EQ(vantor::cli::lookUpAll(services, { "203.0.113.7" }, false, text.out, text.err, [](auto) {}), 3);
    EXPECT_TRUE(text.out.data().isEmpty());
    EXPECT_TRUE(text.err.data().startsWith("vantor-cli: 203.0.113.7: 无法安全连接到IP信息服务: "))
        << text.err.data().toStdString();
    EXPECT_GT(text.err.data().size(), qsizetype(strlen("vantor-cli: 203.0.113.7: 无法安全连接到IP信息服务: \n")));
    EXPECT_EQ(text.err.data().count('\n'), 1) << "the reasons on one line";
    Captured json;
    EXPECT_EQ(vantor::cli::lookUpAll(services, { "203.0.113.7" }, true, json.out, json.err, [](auto) {}), 3);
    EXPECT_EQ(QJsonDocument::fromJson(json.out.data()).array(),
              QJsonDocument::fromJson(R"([{"query":"203.0.113.7","ok":false,"error":"insecure"}])").array());
    EXPECT_TRUE(tls.requests().isEmpty());
}

// ip-api's limits, counted on a clock that moves only when vantor-cli waits.
TEST(ListLookup, BatchesInInputOrderAndWaitsOutTheLimit)
{
    MiniHttpServer server;
    double clock = 0;
    vantor::testing::IpApiStandIn standIn(server, 45, 2, [&] { return clock; });
    vantor::ServiceConfig services;
    services.ipApiBatchUrl = server.baseUrl() + QStringLiteral("/batch");
    QByteArray list;
    QStringList expected;
    for (int i = 1; i <= 250; ++i) {
        const QString address = QStringLiteral("198.51.%1.%2").arg(i / 100).arg(i % 100);
        list += address.toUtf8() + '\n';
        expected << address + QStringLiteral(",中国,上海,") + address + QStringLiteral(",电信,ok");
        if (i == 7) {
            list += "10.0.0.1 # private\nbogus\n198.51.0.1\n";
            expected << "10.0.0.1,,,,,rejected"
                     << "bogus,,,,,rejected" << expected.first();
        }
    }
    QBuffer input(&list);
    input.open(QIODevice::ReadOnly);
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    vantor::cli::LookupOptions options;
    options.format = vantor::cli::OutputFormat::Csv;
    options.standardInput = &input;
    QList<std::chrono::seconds> waits;

    const int status
        = vantor::cli::lookUp(services, { { vantor::Invocation::AddressSource::Kind::File, QStringLiteral("-") } },
                              options, out, err, [&](std::chrono::seconds pause) {
                                  waits << pause;
                                  clock += double(pause.count());
                              });

    EXPECT_EQ(status, 1);
    QStringList rows = QString::fromUtf8(out.data()).split(QStringLiteral("\r\n"));
    ASSERT_EQ(rows.takeFirst(), QStringLiteral("ip,country,region,city,isp,status"));
    ASSERT_EQ(rows.takeLast(), QString());
    EXPECT_EQ(rows, expected);
    // 251 distinct addresses: 100 + 100, then the limit of two is used up until the window ends.
    EXPECT_EQ(standIn.batchRequests(), 3);
    EXPECT_EQ(standIn.refused(), 0);
    EXPECT_EQ(waits, QList { 60s });
    EXPECT_EQ(QJsonDocument::fromJson(server.requests().first().body).array().size(), 100);
    EXPECT_EQ(err.data().toStdString(),
              "-:9: not an address: bogus\n"
              "vantor-cli: 10.0.0.1: 查询错误: 您输入的IP有误\n"
              "vantor-cli: 查询太频繁，等待 60 秒后继续。\n");
}

// The executable itself, as a user or help2man runs it: no display, a configuration folder of its own.
class CliExecutableTest : public ::testing::Test
{
protected:
    struct Result
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    // Standard input is a terminal unless there is `input` to pipe in.
    Result run(const QStringList& arguments, const std::optional<QByteArray>& input = std::nullopt)
    {
        QProcess cli;
        // The terminal's other end stays open while the program runs.
        const int terminal = input ? -1 : posix_openpt(O_RDWR | O_NOCTTY);
        if (!input) {
            EXPECT_GE(terminal, 0);
            EXPECT_EQ(grantpt(terminal), 0);
            EXPECT_EQ(unlockpt(terminal), 0);
            cli.setStandardInputFile(QString::fromLocal8Bit(ptsname(terminal)));
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(VANTOR_CLI), arguments);
        EXPECT_TRUE(cli.waitForStarted());
        if (input) {
            cli.write(*input);
            cli.closeWriteChannel();
        }
        // The server answers from this thread's event loop, so the wait must keep it running.
        EXPECT_TRUE(QTest::qWaitFor([&] { return cli.state() == QProcess::NotRunning; }, 60000));
        Result result;
        result.out = cli.readAllStandardOutput();
        result.err = cli.readAllStandardError();
        result.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
        if (terminal >= 0)
            close(terminal);
        return result;
    }

    void writeConfiguration(const QByteArray& contents)
    {
        ASSERT_TRUE(QDir(configHome.path()).mkpath(QStringLiteral("vantor")));
        QFile file(configHome.filePath(QStringLiteral("vantor/vantor.conf")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QStringList local(QStringList arguments) const
    {
        return QStringList { QStringLiteral("--ip-info-url"), server.baseUrl() + QStringLiteral("/json/"),
                             QStringLiteral("--my-address-url"), server.baseUrl() + QStringLiteral("/") }
        + arguments;
    }

    MiniHttpServer server;
    QTemporaryDir configHome;
};

TEST_F(CliExecutableTest, HelpVersionAndBadUsage)
{
    const Result help = run({ QStringLiteral("--help") });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: vantor-cli [options] [ADDRESS | -f FILE]...\n")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("Exit status:"));
    EXPECT_TRUE(help.err.isEmpty()) << help.err.toStdString();

    const Result version = run({ QStringLiteral("--version") });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QByteArray("vantor-cli ") + platform::kVersion + "\n");

    const Result unknown = run({ QStringLiteral("--bogus") });
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.out.isEmpty());
    EXPECT_TRUE(unknown.err.contains("bogus")) << unknown.err.toStdString();

    const Result badValue = run({ QStringLiteral("--ip-info-format"), QStringLiteral("getipinfo"), "192.0.2.1" });
    EXPECT_EQ(badValue.exitCode, 2);
    EXPECT_TRUE(badValue.err.contains("--ip-info-format")) << badValue.err.toStdString();
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(CliExecutableTest, LooksUpAsJsonAndWaitsOutTheRateLimit)
{
    server.setResponse(ipApiPath("203.0.113.7"), withRateHeaders(kShanghai, "0", "1"));
    server.setResponse(ipApiPath("2001:db8::1"), kNoRegion);
    QElapsedTimer clock;
    QList<qint64> requestTimes;
    QObject::connect(&server, &MiniHttpServer::requestReceived, [&] { requestTimes << clock.elapsed(); });
    clock.start();

    const Result result = run(local({ QStringLiteral("--ip-api-batch-url"), QString(), QStringLiteral("--json"),
                                      QStringLiteral("203.0.113.7"), QStringLiteral("2001:db8::1") }));

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonArray report = QJsonDocument::fromJson(result.out).array();
    ASSERT_EQ(report.size(), 2) << result.out.toStdString();
    EXPECT_EQ(report[0].toObject().value(QLatin1String("city")), QStringLiteral("上海"));
    EXPECT_EQ(report[1].toObject().value(QLatin1String("region")), QJsonValue(QJsonValue::Null));
    EXPECT_EQ(result.err, "vantor-cli: 查询太频繁，等待 1 秒后继续。\n");
    // The wait is the point of the exercise: the second request must not come before the limit resets.
    ASSERT_EQ(requestTimes.size(), 2);
    EXPECT_GE(requestTimes[1] - requestTimes[0], 1000);
}

TEST_F(CliExecutableTest, ConfigurationFileChoosesTheServiceAndBadValuesWarn)
{
    writeConfiguration("ipInfoFormat=getipinfo\nipInfoUrl=" + server.baseUrl().toUtf8()
                       + "/service/getIpInfo.php?ip=\nmyAddressUrl=" + server.baseUrl().toUtf8() + "/\n");
    server.setResponse("/", { 200, "198.51.100.1\n" });
    server.setResponse("/service/getIpInfo.php?ip=198.51.100.1",
                       { 200,
                         R"({"code":0,"data":{"ip":"198.51.100.1","country":"美国","area":"",)"
                         R"("city":"旧金山","isp":"ISP"}})" });

    const Result own = run({});
    EXPECT_EQ(own.exitCode, 0) << own.err.toStdString();
    EXPECT_EQ(own.out, "IP\t198.51.100.1\n国家\t美国\n地区\t未知\n城市\t旧金山\n运营商\tISP\n");

    // The command line wins over the file; the network failure gives 3.
    const Result overridden
        = run({ QStringLiteral("--ip-info-format"), QStringLiteral("ip-api"), QStringLiteral("--ip-info-url"),
                QStringLiteral("http://127.0.0.1:1/json/"), QStringLiteral("192.0.2.1") });
    EXPECT_EQ(overridden.exitCode, 3);
    EXPECT_EQ(overridden.err.toStdString(), "vantor-cli: 192.0.2.1: 连接被拒绝: 服务器没有接受连接。\n");

    writeConfiguration("ipInfoFormat=xml\nmyAddressUrl=" + server.baseUrl().toUtf8() + "/\n");
    server.setResponse(ipApiPath("198.51.100.1"), { 200, R"({"status":"fail"})" });
    const Result badFile = run(local({}));
    EXPECT_EQ(badFile.exitCode, 1);
    const QString conf = configHome.filePath(QStringLiteral("vantor/vantor.conf"));
    EXPECT_TRUE(badFile.err.startsWith(QStringLiteral("vantor-cli: %1: ipInfoFormat: ").arg(conf).toUtf8()))
        << badFile.err.toStdString();
    EXPECT_TRUE(badFile.err.endsWith("vantor-cli: 198.51.100.1: 查询错误: 您输入的IP有误\n"))
        << badFile.err.toStdString();
}

// The HTTPS formats by name, against stand-ins of their documented answers; the token comes from a file and
// reaches ipinfo's service only as a header.
TEST_F(CliExecutableTest, IpwhoisAndIpinfoGiveFiveRows)
{
    server.setResponse("/8.8.4.4?lang=zh-CN",
                       { 200,
                         R"({"ip":"8.8.4.4","success":true,"type":"IPv4","country":"美国","region":"加利福尼亚州",)"
                         R"("city":"山景城","connection":{"asn":15169,"org":"Google LLC","isp":"Google LLC"}})" });
    server.setResponse("/8.8.8.8/json",
                       { 200,
                         R"({"ip":"8.8.8.8","hostname":"dns.google","city":"Mountain View","region":"California",)"
                         R"("country":"US","org":"AS15169 Google LLC"})" });
    const QString tokenFile = configHome.filePath(QStringLiteral("token"));
    QFile file(tokenFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("s3cret\n");
    file.close();

    const Result ipwhois
        = run({ QStringLiteral("--ip-info-format"), QStringLiteral("ipwhois"), QStringLiteral("--ip-info-url"),
                server.baseUrl() + QStringLiteral("/"), QStringLiteral("8.8.4.4") });
    EXPECT_EQ(ipwhois.exitCode, 0) << ipwhois.err.toStdString();
    EXPECT_EQ(ipwhois.out, "IP\t8.8.4.4\n国家\t美国\n地区\t加利福尼亚州\n城市\t山景城\n运营商\tGoogle LLC\n");

    const Result ipinfo = run({ QStringLiteral("--ip-info-format"), QStringLiteral("ipinfo"),
                                QStringLiteral("--ip-info-url"), server.baseUrl() + QStringLiteral("/"),
                                QStringLiteral("--ip-info-token-file"), tokenFile, QStringLiteral("8.8.8.8") });
    EXPECT_EQ(ipinfo.exitCode, 0) << ipinfo.err.toStdString();
    EXPECT_EQ(ipinfo.out, "IP\t8.8.8.8\n国家\tUS\n地区\tCalifornia\n城市\tMountain View\n运营商\tAS15169 Google LLC\n");
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_FALSE(
        server.requests()[0].headers.contains(qMakePair(QByteArray("Authorization"), QByteArray("Bearer s3cret"))));
    EXPECT_TRUE(
        server.requests()[1].headers.contains(qMakePair(QByteArray("Authorization"), QByteArray("Bearer s3cret"))));

    // A refused token: the alert's text, never the token.
    server.setResponse("/8.8.8.8/json", { 403, R"({"error":"forbidden"})" });
    const Result refused = run({ QStringLiteral("--ip-info-format"), QStringLiteral("ipinfo"),
                                 QStringLiteral("--ip-info-url"), server.baseUrl() + QStringLiteral("/"),
                                 QStringLiteral("--ip-info-token-file"), tokenFile, QStringLiteral("8.8.8.8") });
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err.toStdString(), "vantor-cli: 8.8.8.8: 查询错误: IP信息服务拒绝了访问令牌。\n");

    const Result own = run({ QStringLiteral("--own"), QStringLiteral("--my-address-url"),
                             server.baseUrl() + QStringLiteral("/nothing#ipv4") });
    EXPECT_EQ(own.exitCode, 3);
    EXPECT_TRUE(own.out.isEmpty());
    EXPECT_TRUE(own.err.startsWith("vantor-cli: 没有得到本机的公网地址：127.0.0.1：")) << own.err.toStdString();
}

TEST_F(CliExecutableTest, ListFromAPipeGoesToTheBatchEndpoint)
{
    vantor::testing::IpApiStandIn standIn(server, 45, 15, [] { return 0.0; });
    QByteArray list;
    for (int i = 1; i <= 250; ++i)
        list += "203.0.113." + QByteArray::number(i) + '\n';

    const Result result = run({ QStringLiteral("--ip-api-batch-url"), server.baseUrl() + QStringLiteral("/batch"),
                                QStringLiteral("--json"), QStringLiteral("-f"), QStringLiteral("-") },
                              list);

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    const QJsonArray report = QJsonDocument::fromJson(result.out).array();
    ASSERT_EQ(report.size(), 250);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(report[i].toObject().value(QLatin1String("city")), QStringLiteral("203.0.113.%1").arg(i + 1));
    EXPECT_EQ(standIn.batchRequests(), 3);
    EXPECT_EQ(standIn.singleRequests(), 0);
}

TEST_F(CliExecutableTest, LocalDatabaseAsCsvAndItsFailures)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    const QStringList mmdb { QStringLiteral("--ip-info-format"),   QStringLiteral("mmdb"),
                             QStringLiteral("--ip-info-database"), databases.city(),
                             QStringLiteral("--asn-database"),     databases.asn() };

    const Result csv = run(mmdb + QStringList { QStringLiteral("--csv") },
                           "203.0.113.7\n198.51.100.9\n2001:db8::1\n192.0.2.1\nbogus\n203.0.113.7\n");
    EXPECT_EQ(csv.exitCode, 1);
    EXPECT_EQ(csv.out.toStdString(),
              "ip,country,region,city,isp,status\r\n"
              "203.0.113.7,中国,上海,上海,China Telecom,ok\r\n"
              "198.51.100.9,United States,California,\"San Francisco, \"\"SF\"\"\",\"Example, Inc.\",ok\r\n"
              "2001:db8::1,日本,,东京,,ok\r\n"
              "192.0.2.1,,,,,not-found\r\n"
              "bogus,,,,,rejected\r\n"
              "203.0.113.7,中国,上海,上海,China Telecom,ok\r\n");
    EXPECT_EQ(csv.err.toStdString(),
              "vantor-cli: 192.0.2.1: 查询错误: 数据库中没有这个地址。\n-:5: not an address: bogus\n");

    const Result missing
        = run({ QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"), QStringLiteral("--ip-info-database"),
                QStringLiteral("/nonexistent/city.mmdb"), QStringLiteral("203.0.113.7") });
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err.toStdString(), "vantor-cli: 无法打开数据库文件 /nonexistent/city.mmdb。\n");
    EXPECT_TRUE(missing.out.isEmpty());

    const Result noList = run(mmdb + QStringList { QStringLiteral("-f"), QStringLiteral("/nonexistent/list") });
    EXPECT_EQ(noList.exitCode, 2);
    EXPECT_TRUE(noList.err.startsWith("vantor-cli: /nonexistent/list: cannot be read")) << noList.err.toStdString();
    EXPECT_TRUE(server.requests().isEmpty());
}

// A crafted list neither reaches the terminal raw nor takes memory by its size.
TEST_F(CliExecutableTest, ListLinesReachStandardErrorEscapedAndCut)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    const QByteArray overlong(300 * 1024, 'a');
    const Result result = run({ QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"),
                                QStringLiteral("--ip-info-database"), databases.city(), QStringLiteral("--csv"),
                                QStringLiteral("-f"), QStringLiteral("-"), QStringLiteral("203.0.113.7\x1b[2J") },
                              "\x1b]0;TITLE\x07\x1b[2J\n" + overlong + "\n203.0.113.7\n");

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.toStdString(),
              "-:1: not an address: \\x1B]0;TITLE\\x07\\x1B[2J\n"
              "-:2: longer than 1024 bytes, not an address: "
                  + std::string(79, 'a')
                  + "…\n"
                    "vantor-cli: 203.0.113.7\\x1B[2J: 查询错误: 您输入的IP有误\n");
    const QList<QByteArray> rows = result.out.split('\n');
    ASSERT_EQ(rows.size(), 6) << result.out.toStdString();
    EXPECT_EQ(rows[1], "\x1b]0;TITLE\x07\x1b[2J,,,,,rejected\r");
    EXPECT_EQ(rows[2], QByteArray(1024, 'a') + "…,,,,,rejected\r");
    EXPECT_EQ(rows[3], "203.0.113.7,中国,上海,上海,,ok\r");
    EXPECT_EQ(rows[4], "203.0.113.7\x1b[2J,,,,,rejected\r");
}

// A slow service, then Ctrl-C: the request under way is dropped, and what was written is a whole JSON array.
TEST_F(CliExecutableTest, StoppedJsonIsStillOneArray)
{
    server.setResponse(ipApiPath("203.0.113.7"), kShanghai);
    server.setResponse(ipApiPath("2001:db8::1"), kNoRegion);
    server.setResponse(ipApiPath("192.0.2.1"), { 200, "", Delivery::Never });
    QProcess cli;
    QObject::connect(&server, &MiniHttpServer::requestReceived, [&](const vantor::testing::HttpRequest& request) {
        if (request.pathAndQuery == ipApiPath("192.0.2.1"))
            ::kill(pid_t(cli.processId()), SIGINT);
    });
    cli.start(QStringLiteral(VANTOR_CLI),
              local({ QStringLiteral("--ip-api-batch-url"), QString(), QStringLiteral("--json"), "203.0.113.7",
                      "2001:db8::1", "192.0.2.1", "198.51.100.1" }));
    ASSERT_TRUE(cli.waitForStarted());
    // Well within the request's time-out of 5 seconds, which a stop must not wait for.
    ASSERT_TRUE(QTest::qWaitFor([&] { return cli.state() == QProcess::NotRunning; }, 60000));

    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 130);
    const QByteArray out = cli.readAllStandardOutput();
    const auto object = [](const char* json) { return QJsonDocument::fromJson(json).object(); };
    const QJsonArray answered {
        object(R"({"query":"203.0.113.7","ok":true,"ip":"203.0.113.7","country":"中国","region":"上海",)"
               R"("city":"上海","isp":"电信"})"),
        object(R"({"query":"2001:db8::1","ok":true,"ip":"2001:db8::1","country":"日本","region":null,)"
               R"("city":"东京","isp":"NTT"})"),
    };
    EXPECT_EQ(out.toStdString(), QJsonDocument(answered).toJson().toStdString());
    EXPECT_TRUE(cli.readAllStandardError().isEmpty()) << "the address under way is neither failed nor answered";
    EXPECT_EQ(server.requests().size(), 3);
}

// Standard output is a pipe nobody reads: the first write fails, the run stops there and says why.
TEST_F(CliExecutableTest, ClosedStandardOutputStopsTheRun)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    QTemporaryDir folder;
    QFile list(folder.filePath(QStringLiteral("list")));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    for (int i = 0; i < 5000; ++i)
        list.write("203.0.113.7\n");
    list.write("192.0.2.1\n"); // not in the database: its line would show that the run went on
    list.close();
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]);
    QProcess cli;
    cli.setChildProcessModifier([&] { ::dup2(pipe[1], STDOUT_FILENO); });
    cli.start(QStringLiteral(VANTOR_CLI),
              { QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"), QStringLiteral("--ip-info-database"),
                databases.city(), QStringLiteral("-f"), list.fileName() });
    ASSERT_TRUE(cli.waitForStarted());
    ::close(pipe[1]);
    ASSERT_TRUE(cli.waitForFinished(60000));

    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit) << "not ended by SIGPIPE";
    EXPECT_EQ(cli.exitCode(), 141);
    const QByteArray err = cli.readAllStandardError();
    EXPECT_EQ(err.toStdString(), "vantor-cli: standard output was closed; stopping\n");
}

} // namespace

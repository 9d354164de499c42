// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/testing/CliTest.h"

namespace {

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
                                  { { ipApiPath("142.250.7.7"), kShanghai }, { ipApiPath("2001:67c::1"), kNoRegion } },
                                  { "142.250.7.7", "2001:67c::1" },
                                  QByteArray(kShanghaiRows) + "\n" + kNoRegionRows,
                                  "",
                                  0 },
                      BatchCase { "OwnAddress",
                                  { { "/", { 200, "142.250.7.7\r\n" } }, { ipApiPath("142.250.7.7"), kShanghai } },
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
                                  { { ipApiPath("9.9.9.10"), kFail }, { ipApiPath("142.250.7.7"), kShanghai } },
                                  { "9.9.9.10", "142.250.7.7", "81.2.69.9" },
                                  kShanghaiRows,
                                  "vantor-cli: 9.9.9.10: 查询错误: 您输入的IP有误\n"
                                  "vantor-cli: 81.2.69.9: 查询错误: 无法读取IP信息服务的回答。\n",
                                  1 },
                      BatchCase {
                          "NetworkWinsOverRejected",
                          { { ipApiPath("81.2.69.8"), { 200, "", Delivery::Drop } }, { ipApiPath("9.9.9.10"), kFail } },
                          { "81.2.69.8", "9.9.9.10" },
                          "",
                          "vantor-cli: 81.2.69.8: 连接被重置: 服务器中断了连接。\n"
                          "vantor-cli: 9.9.9.10: 查询错误: 您输入的IP有误\n",
                          3 },
                      BatchCase { "WaitsWhenNoRequestIsLeft",
                                  { { ipApiPath("142.250.7.7"), withRateHeaders(kShanghai, "0", "7") },
                                    { ipApiPath("2001:67c::1"), withRateHeaders(kNoRegion, "0", "5") } },
                                  { "142.250.7.7", "2001:67c::1" },
                                  QByteArray(kShanghaiRows) + "\n" + kNoRegionRows,
                                  "vantor-cli: 查询太频繁，等待 7 秒后继续。\n",
                                  0,
                                  { 7s } },
                      BatchCase { "RepeatedAddressAskedOnceAndNoWaitWhileRequestsAreLeft",
                                  { { ipApiPath("142.250.7.7"), withRateHeaders(kShanghai, "1", "59") } },
                                  { "142.250.7.7", "142.250.7.7" },
                                  QByteArray(kShanghaiRows) + "\n" + kShanghaiRows,
                                  "",
                                  0,
                                  {},
                                  1 },
                      BatchCase { "TooManyRequestsWaitsTooAndAnOverlongResetIsCut",
                                  { { ipApiPath("81.2.69.1"), kBusy },
                                    { ipApiPath("142.250.7.7"), withRateHeaders(kShanghai, "0", "3600") },
                                    { ipApiPath("2001:67c::1"), withRateHeaders(kNoRegion, "0", nullptr) } },
                                  { "81.2.69.1", "142.250.7.7", "2001:67c::1", "142.250.7.7" },
                                  QByteArray(kShanghaiRows) + "\n" + kNoRegionRows + "\n" + kShanghaiRows,
                                  "vantor-cli: 81.2.69.1: 查询错误: 查询太频繁，请稍后再试。\n"
                                  "vantor-cli: 查询太频繁，等待 12 秒后继续。\n"
                                  "vantor-cli: 查询太频繁，等待 60 秒后继续。\n",
                                  1,
                                  { 12s, 60s },
                                  3 }),
    [](const ::testing::TestParamInfo<BatchCase>& info) { return info.param.name; });

TEST(BatchLookup, JsonReport)
{
    MiniHttpServer server;
    server.setResponse(ipApiPath("142.250.7.7"), kShanghai);
    server.setResponse(ipApiPath("2001:67c::1"), kNoRegion);
    server.setResponse(ipApiPath("9.9.9.10"), kFail);
    server.setResponse(ipApiPath("81.2.69.1"), withRateHeaders(kBusy, "1", "12"));
    server.setResponse(ipApiPath("81.2.69.8"), { 200, "", Delivery::Drop });
    vantor::ServiceConfig services;
    services.ipInfoPrefix = server.baseUrl() + QStringLiteral("/json/");
    services.ipApiBatchUrl.clear();
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);

    const QStringList queries { "142.250.7.7", "2001:67c::1", "9.9.9.10", "81.2.69.9", "81.2.69.1", "81.2.69.8" };
    const int status = vantor::cli::lookUpAll(services, queries, true, out, err, [](std::chrono::seconds) {});

    EXPECT_EQ(status, 3);
    QJsonParseError error;
    const QJsonDocument report = QJsonDocument::fromJson(out.data(), &error);
    ASSERT_TRUE(report.isArray()) << error.errorString().toStdString() << out.data().toStdString();
    const auto object = [](const char* json) { return QJsonDocument::fromJson(json).object(); };
    const QJsonArray expected {
        object(R"({"query":"142.250.7.7","ok":true,"ip":"142.250.7.7","country":"中国","region":"上海",)"
               R"("city":"上海","isp":"电信","network":null})"),
        object(R"({"query":"2001:67c::1","ok":true,"ip":"2001:67c::1","country":"日本","region":null,)"
               R"("city":"东京","isp":"NTT","network":null})"),
        object(R"({"query":"9.9.9.10","ok":false,"error":"rejected"})"),
        object(R"({"query":"81.2.69.9","ok":false,"error":"unreadable"})"),
        object(R"({"query":"81.2.69.1","ok":false,"error":"rate-limited"})"),
        object(R"({"query":"81.2.69.8","ok":false,"error":"network"})"),
    };
    EXPECT_EQ(report.array(), expected) << out.data().toStdString();
    // Written element by element, yet byte for byte what QJsonDocument writes for the whole array.
    EXPECT_EQ(out.data().toStdString(), QJsonDocument(expected).toJson().toStdString());
    // A 429 means no request is left, whatever X-Rl says.
    EXPECT_EQ(err.data().toStdString(),
              "vantor-cli: 9.9.9.10: 查询错误: 您输入的IP有误\n"
              "vantor-cli: 81.2.69.9: 查询错误: 无法读取IP信息服务的回答。\n"
              "vantor-cli: 81.2.69.1: 查询错误: 查询太频繁，请稍后再试。\n"
              "vantor-cli: 查询太频繁，等待 12 秒后继续。\n"
              "vantor-cli: 81.2.69.8: 连接被重置: 服务器中断了连接。\n");
}

TEST(BatchLookup, OwnAddressesOfBothFamilies)
{
    MiniHttpServer server;
    server.setResponse("/v4", { 200, "142.250.7.7\n" });
    server.setResponse("/v6", { 200, "2001:67c::1\n" });
    server.setResponse(ipApiPath("142.250.7.7"), kShanghai);
    server.setResponse(ipApiPath("2001:67c::1"), kNoRegion);
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
    EXPECT_EQ(own.out.data(), "142.250.7.7\n2001:67c::1\n");
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
              QJsonDocument::fromJson(R"({"ipv4":null,"ipv6":"2001:67c::1"})").object());
}

TEST(BatchLookup, UntrustedCertificateIsANetworkFailureWithItsReason)
{
    MiniHttpServer tls;
    tls.enableTls();
    tls.setResponse("/142.250.7.7?lang=zh-CN", { 200, R"({"success":true,"ip":"142.250.7.7"})" });
    vantor::ServiceConfig services;
    services.ipInfoFormat = vantor::IpInfoFormat::IpWhois;
    services.ipInfoPrefix = tls.baseUrl() + QStringLiteral("/");

    Captured text;
    EXPECT_EQ(vantor::cli::lookUpAll(services, { "142.250.7.7" }, false, text.out, text.err, [](auto) {}), 3);
    EXPECT_TRUE(text.out.data().isEmpty());
    EXPECT_TRUE(text.err.data().startsWith("vantor-cli: 142.250.7.7: 无法安全连接到IP信息服务: "))
        << text.err.data().toStdString();
    EXPECT_GT(text.err.data().size(), qsizetype(strlen("vantor-cli: 142.250.7.7: 无法安全连接到IP信息服务: \n")));
    EXPECT_EQ(text.err.data().count('\n'), 1) << "the reasons on one line";
    Captured json;
    EXPECT_EQ(vantor::cli::lookUpAll(services, { "142.250.7.7" }, true, json.out, json.err, [](auto) {}), 3);
    EXPECT_EQ(QJsonDocument::fromJson(json.out.data()).array(),
              QJsonDocument::fromJson(R"([{"query":"142.250.7.7","ok":false,"error":"insecure"}])").array());
    EXPECT_TRUE(tls.requests().isEmpty());
}

// Special-purpose addresses are answered at once in every format, by every way of looking up, and never reach a
// service or a database; the public addresses among them are asked as before.
TEST(SpecialLookup, AnsweredInEveryFormatWithoutARequest)
{
    const struct
    {
        const char* address;
        const char* block; // null for a public address
        const char* name;
        const char* rfc;
    } rows[] = {
        { "192.168.1.1", "192.168.0.0/16", "私有网络", "RFC 1918" },
        { "142.250.7.7", nullptr, nullptr, nullptr },
        { "2001:db8::7", "2001:db8::/32", "文档示例地址", "RFC 3849" },
        { "2001:67c::1", nullptr, nullptr, nullptr },
        { "::ffff:100.64.0.9", "100.64.0.0/10", "共享地址空间", "RFC 6598" },
    };
    const QStringList publics { "142.250.7.7", "2001:67c::1" };
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    enum class Way { Single, Batch, Local };
    for (const Way way : { Way::Single, Way::Batch, Way::Local }) {
        for (const auto format :
             { vantor::cli::OutputFormat::Text, vantor::cli::OutputFormat::Csv, vantor::cli::OutputFormat::Json }) {
            SCOPED_TRACE(int(way) * 10 + int(format));
            MiniHttpServer server;
            vantor::testing::IpApiStandIn standIn(server, 45, 15, [] { return 0.0; });
            vantor::ServiceConfig services;
            services.ipInfoPrefix = server.baseUrl() + QStringLiteral("/json/");
            services.ipApiBatchUrl = way == Way::Batch ? server.baseUrl() + QStringLiteral("/batch") : QString();
            if (way == Way::Local) {
                services.ipInfoFormat = vantor::IpInfoFormat::Mmdb;
                services.ipInfoDatabases = { databases.city() };
            }
            QList<vantor::cli::AddressSource> sources;
            for (const auto& row : rows)
                sources.append({ vantor::cli::AddressSource::Kind::Address, QString::fromUtf8(row.address) });
            Captured captured;
            vantor::cli::LookupOptions options;
            options.format = format;

            EXPECT_EQ(vantor::cli::lookUp(services, sources, options, captured.out, captured.err, [](auto) {}), 0);
            EXPECT_EQ(captured.err.data().toStdString(), "");
            // Only the public addresses were asked for.
            QStringList asked;
            for (const vantor::testing::HttpRequest& request : server.requests()) {
                if (request.pathAndQuery.startsWith("/batch")) {
                    for (const QJsonValue& address : QJsonDocument::fromJson(request.body).array())
                        asked << address.toString();
                } else {
                    asked << QString::fromUtf8(request.pathAndQuery.mid(6).chopped(kFields.size()));
                }
            }
            EXPECT_EQ(asked, way == Way::Local ? QStringList() : publics);
            EXPECT_EQ(server.requests().size(), way == Way::Single ? 2 : way == Way::Batch ? 1 : 0);

            const QString out = QString::fromUtf8(captured.out.data());
            switch (format) {
            case vantor::cli::OutputFormat::Text: {
                const QStringList answers = out.trimmed().split(QStringLiteral("\n\n"));
                ASSERT_EQ(answers.size(), qsizetype(std::size(rows)));
                for (qsizetype i = 0; i < answers.size(); ++i) {
                    const auto& r = rows[i];
                    if (r.block) {
                        EXPECT_EQ(
                            answers[i],
                            QStringLiteral("IP\t%1\n特殊地址\t%2（%3，%4）").arg(r.address, r.name, r.block, r.rfc));
                    } else {
                        EXPECT_TRUE(answers[i].startsWith(QStringLiteral("IP\t%1\n国家\t").arg(r.address)));
                    }
                }
                break;
            }
            case vantor::cli::OutputFormat::Csv: {
                QStringList lines = out.split(QStringLiteral("\r\n"));
                ASSERT_EQ(lines.takeLast(), QString());
                // No field here holds a comma or a quote: each record is its fields joined by commas.
                const QStringList header = lines.takeFirst().split(QLatin1Char(','));
                ASSERT_EQ(lines.size(), qsizetype(std::size(rows)));
                EXPECT_EQ(header.last(), QStringLiteral("special"));
                for (qsizetype i = 0; i < lines.size(); ++i) {
                    const QStringList fields = lines[i].split(QLatin1Char(','));
                    ASSERT_EQ(fields.size(), header.size());
                    const auto field
                        = [&](const char* column) { return fields[header.indexOf(QLatin1String(column))]; };
                    const auto& r = rows[i];
                    EXPECT_EQ(field("ip"), QString::fromUtf8(r.address));
                    EXPECT_EQ(field("status"), QStringLiteral("ok"));
                    EXPECT_EQ(field("country").isEmpty(), r.block != nullptr);
                    EXPECT_EQ(field("special"), QString::fromUtf8(r.name));
                    if (r.block) {
                        EXPECT_EQ(field("network"), QString::fromUtf8(r.block));
                    }
                }
                break;
            }
            case vantor::cli::OutputFormat::Json: {
                QJsonParseError error {};
                const QJsonArray answers = QJsonDocument::fromJson(captured.out.data(), &error).array();
                ASSERT_EQ(error.error, QJsonParseError::NoError);
                ASSERT_EQ(answers.size(), qsizetype(std::size(rows)));
                for (qsizetype i = 0; i < answers.size(); ++i) {
                    const QJsonObject answer = answers[i].toObject();
                    const auto& r = rows[i];
                    EXPECT_EQ(answer.value(QStringLiteral("query")).toString(), QString::fromUtf8(r.address));
                    EXPECT_EQ(answer.value(QStringLiteral("ip")).toString(), QString::fromUtf8(r.address));
                    EXPECT_TRUE(answer.value(QStringLiteral("ok")).toBool());
                    EXPECT_EQ(answer.value(QStringLiteral("country")).isNull(), r.block != nullptr);
                    if (r.block) {
                        EXPECT_EQ(answer.value(QStringLiteral("special")).toObject(),
                                  (QJsonObject { { "block", r.block }, { "name", r.name }, { "rfc", r.rfc } }));
                    } else {
                        EXPECT_FALSE(answer.contains(QStringLiteral("special")));
                    }
                }
                break;
            }
            }
        }
    }
}

} // namespace

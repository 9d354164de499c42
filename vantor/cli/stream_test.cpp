// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/testing/CliTest.h"

namespace {

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
    QList<vantor::cli::AddressSource> sources;
    for (const QString& address : c.addresses)
        sources.append({ vantor::cli::AddressSource::Kind::Address, address });
    if (sources.isEmpty())
        sources.append({ vantor::cli::AddressSource::Kind::File, QStringLiteral("-") });

    const int status = vantor::cli::lookUp(services, sources, options, captured.out, captured.err, [](auto) {});

    EXPECT_EQ(status, c.exitStatus);
    QStringList rows = QString::fromUtf8(captured.out.data()).split(QStringLiteral("\r\n"));
    EXPECT_EQ(rows.takeFirst(), QStringLiteral("ip,country,region,city,isp,status,network,special"));
    EXPECT_EQ(rows.takeLast(), QString());
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(captured.err.data().toStdString(), c.err.toStdString());
    EXPECT_EQ(server.requests().size(), c.requests);
}

QStringList csvRows(const QStringList& addresses, const char* status)
{
    QStringList rows;
    for (const QString& address : addresses)
        rows << address + QStringLiteral(",,,,,") + QLatin1String(status) + QStringLiteral(",,");
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
                     { { ipApiPath("142.250.7.7"), kShanghai }, { ipApiPath("2001:67c::1"), kNoRegion } },
                     "142.250.7.7\n2001:67c::1\n142.250.7.7\n142.250.7.7\n",
                     {},
                     false,
                     false,
                     0,
                     { "142.250.7.7,中国,上海,上海,电信,ok,,", "2001:67c::1,日本,,东京,NTT,ok,,",
                       "142.250.7.7,中国,上海,上海,电信,ok,,", "142.250.7.7,中国,上海,上海,电信,ok,," },
                     "vantor-cli: 142.250.7.7: 回答太多，没有全部记住，重复的地址将再次查询。\n",
                     0,
                     4 },
        StreamCase { "GivesUpAfterThreeRequestsWithoutAnswer",
                     {},
                     "81.2.69.1\n81.2.69.2\nbogus\n81.2.69.3\n81.2.69.1\n81.2.69.4\n81.2.69.5\n",
                     {},
                     true,
                     false,
                     1024,
                     { "81.2.69.1,,,,,network,,", "81.2.69.2,,,,,network,,", "bogus,,,,,rejected,,",
                       "81.2.69.3,,,,,network,,", "81.2.69.1,,,,,network,,", "81.2.69.4,,,,,network,,",
                       "81.2.69.5,,,,,network,," },
                     "vantor-cli: 81.2.69.1" + kRefused + "vantor-cli: 81.2.69.2" + kRefused
                         + "-:3: not an address: bogus\n"
                           "vantor-cli: 81.2.69.3"
                         + kRefused + "vantor-cli: 81.2.69.1" + kRefused
                         + "vantor-cli: 连续 3 次请求没有回应，其余地址不再查询。\n",
                     3 },
        // The rest is on the command line, so how many are left is known: a repeat of one that failed is none.
        StreamCase {
            "GivingUpCountsWhatIsLeft",
            {},
            {},
            { "81.2.69.1", "81.2.69.2", "81.2.69.3", "81.2.69.4", "81.2.69.1", "81.2.69.5" },
            true,
            false,
            1024,
            csvRows({ "81.2.69.1", "81.2.69.2", "81.2.69.3", "81.2.69.4", "81.2.69.1", "81.2.69.5" }, "network"),
            "vantor-cli: 81.2.69.1" + kRefused + "vantor-cli: 81.2.69.2" + kRefused + "vantor-cli: 81.2.69.3" + kRefused
                + "vantor-cli: 连续 3 次请求没有回应，其余 2 个地址不再查询。\n" + "vantor-cli: 81.2.69.1" + kRefused,
            3 },
        silentBatchEndpoint()),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

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
        expected << address + QStringLiteral(",中国,上海,") + address + QStringLiteral(",电信,ok,,");
        if (i == 7) {
            list += "9.9.9.10 # private\nbogus\n198.51.0.1\n";
            expected << "9.9.9.10,,,,,rejected,,"
                     << "bogus,,,,,rejected,," << expected.first();
        }
    }
    QBuffer input(&list);
    input.open(QIODevice::ReadOnly);
    Captured captured;
    vantor::cli::LookupOptions options;
    options.format = vantor::cli::OutputFormat::Csv;
    options.standardInput = &input;
    QList<std::chrono::seconds> waits;

    const int status
        = vantor::cli::lookUp(services, { { vantor::cli::AddressSource::Kind::File, QStringLiteral("-") } }, options,
                              captured.out, captured.err, [&](std::chrono::seconds pause) {
                                  waits << pause;
                                  clock += double(pause.count());
                              });

    EXPECT_EQ(status, 1);
    QStringList rows = QString::fromUtf8(captured.out.data()).split(QStringLiteral("\r\n"));
    ASSERT_EQ(rows.takeFirst(), QStringLiteral("ip,country,region,city,isp,status,network,special"));
    ASSERT_EQ(rows.takeLast(), QString());
    EXPECT_EQ(rows, expected);
    // 251 distinct addresses: 100 + 100, then the limit of two is used up until the window ends.
    EXPECT_EQ(standIn.batchRequests(), 3);
    EXPECT_EQ(standIn.refused(), 0);
    EXPECT_EQ(waits, QList { 60s });
    EXPECT_EQ(QJsonDocument::fromJson(server.requests().first().body).array().size(), 100);
    EXPECT_EQ(captured.err.data().toStdString(),
              "-:9: not an address: bogus\n"
              "vantor-cli: 9.9.9.10: 查询错误: 您输入的IP有误\n"
              "vantor-cli: 查询太频繁，等待 60 秒后继续。\n");
}

} // namespace

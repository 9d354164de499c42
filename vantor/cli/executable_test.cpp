// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileDescriptor.h"
#include "vantor/testing/CliTest.h"

#include <QScopeGuard>
#include <functional>
#include <sys/stat.h>

namespace {

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

    // Standard input is a terminal unless there is `input` to pipe in or a file to read it from.
    Result run(const QStringList& arguments, const std::optional<QByteArray>& input = std::nullopt,
               const QString& inputFile = {})
    {
        QProcess cli;
        // The terminal's other end stays open while the program runs.
        const int terminal = input || !inputFile.isEmpty() ? -1 : posix_openpt(O_RDWR | O_NOCTTY);
        if (!inputFile.isEmpty())
            cli.setStandardInputFile(inputFile);
        if (terminal >= 0) {
            EXPECT_GE(terminal, 0);
            EXPECT_EQ(grantpt(terminal), 0);
            EXPECT_EQ(unlockpt(terminal), 0);
            cli.setStandardInputFile(QString::fromLocal8Bit(ptsname(terminal)));
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QLatin1String(name));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
        // Bundled databases only where a test puts them, whatever this machine has installed.
        environment.insert(QStringLiteral("XDG_DATA_DIRS"), dataFolders.isEmpty() ? configHome.path() : dataFolders);
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
    QString dataFolders; // XDG_DATA_DIRS when not empty
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
    EXPECT_EQ(version.out,
              QByteArray("vantor-cli ") + platform::kVersion
                  + "\n\nCopyright 2026 The Ostrel and Vantor authors, GPL-3.0-or-later.\n\n"
                    "本地数据库：未安装（软件包 vantor-ip-data）。\n");

    const Result unknown = run({ QStringLiteral("--bogus") });
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.out.isEmpty());
    EXPECT_TRUE(unknown.err.contains("bogus")) << unknown.err.toStdString();

    const Result badValue = run({ QStringLiteral("--ip-info-format"), QStringLiteral("getipinfo"), "81.2.69.1" });
    EXPECT_EQ(badValue.exitCode, 2);
    EXPECT_TRUE(badValue.err.contains("--ip-info-format")) << badValue.err.toStdString();
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(CliExecutableTest, LooksUpAsJsonAndWaitsOutTheRateLimit)
{
    server.setResponse(ipApiPath("142.250.7.7"), withRateHeaders(kShanghai, "0", "1"));
    server.setResponse(ipApiPath("2001:67c::1"), kNoRegion);
    QElapsedTimer clock;
    QList<qint64> requestTimes;
    QObject::connect(&server, &MiniHttpServer::requestReceived, [&] { requestTimes << clock.elapsed(); });
    clock.start();

    const Result result = run(local({ QStringLiteral("--ip-api-batch-url"), QString(), QStringLiteral("--json"),
                                      QStringLiteral("142.250.7.7"), QStringLiteral("2001:67c::1") }));

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
    server.setResponse("/", { 200, "151.101.65.1\n" });
    server.setResponse("/service/getIpInfo.php?ip=151.101.65.1",
                       { 200,
                         R"({"code":0,"data":{"ip":"151.101.65.1","country":"美国","area":"",)"
                         R"("city":"旧金山","isp":"ISP"}})" });

    const Result own = run({});
    EXPECT_EQ(own.exitCode, 0) << own.err.toStdString();
    EXPECT_EQ(own.out, "IP\t151.101.65.1\n国家\t美国\n地区\t未知\n城市\t旧金山\n运营商\tISP\n");

    // The command line wins over the file; the network failure gives 3.
    const Result overridden
        = run({ QStringLiteral("--ip-info-format"), QStringLiteral("ip-api"), QStringLiteral("--ip-info-url"),
                QStringLiteral("http://127.0.0.1:1/json/"), QStringLiteral("81.2.69.1") });
    EXPECT_EQ(overridden.exitCode, 3);
    EXPECT_EQ(overridden.err.toStdString(), "vantor-cli: 81.2.69.1: 连接被拒绝: 服务器没有接受连接。\n");

    writeConfiguration("ipInfoFormat=xml\nmyAddressUrl=" + server.baseUrl().toUtf8() + "/\n");
    server.setResponse(ipApiPath("151.101.65.1"), { 200, R"({"status":"fail"})" });
    const Result badFile = run(local({}));
    EXPECT_EQ(badFile.exitCode, 1);
    const QString conf = configHome.filePath(QStringLiteral("vantor/vantor.conf"));
    EXPECT_TRUE(badFile.err.startsWith(QStringLiteral("vantor-cli: %1: ipInfoFormat: ").arg(conf).toUtf8()))
        << badFile.err.toStdString();
    EXPECT_TRUE(badFile.err.endsWith("vantor-cli: 151.101.65.1: 查询错误: 您输入的IP有误\n"))
        << badFile.err.toStdString();
}

// Standard input is a list only when it is a pipe, a file or a socket: /dev/null, as cron and systemd jobs have it,
// leaves the own addresses to be looked up.
TEST_F(CliExecutableTest, OnlyAPipeAFileOrASocketOnStandardInputIsAList)
{
    server.setResponse("/", { 200, "142.250.7.7\n" });
    server.setResponse(ipApiPath("142.250.7.7"), kShanghai);
    server.setResponse(ipApiPath("2001:67c::1"), kNoRegion);
    QTemporaryDir folder;
    const QString list = folder.filePath(QStringLiteral("list"));
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("2001:67c::1\n");
    file.close();

    const struct
    {
        QString input;
        const char* address;
    } cases[] = { { QStringLiteral("/dev/null"), "142.250.7.7" }, { list, "2001:67c::1" } };
    for (const auto& c : cases) {
        const Result result = run(local({ QStringLiteral("--json") }), std::nullopt, c.input);
        EXPECT_EQ(result.exitCode, 0) << c.input.toStdString() << ": " << result.err.toStdString();
        const QJsonArray answers = QJsonDocument::fromJson(result.out).array();
        ASSERT_EQ(answers.size(), 1) << c.input.toStdString() << ": " << result.out.toStdString();
        EXPECT_EQ(answers[0][QStringLiteral("query")].toString(), QLatin1String(c.address)) << c.input.toStdString();
    }
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
        list += "142.250.7." + QByteArray::number(i) + '\n';

    const Result result = run({ QStringLiteral("--ip-api-batch-url"), server.baseUrl() + QStringLiteral("/batch"),
                                QStringLiteral("--json"), QStringLiteral("-f"), QStringLiteral("-") },
                              list);

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();
    const QJsonArray report = QJsonDocument::fromJson(result.out).array();
    ASSERT_EQ(report.size(), 250);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(report[i].toObject().value(QLatin1String("city")), QStringLiteral("142.250.7.%1").arg(i + 1));
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
                           "142.250.7.7\n151.101.65.9\n2001:67c::1\n81.2.69.1\nbogus\n142.250.7.7\n");
    EXPECT_EQ(csv.exitCode, 1);
    EXPECT_EQ(csv.out.toStdString(),
              "ip,country,region,city,isp,status,network,special\r\n"
              "142.250.7.7,中国,上海,上海,China Telecom,ok,142.250.7.0/24,\r\n"
              "151.101.65.9,United States,California,\"San Francisco, \"\"SF\"\"\",\"Example, Inc.\",ok,"
              "151.101.65.0/24,\r\n"
              "2001:67c::1,日本,,东京,,ok,2001:67c::/32,\r\n"
              "81.2.69.1,,,,,not-found,,\r\n"
              "bogus,,,,,rejected,,\r\n"
              "142.250.7.7,中国,上海,上海,China Telecom,ok,142.250.7.0/24,\r\n");
    EXPECT_EQ(csv.err.toStdString(),
              "vantor-cli: 81.2.69.1: 查询错误: 数据库中没有这个地址。\n-:5: not an address: bogus\n");

    const Result missing
        = run({ QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"), QStringLiteral("--ip-info-database"),
                QStringLiteral("/nonexistent/city.mmdb"), QStringLiteral("142.250.7.7") });
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err.toStdString(), "vantor-cli: 无法打开数据库文件 /nonexistent/city.mmdb。\n");
    EXPECT_TRUE(missing.out.isEmpty());

    const Result noList = run(mmdb + QStringList { QStringLiteral("-f"), QStringLiteral("/nonexistent/list") });
    EXPECT_EQ(noList.exitCode, 2);
    EXPECT_TRUE(noList.err.startsWith("vantor-cli: /nonexistent/list: cannot be read")) << noList.err.toStdString();
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(CliExecutableTest, TheBundledDatabaseIsTheDefaultAndItsAgeIsSaidOnce)
{
    const vantor::testing::TestDatabases databases("flat");
    ASSERT_TRUE(databases.written());
    const QTemporaryDir bundled;
    ASSERT_TRUE(QDir(bundled.path()).mkpath(QStringLiteral("vantor")));
    ASSERT_TRUE(
        QFile::copy(databases.file("flat-country.mmdb"), bundled.filePath(QStringLiteral("vantor/country.mmdb"))));
    dataFolders = bundled.path();
    const QStringList mmdb { QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"), QStringLiteral("--csv") };
    const Result csv = run(mmdb, "8.8.8.8\n2a00:1450::1\n");
    EXPECT_EQ(csv.exitCode, 0);
    EXPECT_EQ(csv.out.toStdString(),
              "ip,country,region,city,isp,status,network,special\r\n"
              "8.8.8.8,美国,,,,ok,8.8.8.0/24,\r\n"
              "2a00:1450::1,德国,,,,ok,2a00:1450::/32,\r\n");
    EXPECT_EQ(csv.err.toStdString(), "vantor-cli: 本地数据库建于 2020-06-01，已超过 180 天，结果可能过时\n");

    const QTemporaryDir none;
    dataFolders = none.path();
    const Result missing = run(mmdb + QStringList { QStringLiteral("8.8.8.8") });
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains("vantor-ip-data")) << missing.err.toStdString();
}

// A line piped in is answered before the next one comes, though the lookups run on threads of their own.
TEST_F(CliExecutableTest, LocalLookupsAnswerEachLineOfAPipeAsItComes)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    QProcess cli;
    cli.start(QStringLiteral(VANTOR_CLI),
              { QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"), QStringLiteral("--ip-info-database"),
                databases.city(), QStringLiteral("--csv") });
    ASSERT_TRUE(cli.waitForStarted());
    QByteArray out;
    for (const char* line : { "142.250.7.7", "bogus", "2001:67c::1" }) {
        cli.write(QByteArray(line) + '\n');
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                out += cli.readAllStandardOutput();
                return out.contains(QByteArray(line) + ',');
            },
            30000))
            << line << " not answered while the pipe stays open: " << out.toStdString();
    }
    cli.closeWriteChannel();
    ASSERT_TRUE(cli.waitForFinished(30000));
    EXPECT_EQ(cli.exitCode(), 1);
}

// -x answers the addresses standing in an argument and in log lines in their order, exactly as a list of those
// addresses is answered; a line without one is passed over silently, and one over the bound is still rejected.
TEST_F(CliExecutableTest, ExtractLooksUpTheAddressesOfLogLinesInOrder)
{
    const vantor::testing::TestDatabases databases("2100"); // 1.0.0.0/16 to 9.51.0.0/16
    ASSERT_TRUE(databases.written());
    const QStringList mmdb { QStringLiteral("--ip-info-format"),
                             QStringLiteral("mmdb"),
                             QStringLiteral("--ip-info-database"),
                             databases.file("bench-city.mmdb"),
                             QStringLiteral("--asn-database"),
                             databases.file("bench-asn.mmdb"),
                             QStringLiteral("--csv") };
    const QByteArray overlong = QByteArray(1100, 'a') + " 1.1.1.1";
    const Result extracted
        = run(mmdb + QStringList { QStringLiteral("-x"), QStringLiteral("from 4.4.4.4:53"), QStringLiteral("-f-") },
              "1.1.1.1 - - [09/Dec/2026:10:00:00 +0000] \"GET /v2.3.4.5 HTTP/1.1\" 200 612\n"
              "sshd[812]: Failed password for root from 9.9.9.9 port 22 ssh2\n"
              "no address at 10:32:01 on 2026-12-09\n"
              "kernel: IN=eth0 SRC=8.8.8.8 DST=2606:4700::1111 LEN=60\n"
              "postfix/smtpd[99]: connect from unknown[2.3.4.5]\n"
                  + overlong + "\n");
    const Result plain = run(mmdb + QStringList { QStringLiteral("4.4.4.4"), QStringLiteral("-f-") },
                             "1.1.1.1\n9.9.9.9\n8.8.8.8\n2606:4700::1111\n2.3.4.5\n");
    ASSERT_EQ(plain.out.count('\n'), 7) << plain.out.toStdString();
    EXPECT_EQ(extracted.exitCode, 1);
    EXPECT_EQ(extracted.out.toStdString(), (plain.out + QByteArray(1024, 'a') + "…,,,,,rejected,,\r\n").toStdString());
    EXPECT_EQ(extracted.err.toStdString(),
              plain.err.toStdString() + "-:6: longer than 1024 bytes, not searched: " + std::string(79, 'a') + "…\n");
}

// A crafted list neither reaches the terminal raw nor takes memory by its size.
TEST_F(CliExecutableTest, ListLinesReachStandardErrorEscapedAndCut)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    const QByteArray overlong(300 * 1024, 'a');
    const Result result = run({ QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"),
                                QStringLiteral("--ip-info-database"), databases.city(), QStringLiteral("--csv"),
                                QStringLiteral("-f"), QStringLiteral("-"), QStringLiteral("142.250.7.7\x1b[2J") },
                              "\x1b]0;TITLE\x07\x1b[2J\n" + overlong + "\n142.250.7.7\n");

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.toStdString(),
              "-:1: not an address: \\x1B]0;TITLE\\x07\\x1B[2J\n"
              "-:2: longer than 1024 bytes, not an address: "
                  + std::string(79, 'a')
                  + "…\n"
                    "vantor-cli: 142.250.7.7\\x1B[2J: 查询错误: 您输入的IP有误\n");
    const QList<QByteArray> rows = result.out.split('\n');
    ASSERT_EQ(rows.size(), 6) << result.out.toStdString();
    EXPECT_EQ(rows[1], "\x1b]0;TITLE\x07\x1b[2J,,,,,rejected,,\r");
    EXPECT_EQ(rows[2], QByteArray(1024, 'a') + "…,,,,,rejected,,\r");
    EXPECT_EQ(rows[3], "142.250.7.7,中国,上海,上海,,ok,142.250.7.0/24,\r");
    EXPECT_EQ(rows[4], "142.250.7.7\x1b[2J,,,,,rejected,,\r");
}

// A slow service, then Ctrl-C: the request under way is dropped, and what was written is a whole JSON array.
TEST_F(CliExecutableTest, StoppedJsonIsStillOneArray)
{
    server.setResponse(ipApiPath("142.250.7.7"), kShanghai);
    server.setResponse(ipApiPath("2001:67c::1"), kNoRegion);
    server.setResponse(ipApiPath("81.2.69.1"), { 200, "", Delivery::Never });
    QProcess cli;
    QObject::connect(&server, &MiniHttpServer::requestReceived, [&](const vantor::testing::HttpRequest& request) {
        if (request.pathAndQuery == ipApiPath("81.2.69.1"))
            ::kill(pid_t(cli.processId()), SIGINT);
    });
    cli.start(QStringLiteral(VANTOR_CLI),
              local({ QStringLiteral("--ip-api-batch-url"), QString(), QStringLiteral("--json"), "142.250.7.7",
                      "2001:67c::1", "81.2.69.1", "151.101.65.1" }));
    ASSERT_TRUE(cli.waitForStarted());
    // Well within the request's time-out of 5 seconds, which a stop must not wait for.
    ASSERT_TRUE(QTest::qWaitFor([&] { return cli.state() == QProcess::NotRunning; }, 60000));

    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 130);
    const QByteArray out = cli.readAllStandardOutput();
    const auto object = [](const char* json) { return QJsonDocument::fromJson(json).object(); };
    const QJsonArray answered {
        object(R"({"query":"142.250.7.7","ok":true,"ip":"142.250.7.7","country":"中国","region":"上海",)"
               R"("city":"上海","isp":"电信","network":null})"),
        object(R"({"query":"2001:67c::1","ok":true,"ip":"2001:67c::1","country":"日本","region":null,)"
               R"("city":"东京","isp":"NTT","network":null})"),
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
        list.write("142.250.7.7\n");
    list.write("81.2.69.1\n"); // not in the database: its line would show that the run went on
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

// A list named with -f is a regular file or a FIFO. A device or a folder is refused before any lookup; a FIFO whose
// writer comes late and then waits, even in the middle of a line without end, gives way to SIGTERM as standard
// input does: status 130, the answers so far in a closed JSON array.
TEST_F(CliExecutableTest, ListFilesAreRefusedOrGiveWayToSigterm)
{
    const vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    QTemporaryDir folder;
    const QString fifo = folder.filePath(QStringLiteral("fifo"));
    const QByteArray folderName = folder.path().toUtf8();
    const QByteArray endless(64 * 1024, 'a');
    // The endless writer writes on until the program is gone: EPIPE then, not the test's end.
    const auto pipeSignal = std::signal(SIGPIPE, SIG_IGN);
    const auto restore = qScopeGuard([&] { std::signal(SIGPIPE, pipeSignal); });
    const struct
    {
        const char* name;
        QString list; // a FIFO the test writes to when it is `fifo`
        QByteArray written; // into the FIFO, again and again when it is `endless`
        QStringList queries; // of the JSON array at status 130; none for a list refused with status 2
        QByteArray err; // standard error holds it, and nothing more for a refused list
    } cases[] = {
        { "a FIFO whose writer waits", fifo, "142.250.7.7\n", { "2001:67c::1", "142.250.7.7" }, {} },
        { "a FIFO with an endless line",
          fifo,
          endless,
          { "2001:67c::1", QString(1024, 'a') + QChar(0x2026) },
          ":1: longer than 1024 bytes, not an address: aaaa" },
        { "a device", "/dev/zero", {}, {}, "vantor-cli: /dev/zero: cannot be read: 这是一个设备文件，不是普通文件\n" },
        { "a folder",
          folder.path(),
          {},
          {},
          "vantor-cli: " + folderName + ": cannot be read: 这是一个文件夹，不是普通文件\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool endlessLine = c.written == endless;
        QFile::remove(fifo);
        ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QProcess cli;
        cli.start(QStringLiteral(VANTOR_CLI),
                  { QStringLiteral("--ip-info-format"), QStringLiteral("mmdb"), QStringLiteral("--ip-info-database"),
                    databases.city(), QStringLiteral("--json"), QStringLiteral("2001:67c::1"), QStringLiteral("-f"),
                    c.list });
        ASSERT_TRUE(cli.waitForStarted());
        QByteArray out;
        const auto within = [&](const std::function<bool()>& done) {
            return QTest::qWaitFor(
                [&] {
                    out += cli.readAllStandardOutput();
                    return done() || cli.state() == QProcess::NotRunning;
                },
                20000);
        };
        // The writer opens only once the program has the FIFO open, and never closes while it runs.
        platform::FileDescriptor writer;
        qint64 written = 0;
        const auto feed = [&] {
            if (!writer.isOpen())
                writer.reset(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            if (writer.isOpen() && (endlessLine || written == 0))
                written += std::max<ssize_t>(0, ::write(writer.get(), c.written.constData(), c.written.size()));
            return written;
        };
        if (c.list == fifo) {
            // A line answered, or far more of one than the pipe holds read: the program is reading.
            EXPECT_TRUE(within([&] {
                return feed() > 0 && (endlessLine ? written > 4 * endless.size() : out.contains("142.250.7.7"));
            }));
            // processId() is 0 once the program ended, and kill(0) would stop the test's own group.
            if (const pid_t running = pid_t(cli.processId()); running > 0)
                ::kill(running, SIGTERM);
        }
        // The endless line goes on while the program ends.
        if (!within([&] {
                if (endlessLine)
                    feed();
                return false;
            })) {
            cli.kill();
            cli.waitForFinished();
            ADD_FAILURE() << "still running";
        }
        out += cli.readAllStandardOutput();
        const QByteArray err = cli.readAllStandardError();

        EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(cli.exitCode(), c.queries.isEmpty() ? 2 : 130) << err.toStdString();
        if (c.queries.isEmpty()) {
            EXPECT_TRUE(out.isEmpty()) << out.toStdString();
            EXPECT_EQ(err.toStdString(), c.err.toStdString());
            continue;
        }
        QJsonParseError error {};
        const QJsonArray answers = QJsonDocument::fromJson(out, &error).array();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << out.toStdString();
        QStringList queries;
        for (const QJsonValue& answer : answers)
            queries << answer[QStringLiteral("query")].toString();
        EXPECT_EQ(queries.join(QLatin1Char(' ')).toStdString(), c.queries.join(QLatin1Char(' ')).toStdString());
        EXPECT_TRUE(err.contains(c.err)) << err.toStdString();
    }
}

} // namespace

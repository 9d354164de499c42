// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/BundledDatabases.h"
#include "vantor/testing/MmdbReading.h"
#include "vantor/testing/WindowTest.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

namespace {

using namespace window_test;

TEST_F(WindowTest, QueryFillsListAndTable)
{
    controller().query(QStringLiteral("142.250.7.7"));

    EXPECT_EQ(controller().List(), kShanghaiRows);
    EXPECT_EQ(shown(), kShanghaiRows);
    EXPECT_TRUE(alerts.alerts().isEmpty());
    EXPECT_EQ(requestedTargets(), QStringList { QString::fromLatin1(kIpInfoPath + "142.250.7.7") });

    // What the view reads, cell by cell, with its headings.
    const auto* model = nib->tableView()->model();
    ASSERT_EQ(model->rowCount(), 5);
    ASSERT_EQ(model->columnCount(), 2);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Key"));
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Value"));
    EXPECT_EQ(model->index(2, 0).data().toString(), QStringLiteral("地区"));
    EXPECT_EQ(model->index(2, 1).data().toString(), QStringLiteral("华东"));
}

TEST_F(WindowTest, TwoQueriesLeaveTheRowsOfTheSecond)
{
    controller().query(QStringLiteral("151.101.65.1"));
    controller().query(QStringLiteral("142.250.7.7"));

    EXPECT_EQ(controller().List(), kShanghaiRows);
    EXPECT_EQ(shown(), kShanghaiRows);
}

struct FailureCase
{
    const char* name;
    HttpResponse response;
    QStringList alertInformativeTexts; // in the order shown
    bool alertsOnWindow;
    bool tableEmptied; // false: the table still shows the previous rows
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class QueryFailureTest : public WindowTest, public ::testing::WithParamInterface<FailureCase>
{
protected:
    std::chrono::milliseconds timeout() const override { return timeoutFor(GetParam().response); }
};

TEST_P(QueryFailureTest, EmptiesListAndTellsTheUser)
{
    const FailureCase& c = GetParam();
    server.setResponse(kIpInfoPath + "81.2.69.1", c.response);
    controller().query(QStringLiteral("151.101.65.1"));
    ASSERT_EQ(shown(), kFirstRows);

    controller().query(QStringLiteral("81.2.69.1"));

    EXPECT_TRUE(controller().List().isEmpty());
    EXPECT_EQ(shown(), c.tableEmptied ? QList<InfoRow>() : kFirstRows);
    QStringList informative;
    for (const auto& alert : alerts.alerts()) {
        informative << alert.informativeText;
        EXPECT_EQ(alert.window, c.alertsOnWindow ? nib->window() : nullptr);
    }
    EXPECT_EQ(informative, c.alertInformativeTexts);
    if (!alerts.alerts().isEmpty()) {
        const QString expected = c.alertsOnWindow ? QStringLiteral("查询错误") : QStringLiteral("连接超时");
        EXPECT_EQ(alerts.alerts().first().messageText, expected);
    }
}

const QString kRejected = QStringLiteral("您输入的IP有误");
const QString kUnreadable = QStringLiteral("无法读取IP信息服务的回答。");
const QString kNetwork = QStringLiteral("您的网络不太给力哦！");

INSTANTIATE_TEST_SUITE_P(
    Answers, QueryFailureTest,
    ::testing::Values(
        FailureCase { "CodeOne", { 200, R"({"code":1,"data":"invalid ip"})" }, { kRejected }, true, false },
        FailureCase { "NotJson", { 200, "<html>busy</html>" }, { kUnreadable }, true, true },
        FailureCase { "NotFoundPage", { 404, "<html>not found</html>" }, { kUnreadable }, true, true },
        FailureCase { "EmptyBody", { 200, "" }, { kUnreadable }, true, true },
        FailureCase { "NoData", { 200, R"({"code":0})" }, { kUnreadable }, true, true },
        FailureCase { "NoAnswer", { 200, "", Delivery::Never }, { kNetwork }, false, false },
        FailureCase { "OverTheBound", { 200, QByteArray(vantor::kMaxBodySize + 1, ' ') }, { kNetwork }, false, false }),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(WindowTest, AddressIsAppendedUnchanged)
{
    controller().query(QString());
    controller().query(QStringLiteral("2001:67c::1"));
    controller().query(QStringLiteral("1.2 .3.4")); // not a URL: never sent

    EXPECT_EQ(requestedTargets(),
              (QStringList { QString::fromLatin1(kIpInfoPath), QString::fromLatin1(kIpInfoPath + "2001:67c::1") }));
    ASSERT_FALSE(alerts.alerts().isEmpty());
    EXPECT_EQ(alerts.alerts().last().messageText, QStringLiteral("连接超时"));
    EXPECT_EQ(alerts.alerts().last().window, nullptr);
}

// An address no service can place is refused as a rejected one is, naming its block, and never sent; the table keeps
// the rows it had.
TEST_F(WindowTest, SpecialAddressAlertsWithoutARequest)
{
    controller().query(QStringLiteral("142.250.7.7"));
    ASSERT_EQ(shown(), kShanghaiRows);
    const QStringList before = requestedTargets();

    for (const char* address : { "192.168.1.1", "fe80::1%eth0", "::ffff:127.0.0.1" })
        controller().query(QString::fromLatin1(address));

    EXPECT_EQ(requestedTargets(), before);
    EXPECT_EQ(shown(), kShanghaiRows);
    ASSERT_EQ(alerts.alerts().size(), 3);
    for (const auto& alert : alerts.alerts()) {
        EXPECT_EQ(alert.messageText, QStringLiteral("查询错误"));
        EXPECT_EQ(alert.informativeText, QStringLiteral("您输入的IP有误"));
        EXPECT_EQ(alert.window, nib->window());
    }
}

TEST_F(WindowTest, ButtonAndReturnQueryTheFieldAsTyped)
{
    nib->window()->show();
    QLineEdit* field = nib->ipTextField();
    field->setText(QStringLiteral("151.101.65.1"));
    QTest::mouseClick(nib->queryButton(), Qt::LeftButton);
    EXPECT_EQ(shown(), kFirstRows);

    field->setText(QStringLiteral("142.250.7.7"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(shown(), kShanghaiRows);

    EXPECT_EQ(field->text(), QStringLiteral("142.250.7.7"));
    EXPECT_EQ(requestedTargets(),
              (QStringList { QString::fromLatin1(kIpInfoPath + "151.101.65.1"),
                             QString::fromLatin1(kIpInfoPath + "142.250.7.7") }));
}

// The HTTPS formats against a TLS server whose certificate the test's own trust accepts, or does not.
TEST_F(WindowTest, HttpsFormatsGiveRowsOnlyOverATrustedConnection)
{
    MiniHttpServer tls;
    tls.enableTls();
    tls.setResponse("/142.250.7.7/json",
                    { 200,
                      R"({"ip":"142.250.7.7","country":"CN","region":"Shanghai","city":"Shanghai",)"
                      R"("org":"AS4812 China Telecom"})" });
    tls.setResponse("/151.101.65.1?lang=zh-CN",
                    { 200,
                      R"({"ip":"151.101.65.1","success":true,"country":"美国","region":"",)"
                      R"("city":"旧金山","connection":{"isp":"ISP"}})" });
    vantor::ServiceConfig config = services();
    config.ipInfoFormat = vantor::IpInfoFormat::IpInfo;
    config.ipInfoPrefix = tls.baseUrl() + QLatin1Char('/');
    config.ipInfoToken = QStringLiteral("tok3n");
    vantor::MainInterface ipinfo(config);
    config.ipInfoFormat = vantor::IpInfoFormat::IpWhois;
    vantor::MainInterface ipwhois(config);
    const auto shownBy
        = [](const vantor::MainInterface& window) { return window.arrayController()->arrangedObjects(); };

    // Not trusted: the certificate alert, and the request never reaches the server.
    ipinfo.controller()->query(QStringLiteral("142.250.7.7"));
    ipwhois.controller()->query(QStringLiteral("151.101.65.1"));
    EXPECT_TRUE(shownBy(ipinfo).isEmpty());
    EXPECT_TRUE(shownBy(ipwhois).isEmpty());
    ASSERT_EQ(alerts.alerts().size(), 2);
    for (const auto& alert : alerts.alerts()) {
        EXPECT_EQ(alert.messageText, QStringLiteral("无法安全连接到IP信息服务"));
        EXPECT_FALSE(alert.informativeText.isEmpty());
        EXPECT_FALSE(alert.informativeText.contains(QLatin1String("tok3n")));
    }
    EXPECT_TRUE(tls.requests().isEmpty());

    alerts.clear();
    const vantor::testing::TrustTestCa trust;
    ipinfo.controller()->query(QStringLiteral("142.250.7.7"));
    ipwhois.controller()->query(QStringLiteral("151.101.65.1"));
    EXPECT_TRUE(alerts.alerts().isEmpty());
    EXPECT_EQ(shownBy(ipinfo), rows("142.250.7.7", "CN", "Shanghai", "Shanghai", "AS4812 China Telecom"));
    EXPECT_EQ(shownBy(ipwhois), kFirstRows);
    ASSERT_EQ(tls.requests().size(), 2);
    const auto authorization = [](const vantor::testing::HttpRequest& request) {
        for (const auto& [name, value] : request.headers) {
            if (name.compare("Authorization", Qt::CaseInsensitive) == 0)
                return value;
        }
        return QByteArray();
    };
    EXPECT_EQ(authorization(tls.requests()[0]), "Bearer tok3n");
    EXPECT_EQ(authorization(tls.requests()[1]), QByteArray());
}

// The window with the ip-api format, as it runs without configuration.
class IpApiWindowTest : public WindowTest
{
protected:
    vantor::ServiceConfig services() const override
    {
        vantor::ServiceConfig config = WindowTest::services();
        config.ipInfoFormat = vantor::IpInfoFormat::IpApi;
        config.ipInfoPrefix = server.baseUrl() + QStringLiteral("/json/");
        return config;
    }

    static QByteArray path(const char* address)
    {
        return "/json/" + QByteArray(address) + "?lang=zh-CN&fields=status,message,query,country,regionName,city,isp";
    }
};

QByteArray ipApiAnswer(const char* query, const char* country, const char* region, const char* city, const char* isp)
{
    return QStringLiteral(
               R"({"status":"success","query":"%1","country":"%2","regionName":"%3","city":"%4","isp":"%5"})")
        .arg(QString::fromUtf8(query), QString::fromUtf8(country), QString::fromUtf8(region), QString::fromUtf8(city),
             QString::fromUtf8(isp))
        .toUtf8();
}

TEST_F(IpApiWindowTest, FieldQueriesIpv4AndIpv6AndFailuresAlert)
{
    server.setResponse(path("151.101.65.1"), { 200, ipApiAnswer("151.101.65.1", "美国", "", "旧金山", "ISP") });
    server.setResponse(path("2001:67c::1"), { 200, ipApiAnswer("2001:67c::1", "日本", "东京都", "东京", "NTT") });
    server.setResponse(path("81.2.69.300"), { 200, R"({"status":"fail","message":"invalid query"})" });
    server.setResponse(path("81.2.69.2"), { 429, "", Delivery::AtOnce, 20, { { "X-Rl", "0" }, { "X-Ttl", "30" } } });
    nib->window()->show();
    QLineEdit* field = nib->ipTextField();

    field->setText(QStringLiteral("151.101.65.1"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(shown(), kFirstRows);

    field->setText(QStringLiteral("2001:67c::1"));
    QTest::mouseClick(nib->queryButton(), Qt::LeftButton);
    const auto tokyoRows = rows("2001:67c::1", "日本", "东京都", "东京", "NTT");
    EXPECT_EQ(shown(), tokyoRows);
    EXPECT_TRUE(alerts.alerts().isEmpty());

    // A rejected address leaves the last rows in view, as with getipinfo.
    controller().query(QStringLiteral("81.2.69.300"));
    EXPECT_TRUE(controller().List().isEmpty());
    EXPECT_EQ(shown(), tokyoRows);
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].messageText, QStringLiteral("查询错误"));
    EXPECT_EQ(alerts.alerts()[0].informativeText, QStringLiteral("您输入的IP有误"));
    EXPECT_EQ(alerts.alerts()[0].window, nib->window());

    controller().query(QStringLiteral("81.2.69.2"));
    EXPECT_TRUE(shown().isEmpty());
    ASSERT_EQ(alerts.alerts().size(), 2);
    EXPECT_EQ(alerts.alerts()[1].messageText, QStringLiteral("查询错误"));
    EXPECT_EQ(alerts.alerts()[1].informativeText, QStringLiteral("查询太频繁，请稍后再试。"));
    EXPECT_EQ(alerts.alerts()[1].window, nib->window());

    QStringList expected;
    for (const char* address : { "151.101.65.1", "2001:67c::1", "81.2.69.300", "81.2.69.2" })
        expected << QString::fromLatin1(path(address));
    EXPECT_EQ(requestedTargets(), expected);
}

TEST_F(IpApiWindowTest, LaunchLooksUpTheOwnAddress)
{
    server.setResponse("/", { 200, "2001:67c::1\n" });
    server.setResponse(path("2001:67c::1"), { 200, ipApiAnswer("2001:67c::1", "日本", "东京都", "东京", "NTT") });

    controller().awakeFromNib();

    EXPECT_EQ(output.data(), "2001:67c::1\n");
    EXPECT_EQ(shown(), rows("2001:67c::1", "日本", "东京都", "东京", "NTT"));
}

// The window with a local database: the own address still comes from its service, the rows from the file.
class DatabaseWindowTest : public WindowTest
{
protected:
    vantor::ServiceConfig services() const override
    {
        vantor::ServiceConfig config = WindowTest::services();
        config.ipInfoFormat = vantor::IpInfoFormat::Mmdb;
        config.ipInfoDatabases = QStringList { databaseFile };
        config.asnDatabase = databases.asn();
        return config;
    }

    vantor::testing::TestDatabases databases;
    QString databaseFile = databases.city();
};

TEST_F(DatabaseWindowTest, RowsFromTheFileAndAlertsForWhatItLacks)
{
    ASSERT_TRUE(databases.written());
    controller().query(QStringLiteral("142.250.7.7"));
    EXPECT_EQ(shown(), rows("142.250.7.7", "中国", "上海", "上海", "China Telecom"));
    EXPECT_TRUE(alerts.alerts().isEmpty());

    controller().query(QStringLiteral("81.2.69.1"));
    EXPECT_TRUE(controller().List().isEmpty());
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].messageText, QStringLiteral("查询错误"));
    EXPECT_EQ(alerts.alerts()[0].informativeText, QStringLiteral("数据库中没有这个地址。"));
    EXPECT_TRUE(server.requests().isEmpty());

    alerts.clear();
    databaseFile = databases.folder() + QStringLiteral("/gone.mmdb");
    nib.emplace(services());
    controller().query(QStringLiteral("142.250.7.7"));
    EXPECT_TRUE(controller().List().isEmpty());
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].messageText, QStringLiteral("配置错误"));
    EXPECT_EQ(alerts.alerts()[0].informativeText, QStringLiteral("无法打开数据库文件 %1。").arg(databaseFile));
}

// Without the service, the bundled databases answer after the network alert, and the line under the table says so.
TEST_F(WindowTest, BundledDataAnswersWhenTheServiceCannotBeReached)
{
    ASSERT_TRUE(QDir(dataFolder.path()).mkpath(QStringLiteral("vantor")));
    vantor::testing::TestDatabases databases;
    ASSERT_TRUE(databases.written());
    controller().query(QStringLiteral("142.250.7.7"));
    EXPECT_TRUE(nib->sourceLabel()->isHidden());

    server.setResponse(kIpInfoPath + "142.250.7.7", { 200, "", Delivery::Drop });
    server.setResponse(kIpInfoPath + "81.2.69.1", { 200, "", Delivery::Drop });
    controller().query(QStringLiteral("142.250.7.7"));
    EXPECT_TRUE(controller().List().isEmpty()); // no bundled data: the table stays empty
    ASSERT_TRUE(
        QFile::copy(databases.city(), dataFolder.filePath(QString::fromLatin1(vantor::kBundledCountryDatabase))));
    ASSERT_TRUE(QFile::copy(databases.asn(), dataFolder.filePath(QString::fromLatin1(vantor::kBundledAsnDatabase))));
    alerts.clear();
    controller().query(QStringLiteral("142.250.7.7"));

    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].messageText, QStringLiteral("连接超时"));
    EXPECT_EQ(shown(), rows("142.250.7.7", "中国", "上海", "上海", "China Telecom"));
    EXPECT_FALSE(nib->sourceLabel()->isHidden());
    const auto epoch = vantor::testing::mmdbBuildEpoch(databases.city().toLocal8Bit().constData());
    ASSERT_TRUE(epoch);
    const QDate built = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(*epoch), Qt::UTC).date();
    EXPECT_EQ(nib->sourceLabel()->text(), vantor::localSourceLine(built, built.daysTo(QDate::currentDate()) > 180));
    EXPECT_TRUE(
        nib->sourceLabel()->text().startsWith(QStringLiteral("来源：本地数据库（") + built.toString(Qt::ISODate)));

    // An address the bundled data do not hold gets no rows, and the line goes.
    controller().query(QStringLiteral("81.2.69.1"));
    EXPECT_TRUE(controller().List().isEmpty());
    EXPECT_TRUE(nib->sourceLabel()->isHidden());
}

} // namespace

#include "platform/ui/Alert.h"
#include "vantor/ArrayController.h"
#include "vantor/MainInterface.h"
#include "vantor/VNQuery.h"
#include "vantor/extension.h"
#include "vantor/testing/MiniHttpServer.h"

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QBuffer>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <optional>

using vantor::InfoRow;
using vantor::testing::HttpResponse;
using vantor::testing::MiniHttpServer;
using vantor::testing::timeoutFor;
using Delivery = HttpResponse::Delivery;

namespace {

const QByteArray kIpInfoPath = "/service/getIpInfo.php?ip=";

QList<InfoRow> rows(const char* ip, const char* country, const char* area, const char* city, const char* isp)
{
    return {
        { QStringLiteral("IP"), QString::fromUtf8(ip) },      { QStringLiteral("国家"), QString::fromUtf8(country) },
        { QStringLiteral("地区"), QString::fromUtf8(area) },  { QStringLiteral("城市"), QString::fromUtf8(city) },
        { QStringLiteral("运营商"), QString::fromUtf8(isp) },
    };
}

QByteArray answer(int code, const char* ip, const char* country, const char* area, const char* city, const char* isp)
{
    return QStringLiteral(R"({"code":%1,"data":{"ip":"%2","country":"%3","area":"%4","city":"%5","isp":"%6"}})")
        .arg(code)
        .arg(QString::fromUtf8(ip), QString::fromUtf8(country), QString::fromUtf8(area), QString::fromUtf8(city),
             QString::fromUtf8(isp))
        .toUtf8();
}

// The window as the executable builds it, talking to a local server instead of the public services.
class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.setResponse(kIpInfoPath + "198.51.100.1",
                           { 200, answer(0, "198.51.100.1", "美国", "", "旧金山", "ISP") });
        server.setResponse(kIpInfoPath + "203.0.113.7",
                           { 200, answer(0, "203.0.113.7", "中国", "华东", "上海", "电信") });
        nib.emplace(services());
        nib->controller()->setAddressOutput(&output);
        output.open(QIODevice::WriteOnly);
    }

    // The time-out of every fetch; a case whose answer keeps the window waiting shortens it.
    virtual std::chrono::milliseconds timeout() const { return timeoutFor(HttpResponse {}); }

    vantor::ServiceConfig services() const
    {
        vantor::ServiceConfig config;
        config.ipInfoPrefix = server.baseUrl() + QString::fromLatin1(kIpInfoPath);
        config.myAddressUrl = server.baseUrl() + QLatin1Char('/');
        config.ipInfoTimeout = timeout();
        config.myAddressTimeout = timeout();
        return config;
    }

    vantor::VNQuery& controller() { return *nib->controller(); }
    const QList<InfoRow>& shown() const { return nib->arrayController()->arrangedObjects(); }
    QStringList requestedTargets() const
    {
        QStringList targets;
        for (const auto& request : server.requests())
            targets << QString::fromUtf8(request.target);
        return targets;
    }

    MiniHttpServer server;
    platform::ui::AlertRecorder alerts;
    QBuffer output;
    std::optional<vantor::MainInterface> nib;
};

const auto kFirstRows = rows("198.51.100.1", "美国", "未知", "旧金山", "ISP");
const auto kShanghaiRows = rows("203.0.113.7", "中国", "华东", "上海", "电信");

TEST_F(WindowTest, QueryFillsListAndTable)
{
    controller().query(QStringLiteral("203.0.113.7"));

    EXPECT_EQ(controller().List(), kShanghaiRows);
    EXPECT_EQ(shown(), kShanghaiRows);
    EXPECT_TRUE(alerts.alerts().isEmpty());
    EXPECT_EQ(requestedTargets(), QStringList { QString::fromLatin1(kIpInfoPath + "203.0.113.7") });

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
    controller().query(QStringLiteral("198.51.100.1"));
    controller().query(QStringLiteral("203.0.113.7"));

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
    std::chrono::milliseconds timeout() const override
    {
        return timeoutFor(GetParam().response);
    }
};

TEST_P(QueryFailureTest, EmptiesListAndTellsTheUser)
{
    const FailureCase& c = GetParam();
    server.setResponse(kIpInfoPath + "192.0.2.1", c.response);
    controller().query(QStringLiteral("198.51.100.1"));
    ASSERT_EQ(shown(), kFirstRows);

    controller().query(QStringLiteral("192.0.2.1"));

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
    controller().query(QStringLiteral("2001:db8::1"));
    controller().query(QStringLiteral("1.2 .3.4")); // not a URL: never sent

    EXPECT_EQ(requestedTargets(),
              (QStringList { QString::fromLatin1(kIpInfoPath), QString::fromLatin1(kIpInfoPath + "2001:db8::1") }));
    ASSERT_FALSE(alerts.alerts().isEmpty());
    EXPECT_EQ(alerts.alerts().last().messageText, QStringLiteral("连接超时"));
    EXPECT_EQ(alerts.alerts().last().window, nullptr);
}

TEST_F(WindowTest, ButtonAndReturnQueryTheFieldAsTyped)
{
    nib->window()->show();
    QLineEdit* field = nib->ipTextField();
    field->setText(QStringLiteral("198.51.100.1"));
    QTest::mouseClick(nib->queryButton(), Qt::LeftButton);
    EXPECT_EQ(shown(), kFirstRows);

    field->setText(QStringLiteral("203.0.113.7"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(shown(), kShanghaiRows);

    EXPECT_EQ(field->text(), QStringLiteral("203.0.113.7"));
    EXPECT_EQ(requestedTargets(),
              (QStringList { QString::fromLatin1(kIpInfoPath + "198.51.100.1"),
                             QString::fromLatin1(kIpInfoPath + "203.0.113.7") }));
}

struct LaunchCase
{
    const char* name;
    HttpResponse myAddress;
    QByteArray printed;
    QStringList queried; // the addresses the IP-information service is asked about
};

void PrintTo(const LaunchCase& c, std::ostream* os)
{
    *os << c.name;
}

class LaunchTest : public WindowTest, public ::testing::WithParamInterface<LaunchCase>
{
protected:
    std::chrono::milliseconds timeout() const override
    {
        return timeoutFor(GetParam().myAddress);
    }
};

TEST_P(LaunchTest, PrintsAndQueriesTheOwnAddress)
{
    const LaunchCase& c = GetParam();
    server.setResponse("/", c.myAddress);

    controller().awakeFromNib();

    EXPECT_EQ(output.data(), c.printed);
    QStringList expectedTargets { QStringLiteral("/") };
    for (const QString& address : c.queried)
        expectedTargets << QString::fromLatin1(kIpInfoPath) + address;
    EXPECT_EQ(requestedTargets(), expectedTargets);
    EXPECT_TRUE(nib->ipTextField()->text().isEmpty());
    EXPECT_EQ(shown().size(), c.queried.isEmpty() ? 0 : 5);
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LaunchTest,
    ::testing::Values(
        LaunchCase { "AddressAndLineBreak", { 200, "203.0.113.7\n" }, "203.0.113.7\n", { "203.0.113.7" } },
        // The last character goes whatever it is.
        LaunchCase { "AddressWithoutLineBreak", { 200, "198.51.100.12" }, "198.51.100.1\n", { "198.51.100.1" } },
        LaunchCase { "EmptyAnswer", { 200, "" }, "", {} },
        LaunchCase { "NoAnswer", { 200, "", Delivery::Never }, "", {} },
        LaunchCase { "NotUtf8", { 200, "\xff\xfe\n" }, "", {} }),
    [](const ::testing::TestParamInfo<LaunchCase>& info) { return info.param.name; });

TEST_F(WindowTest, LaunchWithoutNetworkCompletesQuietly)
{
    server.setResponse("/", { 200, "", Delivery::Drop });

    nib->launch();
    // The condition is checked between events, so once the request is seen the launch has run to its end.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.requests().isEmpty(); }));

    EXPECT_TRUE(nib->window()->isVisible());
    EXPECT_TRUE(output.data().isEmpty());
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

TEST_F(WindowTest, AssistiveTechnologyReadsTheFieldAndTheCells)
{
    nib->window()->show();
    controller().query(QStringLiteral("203.0.113.7"));

    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(nib->ipTextField());
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(QAccessible::Name), QStringLiteral("IP地址"));

    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(nib->tableView());
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->tableInterface(), nullptr);
    EXPECT_EQ(table->tableInterface()->rowCount(), 5);
    QAccessibleInterface* cell = table->tableInterface()->cellAt(4, 1);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), QStringLiteral("电信"));
}

} // namespace

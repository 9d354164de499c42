// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ui/Alert.h"
#include "vantor/ArrayController.h"
#include "vantor/MainInterface.h"
#include "vantor/VNQuery.h"
#include "vantor/extension.h"
#include "vantor/net/OwnAddress.h"
#include "vantor/testing/MiniHttpServer.h"
#include "vantor/testing/TestDatabases.h"

#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <functional>
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
        server.setResponse(kIpInfoPath + "2001:db8::1",
                           { 200, answer(0, "2001:db8::1", "日本", "关东", "东京", "NTT") });
        nib.emplace(services());
        nib->controller()->setAddressOutput(&output);
        output.open(QIODevice::WriteOnly);
    }

    // The time-out of every fetch; a case whose answer keeps the window waiting shortens it.
    virtual std::chrono::milliseconds timeout() const { return timeoutFor(HttpResponse {}); }

    virtual vantor::ServiceConfig services() const
    {
        vantor::ServiceConfig config;
        config.ipInfoFormat = vantor::IpInfoFormat::GetIpInfo;
        config.ipInfoPrefix = server.baseUrl() + QString::fromLatin1(kIpInfoPath);
        config.myAddressUrls = { server.baseUrl() + QLatin1Char('/') };
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
    std::chrono::milliseconds timeout() const override { return timeoutFor(GetParam().response); }
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
    std::chrono::milliseconds timeout() const override { return timeoutFor(GetParam().myAddress); }
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
        LaunchCase { "AddressAndCrLf", { 200, "203.0.113.7\r\n" }, "203.0.113.7\n", { "203.0.113.7" } },
        // Only a line break goes: the address keeps its last digit.
        LaunchCase { "AddressWithoutLineBreak", { 200, "198.51.100.1" }, "198.51.100.1\n", { "198.51.100.1" } },
        LaunchCase { "Ipv6Address", { 200, "2001:db8::1\n" }, "2001:db8::1\n", { "2001:db8::1" } },
        LaunchCase { "CaptivePortalPage", { 200, "<html><body>Log in to Wi-Fi</body></html>\n" }, "", {} },
        LaunchCase { "EmptyAnswer", { 200, "" }, "", {} },
        LaunchCase { "NoAnswer", { 200, "", Delivery::Never }, "", {} },
        LaunchCase { "NotUtf8", { 200, "\xff\xfe\n" }, "", {} }),
    [](const ::testing::TestParamInfo<LaunchCase>& info) { return info.param.name; });

TEST_F(WindowTest, LaunchWithoutNetworkSaysSoBesideTheField)
{
    server.setResponse("/", { 200, "", Delivery::Drop });

    nib->launch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return nib->stateLabel()->isVisible(); }));

    EXPECT_TRUE(nib->window()->isVisible());
    EXPECT_TRUE(nib->stateLabel()->text().startsWith(QStringLiteral("没有得到本机的公网地址：127.0.0.1：")))
        << nib->stateLabel()->text().toStdString();
    EXPECT_FALSE(nib->ownAddressLabel()->isVisible());
    EXPECT_TRUE(output.data().isEmpty());
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_TRUE(alerts.alerts().isEmpty());
}

// Two providers stand in for the two families of a dual-stack machine; the family is the list's, the answer has to
// match it.
class DualStackTest : public WindowTest
{
protected:
    void launchWith(QStringList paths)
    {
        QStringList urls;
        for (const QString& path : paths)
            urls << server.baseUrl() + path;
        nib.emplace([&] {
            vantor::ServiceConfig config = services();
            config.myAddressUrls = urls;
            return config;
        }());
        nib->controller()->setAddressOutput(&output);
        nib->window()->show();
        controller().awakeFromNib();
        ASSERT_TRUE(QTest::qWaitFor([&] { return controller().ownAddressSearch()->isFinished(); }));
    }
};

TEST_F(DualStackTest, ShowsBothPrintsIpv4FirstAndLooksUpIpv4)
{
    // The first IPv4 provider is dead: it never answers, and nobody waits for it.
    server.setResponse("/dead", { 200, "", Delivery::Never });
    server.setResponse("/v4", { 200, "203.0.113.7\n", Delivery::Trickle, 5 });
    server.setResponse("/v6", { 200, "2001:db8::1\n" });
    launchWith({ "/dead#ipv4", "/v6#ipv6", "/v4#ipv4" });

    EXPECT_EQ(output.data(), "203.0.113.7\n2001:db8::1\n");
    EXPECT_TRUE(nib->ownAddressLabel()->isVisible());
    EXPECT_EQ(nib->ownAddressLabel()->text(),
              QStringLiteral("本机 IPv4：<a href=\"203.0.113.7\">203.0.113.7</a>　"
                             "IPv6：<a href=\"2001:db8::1\">2001:db8::1</a>"));
    EXPECT_TRUE(nib->ownAddressLabel()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    EXPECT_TRUE(nib->ownAddressLabel()->textInteractionFlags().testFlag(Qt::LinksAccessibleByMouse));
    EXPECT_EQ(shown(), kShanghaiRows);
    EXPECT_FALSE(nib->stateLabel()->isVisible());
    EXPECT_TRUE(alerts.alerts().isEmpty());

    // Each address is a link to its lookup; the field is left as it was.
    emit nib->ownAddressLabel()->linkActivated(QStringLiteral("2001:db8::1"));
    EXPECT_EQ(shown(), rows("2001:db8::1", "日本", "关东", "东京", "NTT"));
    EXPECT_TRUE(nib->ipTextField()->text().isEmpty());
}

TEST_F(DualStackTest, WithoutIpv4TheIpv6AddressIsLookedUp)
{
    server.setResponse("/v4", { 200, "2001:db8::1\n" }); // the wrong family for this provider
    server.setResponse("/v6", { 200, "2001:db8::1\n", Delivery::Trickle, 5 });
    launchWith({ "/v4#ipv4", "/v6#ipv6" });

    EXPECT_EQ(output.data(), "2001:db8::1\n");
    EXPECT_EQ(nib->ownAddressLabel()->text(), QStringLiteral("本机 IPv6：<a href=\"2001:db8::1\">2001:db8::1</a>"));
    EXPECT_EQ(shown(), rows("2001:db8::1", "日本", "关东", "东京", "NTT"));
    EXPECT_FALSE(nib->stateLabel()->isVisible());
}

// The HTTPS formats against a TLS server whose certificate the test's own trust accepts, or does not.
TEST_F(WindowTest, HttpsFormatsGiveRowsOnlyOverATrustedConnection)
{
    MiniHttpServer tls;
    tls.enableTls();
    tls.setResponse("/203.0.113.7/json",
                    { 200, R"({"ip":"203.0.113.7","country":"CN","region":"Shanghai","city":"Shanghai",)"
                           R"("org":"AS4812 China Telecom"})" });
    tls.setResponse("/198.51.100.1?lang=zh-CN",
                    { 200, R"({"ip":"198.51.100.1","success":true,"country":"美国","region":"",)"
                           R"("city":"旧金山","connection":{"isp":"ISP"}})" });
    vantor::ServiceConfig config = services();
    config.ipInfoFormat = vantor::IpInfoFormat::IpInfo;
    config.ipInfoPrefix = tls.baseUrl() + QLatin1Char('/');
    config.ipInfoToken = QStringLiteral("tok3n");
    vantor::MainInterface ipinfo(config);
    config.ipInfoFormat = vantor::IpInfoFormat::IpWhois;
    vantor::MainInterface ipwhois(config);
    const auto shownBy = [](const vantor::MainInterface& window) { return window.arrayController()->arrangedObjects(); };

    // Not trusted: the certificate alert, and the request never reaches the server.
    ipinfo.controller()->query(QStringLiteral("203.0.113.7"));
    ipwhois.controller()->query(QStringLiteral("198.51.100.1"));
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
    ipinfo.controller()->query(QStringLiteral("203.0.113.7"));
    ipwhois.controller()->query(QStringLiteral("198.51.100.1"));
    EXPECT_TRUE(alerts.alerts().isEmpty());
    EXPECT_EQ(shownBy(ipinfo), rows("203.0.113.7", "CN", "Shanghai", "Shanghai", "AS4812 China Telecom"));
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
    server.setResponse(path("198.51.100.1"), { 200, ipApiAnswer("198.51.100.1", "美国", "", "旧金山", "ISP") });
    server.setResponse(path("2001:db8::1"), { 200, ipApiAnswer("2001:db8::1", "日本", "东京都", "东京", "NTT") });
    server.setResponse(path("192.0.2.300"), { 200, R"({"status":"fail","message":"invalid query"})" });
    server.setResponse(path("192.0.2.2"), { 429, "", Delivery::AtOnce, 20, { { "X-Rl", "0" }, { "X-Ttl", "30" } } });
    nib->window()->show();
    QLineEdit* field = nib->ipTextField();

    field->setText(QStringLiteral("198.51.100.1"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(shown(), kFirstRows);

    field->setText(QStringLiteral("2001:db8::1"));
    QTest::mouseClick(nib->queryButton(), Qt::LeftButton);
    const auto tokyoRows = rows("2001:db8::1", "日本", "东京都", "东京", "NTT");
    EXPECT_EQ(shown(), tokyoRows);
    EXPECT_TRUE(alerts.alerts().isEmpty());

    // A rejected address leaves the last rows in view, as with getipinfo.
    controller().query(QStringLiteral("192.0.2.300"));
    EXPECT_TRUE(controller().List().isEmpty());
    EXPECT_EQ(shown(), tokyoRows);
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].messageText, QStringLiteral("查询错误"));
    EXPECT_EQ(alerts.alerts()[0].informativeText, QStringLiteral("您输入的IP有误"));
    EXPECT_EQ(alerts.alerts()[0].window, nib->window());

    controller().query(QStringLiteral("192.0.2.2"));
    EXPECT_TRUE(shown().isEmpty());
    ASSERT_EQ(alerts.alerts().size(), 2);
    EXPECT_EQ(alerts.alerts()[1].messageText, QStringLiteral("查询错误"));
    EXPECT_EQ(alerts.alerts()[1].informativeText, QStringLiteral("查询太频繁，请稍后再试。"));
    EXPECT_EQ(alerts.alerts()[1].window, nib->window());

    QStringList expected;
    for (const char* address : { "198.51.100.1", "2001:db8::1", "192.0.2.300", "192.0.2.2" })
        expected << QString::fromLatin1(path(address));
    EXPECT_EQ(requestedTargets(), expected);
}

TEST_F(IpApiWindowTest, LaunchLooksUpTheOwnAddress)
{
    server.setResponse("/", { 200, "2001:db8::1\n" });
    server.setResponse(path("2001:db8::1"), { 200, ipApiAnswer("2001:db8::1", "日本", "东京都", "东京", "NTT") });

    controller().awakeFromNib();

    EXPECT_EQ(output.data(), "2001:db8::1\n");
    EXPECT_EQ(shown(), rows("2001:db8::1", "日本", "东京都", "东京", "NTT"));
}

TEST_F(WindowTest, CopiesSelectedRowsOrAll)
{
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTableView* table = nib->tableView();
    QAction* copy = nib->copyAction();
    QAction* copyAll = nib->copyAllAction();
    ASSERT_TRUE(table->actions().contains(copy));
    ASSERT_TRUE(table->actions().contains(copyAll));
    EXPECT_EQ(copy->text(), QStringLiteral("拷贝"));
    EXPECT_EQ(copyAll->text(), QStringLiteral("拷贝全部"));
    EXPECT_EQ(table->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_FALSE(copy->isEnabled());
    EXPECT_FALSE(copyAll->isEnabled());

    controller().query(QStringLiteral("203.0.113.7"));
    EXPECT_TRUE(copyAll->isEnabled());
    // Nothing selected: the clipboard keeps what it had.
    nib->copySelectedRows();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    nib->window()->show();
    nib->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(nib->window()));
    table->setFocus();
    // A click on a cell selects its row; Ctrl+click adds another.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(3, 1)).center());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      table->visualRect(table->model()->index(0, 0)).center());
    EXPECT_TRUE(copy->isEnabled());
    QTest::keySequence(table, QKeySequence::Copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("IP\t203.0.113.7\n城市\t上海\n"));

    copyAll->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("IP\t203.0.113.7\n国家\t中国\n地区\t华东\n城市\t上海\n运营商\t电信\n"));
}

// Every push button an assistive technology finds in the window has a name.
TEST_F(WindowTest, ClearButtonIsNamed)
{
    nib->window()->show();
    nib->ipTextField()->setText(QStringLiteral("203.0.113.7")); // the clear button shows only over some text

    QStringList buttonNames;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (node->role() == QAccessible::Button && !node->state().invisible)
            buttonNames << node->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(nib->window()));
    EXPECT_EQ(buttonNames, (QStringList { QStringLiteral("清除"), QStringLiteral("查询") }));
}

// The window with a local database: the own address still comes from its service, the rows from the file.
class DatabaseWindowTest : public WindowTest
{
protected:
    vantor::ServiceConfig services() const override
    {
        vantor::ServiceConfig config = WindowTest::services();
        config.ipInfoFormat = vantor::IpInfoFormat::Mmdb;
        config.ipInfoDatabase = databaseFile;
        config.asnDatabase = databases.asn();
        return config;
    }

    vantor::testing::TestDatabases databases;
    QString databaseFile = databases.city();
};

TEST_F(DatabaseWindowTest, RowsFromTheFileAndAlertsForWhatItLacks)
{
    ASSERT_TRUE(databases.written());
    controller().query(QStringLiteral("203.0.113.7"));
    EXPECT_EQ(shown(), rows("203.0.113.7", "中国", "上海", "上海", "China Telecom"));
    EXPECT_TRUE(alerts.alerts().isEmpty());

    controller().query(QStringLiteral("192.0.2.1"));
    EXPECT_TRUE(controller().List().isEmpty());
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].messageText, QStringLiteral("查询错误"));
    EXPECT_EQ(alerts.alerts()[0].informativeText, QStringLiteral("数据库中没有这个地址。"));
    EXPECT_TRUE(server.requests().isEmpty());

    alerts.clear();
    databaseFile = databases.folder() + QStringLiteral("/gone.mmdb");
    nib.emplace(services());
    controller().query(QStringLiteral("203.0.113.7"));
    EXPECT_TRUE(controller().List().isEmpty());
    ASSERT_EQ(alerts.alerts().size(), 1);
    EXPECT_EQ(alerts.alerts()[0].messageText, QStringLiteral("配置错误"));
    EXPECT_EQ(alerts.alerts()[0].informativeText, QStringLiteral("无法打开数据库文件 %1。").arg(databaseFile));
}

} // namespace

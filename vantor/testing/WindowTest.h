// SPDX-License-Identifier: GPL-3.0-or-later
// The window as the executable builds it, talking to a local server: what the window's tests share.
#pragma once

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
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using vantor::InfoRow;
using vantor::testing::HttpResponse;
using vantor::testing::MiniHttpServer;
using vantor::testing::timeoutFor;
using Delivery = HttpResponse::Delivery;

// Named, not anonymous: the fixture must be one class in every file of the test.
namespace window_test {

const QByteArray kIpInfoPath = "/service/getIpInfo.php?ip=";

inline QList<InfoRow> rows(const char* ip, const char* country, const char* area, const char* city, const char* isp)
{
    return {
        { QStringLiteral("IP"), QString::fromUtf8(ip) },      { QStringLiteral("国家"), QString::fromUtf8(country) },
        { QStringLiteral("地区"), QString::fromUtf8(area) },  { QStringLiteral("城市"), QString::fromUtf8(city) },
        { QStringLiteral("运营商"), QString::fromUtf8(isp) },
    };
}

inline QByteArray answer(int code, const char* ip, const char* country, const char* area, const char* city,
                         const char* isp)
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
        // Bundled databases are looked for here only: what the machine has installed plays no part.
        qputenv("XDG_DATA_DIRS", dataFolder.path().toLocal8Bit());
        server.setResponse(kIpInfoPath + "151.101.65.1",
                           { 200, answer(0, "151.101.65.1", "美国", "", "旧金山", "ISP") });
        server.setResponse(kIpInfoPath + "142.250.7.7",
                           { 200, answer(0, "142.250.7.7", "中国", "华东", "上海", "电信") });
        server.setResponse(kIpInfoPath + "2001:67c::1",
                           { 200, answer(0, "2001:67c::1", "日本", "关东", "东京", "NTT") });
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

    QTemporaryDir dataFolder; // as XDG_DATA_DIRS
    MiniHttpServer server;
    platform::ui::AlertRecorder alerts;
    QBuffer output;
    std::optional<vantor::MainInterface> nib;
};

const auto kFirstRows = rows("151.101.65.1", "美国", "未知", "旧金山", "ISP");
const auto kShanghaiRows = rows("142.250.7.7", "中国", "华东", "上海", "电信");

} // namespace window_test

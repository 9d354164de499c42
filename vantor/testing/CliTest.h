// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of vantor-cli share: an ip-api stand-in's answers and captured output.
#pragma once

#include "platform/Version.h"
#include "vantor/cli/Lookup.h"
#include "vantor/cli/OwnAddresses.h"
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

inline QByteArray ipApiPath(const char* address)
{
    return "/json/" + QByteArray(address) + kFields;
}

const HttpResponse kShanghai { 200,
                               R"({"status":"success","query":"142.250.7.7","country":"中国","regionName":"上海",)"
                               R"("city":"上海","isp":"电信"})" };
const HttpResponse kNoRegion { 200,
                               R"({"status":"success","query":"2001:67c::1","country":"日本","regionName":"",)"
                               R"("city":"东京","isp":"NTT"})" };
const HttpResponse kFail { 200, R"({"status":"fail","message":"private range","query":"9.9.9.10"})" };
const HttpResponse kBusy { 429, "", Delivery::AtOnce, 20, { { "X-Rl", "0" }, { "X-Ttl", "12" } } };

const char kShanghaiRows[] = "IP\t142.250.7.7\n国家\t中国\n地区\t上海\n城市\t上海\n运营商\t电信\n";
const char kNoRegionRows[] = "IP\t2001:67c::1\n国家\t日本\n地区\t未知\n城市\t东京\n运营商\tNTT\n";

inline HttpResponse withRateHeaders(HttpResponse response, const char* left, const char* ttl)
{
    response.headers = { { "X-Rl", left } };
    if (ttl)
        response.headers.append(qMakePair(QByteArray("X-Ttl"), QByteArray(ttl)));
    return response;
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

} // namespace

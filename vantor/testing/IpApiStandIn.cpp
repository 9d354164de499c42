// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/testing/IpApiStandIn.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace vantor::testing {

namespace {

constexpr double kWindowSeconds = 60;

QJsonObject entry(const QString& address)
{
    if (address.startsWith(QLatin1String("9.9.9.")))
        return { { "status", "fail" }, { "message", "private range" }, { "query", address } };
    return { { "status", "success" },  { "query", address }, { "country", "中国" },
             { "regionName", "上海" }, { "city", address },  { "isp", "电信" } };
}

} // namespace

IpApiStandIn::IpApiStandIn(MiniHttpServer& server, int singleLimit, int batchLimit, std::function<double()> now)
    : m_now(std::move(now))
    , m_single { singleLimit }
    , m_batch { batchLimit }
{
    server.setHandler([this](const HttpRequest& request) { return answer(request); });
}

bool IpApiStandIn::admit(Window& window, HttpResponse& response)
{
    const double now = m_now();
    if (window.start < 0 || now >= window.start + kWindowSeconds) {
        window.start = now;
        window.used = 0;
    }
    ++window.requests;
    const bool admitted = window.used < window.limit;
    if (admitted)
        ++window.used;
    const int secondsLeft = int(std::ceil(window.start + kWindowSeconds - now));
    response.headers
        = { { "X-Rl", QByteArray::number(window.limit - window.used) }, { "X-Ttl", QByteArray::number(secondsLeft) } };
    return admitted;
}

HttpResponse IpApiStandIn::answer(const HttpRequest& request)
{
    HttpResponse response;
    const bool batch = request.method == "POST" && request.pathAndQuery.startsWith("/batch?");
    if (!batch && !request.pathAndQuery.startsWith("/json/"))
        return { 404, "not found" };
    if (!admit(batch ? m_batch : m_single, response)) {
        ++m_refused;
        response.status = 429;
        return response;
    }
    if (batch) {
        QJsonArray entries;
        for (const QJsonValue& address : QJsonDocument::fromJson(request.body).array())
            entries.prepend(entry(address.toString()));
        response.body = QJsonDocument(entries).toJson(QJsonDocument::Compact);
    } else {
        const QByteArray path = request.pathAndQuery.mid(6);
        const QString address = QString::fromUtf8(path.left(path.indexOf('?')));
        response.body = QJsonDocument(entry(address)).toJson(QJsonDocument::Compact);
    }
    return response;
}

} // namespace vantor::testing

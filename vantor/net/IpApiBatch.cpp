// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpApiBatch.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

namespace vantor {

namespace {

} // namespace

std::chrono::seconds ipApiWait(std::optional<int> secondsUntilReset)
{
    return std::min(std::chrono::seconds(secondsUntilReset.value_or(int(kIpApiLongestWait.count()))),
                    kIpApiLongestWait);
}

QString ipApiBatchRequestUrl(const QString& batchUrl)
{
    return batchUrl + QLatin1String("?lang=zh-CN&fields=status,message,query,country,regionName,city,isp");
}

QByteArray ipApiBatchBody(const QStringList& addresses)
{
    return QJsonDocument(QJsonArray::fromStringList(addresses)).toJson(QJsonDocument::Compact);
}

IpApiBatchAnswer readIpApiBatchAnswer(const WebAnswer& web, const QStringList& addresses)
{
    IpApiBatchAnswer result;
    result.requestsLeft = web.headerNumber("X-Rl");
    result.secondsUntilReset = web.headerNumber("X-Ttl");
    const auto all = [&](IpInfoAnswer::Kind kind) {
        result.answers = QList<IpInfoAnswer>(addresses.size(), IpInfoAnswer::ofKind(kind));
        return result;
    };
    if (web.status == 429) {
        result.requestsLeft = 0;
        return all(IpInfoAnswer::Kind::RateLimited);
    }

    const QJsonDocument document = QJsonDocument::fromJson(web.body);
    const QJsonArray entries = document.array();
    if (!document.isArray()
        || !std::all_of(entries.begin(), entries.end(), [](const QJsonValue& entry) { return entry.isObject(); }))
        return all(IpInfoAnswer::Kind::Unreadable);

    QHash<QString, QJsonObject> byQuery;
    for (const QJsonValue& entry : entries) {
        const QJsonObject object = entry.toObject();
        const QJsonValue query = object.value(QLatin1String("query"));
        if (query.isString())
            byQuery.insert(query.toString(), object);
    }
    result.answers.reserve(addresses.size());
    for (const QString& address : addresses) {
        const auto found = byQuery.constFind(address);
        result.answers.append(found == byQuery.cend() ? IpInfoAnswer() : readIpApiObject(*found));
    }
    return result;
}

platform::Result<IpApiBatchAnswer, FetchFailure> lookUpIpApiBatch(const ServiceConfig& services,
                                                                  const QStringList& addresses,
                                                                  const std::function<void(std::chrono::seconds)>& wait)
{
    const QString url = ipApiBatchRequestUrl(services.ipApiBatchUrl);
    const QByteArray body = ipApiBatchBody(addresses);
    platform::Result<WebAnswer, FetchFailure> web = postAnswer(url, body, "application/json", services.ipInfoTimeout);
    if (web && web->status == 429) {
        wait(ipApiWait(web->headerNumber("X-Ttl")));
        web = postAnswer(url, body, "application/json", services.ipInfoTimeout);
    }
    if (!web)
        return web.error();
    return readIpApiBatchAnswer(*web, addresses);
}

} // namespace vantor

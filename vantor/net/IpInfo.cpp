// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpInfo.h"

#include "vantor/net/IpDatabase.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cmath>

namespace vantor {

namespace {

using Members = std::array<const char*, kInfoFieldCount>;

// A member that is missing, not a text or empty says nothing; a text of spaces is what the service said.
void readMembers(const QJsonObject& object, const Members& members, IpInfoAnswer& answer)
{
    for (std::size_t i = 0; i < kInfoFieldCount; ++i) {
        const QJsonValue value = object.value(QLatin1String(members[i]));
        if (value.isString() && !value.toString().isEmpty())
            answer.values[i] = value.toString();
    }
}

IpInfoAnswer answerOfKind(IpInfoAnswer::Kind kind)
{
    IpInfoAnswer answer;
    answer.kind = kind;
    return answer;
}

std::optional<int> headerNumber(const WebAnswer& web, QByteArrayView name)
{
    bool ok = false;
    const int value = web.header(name).trimmed().toInt(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

// getipinfo: {"code": 0, "data": {"ip", "country", "area", "city", "isp"}}; "code" 1 rejects the address.

QString getIpInfoRequestUrl(const QString& prefix, const QString& address)
{
    return prefix + address;
}

IpInfoAnswer readGetIpInfoAnswer(const WebAnswer& web)
{
    // A bare number or text at the top level is valid JSON too, but it is no answer object either.
    const QJsonDocument document = QJsonDocument::fromJson(web.body);
    if (!document.isObject())
        return {};
    const QJsonObject answer = document.object();

    const QJsonValue code = answer.value(QLatin1String("code"));
    if (!code.isDouble())
        return {};
    // The code is read as an integer, so 1.5 counts as 1.
    if (std::trunc(code.toDouble()) == 1.0)
        return answerOfKind(IpInfoAnswer::Kind::Rejected);

    const QJsonValue data = answer.value(QLatin1String("data"));
    if (!data.isObject())
        return {};
    IpInfoAnswer result = answerOfKind(IpInfoAnswer::Kind::Rows);
    readMembers(data.toObject(), { "ip", "country", "area", "city", "isp" }, result);
    return result;
}

// ip-api: the address is the last step of the path; the answer is one flat object whose "status" is "success" or
// "fail". The free service allows 45 requests a minute and says how many are left in X-Rl, and in how many seconds
// the count starts again in X-Ttl; past the limit it answers 429.

QString ipApiRequestUrl(const QString& prefix, const QString& address)
{
    return prefix + address + QLatin1String("?lang=zh-CN&fields=status,message,query,country,regionName,city,isp");
}

IpInfoAnswer readIpApiAnswer(const WebAnswer& web)
{
    IpInfoAnswer result;
    result.requestsLeft = headerNumber(web, "X-Rl");
    result.secondsUntilReset = headerNumber(web, "X-Ttl");
    if (web.status == 429) {
        result.kind = IpInfoAnswer::Kind::RateLimited;
        result.requestsLeft = 0;
        return result;
    }

    const QJsonDocument document = QJsonDocument::fromJson(web.body);
    if (!document.isObject())
        return result;
    const IpInfoAnswer read = readIpApiObject(document.object());
    result.kind = read.kind;
    result.values = read.values;
    return result;
}

constexpr IpInfoFormatAdapter kFormats[] = {
    { IpInfoFormat::IpApi, "ip-api", kIpApiServicePrefix, ipApiRequestUrl, readIpApiAnswer },
    { IpInfoFormat::GetIpInfo, "getipinfo", "", getIpInfoRequestUrl, readGetIpInfoAnswer },
    { IpInfoFormat::Mmdb, "mmdb", "", nullptr, nullptr, lookUpInIpDatabase },
};

} // namespace

IpInfoAnswer readIpApiObject(const QJsonObject& object)
{
    IpInfoAnswer result;
    const QJsonValue status = object.value(QLatin1String("status"));
    if (status == QLatin1String("fail")) {
        result.kind = IpInfoAnswer::Kind::Rejected;
    } else if (status == QLatin1String("success")) {
        result.kind = IpInfoAnswer::Kind::Rows;
        readMembers(object, { "query", "country", "regionName", "city", "isp" }, result);
    }
    return result;
}

QList<InfoRow> IpInfoAnswer::rows() const
{
    QList<InfoRow> rows;
    if (kind != Kind::Rows)
        return rows;
    for (std::size_t i = 0; i < kInfoFieldCount; ++i)
        rows.append({ QString::fromUtf16(kInfoFields[i].key), values[i].value_or(QStringLiteral("未知")) });
    return rows;
}

std::span<const IpInfoFormatAdapter> ipInfoFormats()
{
    return kFormats;
}

const IpInfoFormatAdapter& ipInfoFormat(IpInfoFormat format)
{
    return *std::find_if(std::begin(kFormats), std::end(kFormats),
                         [format](const IpInfoFormatAdapter& adapter) { return adapter.format == format; });
}

const IpInfoFormatAdapter* ipInfoFormatNamed(const QString& name)
{
    const auto* found
        = std::find_if(std::begin(kFormats), std::end(kFormats),
                       [&name](const IpInfoFormatAdapter& adapter) { return name == QLatin1String(adapter.name); });
    return found == std::end(kFormats) ? nullptr : found;
}

QString ipInfoRequestUrl(const ServiceConfig& services, const QString& address)
{
    const IpInfoFormatAdapter& adapter = ipInfoFormat(services.ipInfoFormat);
    return adapter.requestUrl ? adapter.requestUrl(services.ipInfoPrefix, address) : QString();
}

QString rowsAsText(const QList<InfoRow>& rows)
{
    QString text;
    for (const InfoRow& row : rows)
        text += row.key + QLatin1Char('\t') + row.value + QLatin1Char('\n');
    return text;
}

} // namespace vantor

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
        if (!*members[i])
            continue; // read elsewhere
        const QJsonValue value = object.value(QLatin1String(members[i]));
        if (value.isString() && !value.toString().isEmpty())
            answer.values[i] = value.toString();
    }
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
        return IpInfoAnswer::ofKind(IpInfoAnswer::Kind::Rejected);

    const QJsonValue data = answer.value(QLatin1String("data"));
    if (!data.isObject())
        return {};
    IpInfoAnswer result = IpInfoAnswer::ofKind(IpInfoAnswer::Kind::Rows);
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
    result.requestsLeft = web.headerNumber("X-Rl");
    result.secondsUntilReset = web.headerNumber("X-Ttl");
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

QJsonObject answerObject(const WebAnswer& web, bool* isObject)
{
    const QJsonDocument document = QJsonDocument::fromJson(web.body);
    *isObject = document.isObject();
    return document.object();
}

// ipwho.is: the address is the last step of the path; "success" false comes with a "message" that names an address
// it will not look up ("Invalid IP address", "Reserved range") or its own trouble (a used-up monthly limit). The
// carrier is under "connection". Without a key it allows a limited number of requests a day and answers 429 past
// them.

QString ipWhoisRequestUrl(const QString& prefix, const QString& address)
{
    return prefix + address + QLatin1String("?lang=zh-CN");
}

bool namesABadAddress(const QString& message)
{
    return message.contains(QLatin1String("invalid ip"), Qt::CaseInsensitive)
        || message.contains(QLatin1String("reserved range"), Qt::CaseInsensitive)
        || message.contains(QLatin1String("private range"), Qt::CaseInsensitive);
}

IpInfoAnswer readIpWhoisAnswer(const WebAnswer& web)
{
    if (web.status == 429)
        return IpInfoAnswer::ofKind(IpInfoAnswer::Kind::RateLimited);
    bool isObject = false;
    const QJsonObject answer = answerObject(web, &isObject);
    const QJsonValue success = answer.value(QLatin1String("success"));
    if (!isObject || !success.isBool())
        return {};
    if (!success.toBool()) {
        const QJsonValue message = answer.value(QLatin1String("message"));
        const bool badAddress = message.isString() && namesABadAddress(message.toString());
        return IpInfoAnswer::ofKind(badAddress ? IpInfoAnswer::Kind::Rejected : IpInfoAnswer::Kind::Unreadable);
    }
    IpInfoAnswer result = IpInfoAnswer::ofKind(IpInfoAnswer::Kind::Rows);
    readMembers(answer, { "ip", "country", "region", "city", "" }, result);
    const QJsonObject connection = answer.value(QLatin1String("connection")).toObject();
    for (const char* carrier : { "isp", "org" }) {
        const QJsonValue value = connection.value(QLatin1String(carrier));
        if (value.isString() && !value.toString().isEmpty()) {
            result.values[kInfoFieldCount - 1] = value.toString();
            break;
        }
    }
    return result;
}

// ipinfo.io: PREFIX + ADDRESS + "/json"; a private or reserved address answers "bogon": true, an address it cannot
// read a 404 whose "error" has the title "Wrong ip". The country is a two-letter code and the carrier ("org")
// begins with its AS number. Without a token it allows a limited number of requests a month and answers 429 past
// them; a token it does not accept gets 401 or 403.

QString ipInfoIoRequestUrl(const QString& prefix, const QString& address)
{
    return prefix + address + QLatin1String("/json");
}

HeaderList ipInfoIoRequestHeaders(const ServiceConfig& services)
{
    if (services.ipInfoToken.isEmpty())
        return {};
    return { { "Authorization", "Bearer " + services.ipInfoToken.toUtf8() } };
}

IpInfoAnswer readIpInfoIoAnswer(const WebAnswer& web)
{
    if (web.status == 429)
        return IpInfoAnswer::ofKind(IpInfoAnswer::Kind::RateLimited);
    if (web.status == 401 || web.status == 403)
        return IpInfoAnswer::ofKind(IpInfoAnswer::Kind::TokenRefused);
    bool isObject = false;
    const QJsonObject answer = answerObject(web, &isObject);
    if (!isObject)
        return {};
    if (web.status == 404) {
        const QJsonValue title = answer.value(QLatin1String("error")).toObject().value(QLatin1String("title"));
        return IpInfoAnswer::ofKind(title == QLatin1String("Wrong ip") ? IpInfoAnswer::Kind::Rejected
                                                                       : IpInfoAnswer::Kind::Unreadable);
    }
    if (web.status != 200)
        return {};
    if (answer.value(QLatin1String("bogon")) == QJsonValue(true))
        return IpInfoAnswer::ofKind(IpInfoAnswer::Kind::Rejected);
    // An object without the address is an error page of some other kind, not a lookup.
    if (!answer.value(QLatin1String("ip")).isString())
        return {};
    IpInfoAnswer result = IpInfoAnswer::ofKind(IpInfoAnswer::Kind::Rows);
    readMembers(answer, { "ip", "country", "region", "city", "org" }, result);
    return result;
}

constexpr IpInfoFormatAdapter kFormats[] = {
    { IpInfoFormat::IpApi, "ip-api", kIpApiServicePrefix, ipApiRequestUrl, readIpApiAnswer },
    { IpInfoFormat::GetIpInfo, "getipinfo", "", getIpInfoRequestUrl, readGetIpInfoAnswer },
    { IpInfoFormat::IpWhois, "ipwhois", kIpWhoisServicePrefix, ipWhoisRequestUrl, readIpWhoisAnswer },
    { IpInfoFormat::IpInfo, "ipinfo", kIpInfoServicePrefix, ipInfoIoRequestUrl, readIpInfoIoAnswer,
      ipInfoIoRequestHeaders },
    { IpInfoFormat::Mmdb, "mmdb", "", nullptr, nullptr, nullptr, lookUpInIpDatabase },
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

IpInfoAnswer IpInfoAnswer::ofKind(Kind kind)
{
    IpInfoAnswer answer;
    answer.kind = kind;
    return answer;
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

WebRequest ipInfoRequest(const ServiceConfig& services, const QString& address)
{
    const IpInfoFormatAdapter& adapter = ipInfoFormat(services.ipInfoFormat);
    return { adapter.requestUrl(services.ipInfoPrefix, address),
             adapter.requestHeaders ? adapter.requestHeaders(services) : HeaderList() };
}

QString rowsAsText(const QList<InfoRow>& rows)
{
    QString text;
    for (const InfoRow& row : rows)
        text += row.key + QLatin1Char('\t') + row.value + QLatin1Char('\n');
    return text;
}

} // namespace vantor

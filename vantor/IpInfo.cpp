#include "vantor/IpInfo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>

namespace vantor {

namespace {

struct RowSource
{
    const char16_t* key;
    const char* member;
};

constexpr RowSource kRows[] = {
    { u"IP", "ip" }, { u"国家", "country" }, { u"地区", "area" }, { u"城市", "city" }, { u"运营商", "isp" },
};

} // namespace

IpInfoAnswer readIpInfoAnswer(const QByteArray& body)
{
    // A bare number or text at the top level is valid JSON too, but it is no answer object either.
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return { IpInfoAnswer::Kind::Unreadable, {} };
    const QJsonObject answer = document.object();

    const QJsonValue code = answer.value(QLatin1String("code"));
    if (!code.isDouble())
        return { IpInfoAnswer::Kind::Unreadable, {} };
    // The code is read as an integer, so 1.5 counts as 1.
    if (std::trunc(code.toDouble()) == 1.0)
        return { IpInfoAnswer::Kind::Rejected, {} };

    const QJsonValue data = answer.value(QLatin1String("data"));
    if (!data.isObject())
        return { IpInfoAnswer::Kind::Unreadable, {} };
    const QJsonObject members = data.toObject();

    IpInfoAnswer result { IpInfoAnswer::Kind::Rows, {} };
    for (const RowSource& row : kRows) {
        QString value = members.value(QLatin1String(row.member)).toString();
        if (value.isEmpty())
            value = QStringLiteral("未知");
        result.rows.append({ QString::fromUtf16(row.key), value });
    }
    return result;
}

} // namespace vantor

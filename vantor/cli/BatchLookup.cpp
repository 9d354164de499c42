// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchLookup.h"

#include "vantor/net/Fetch.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/OwnAddress.h"

#include <QFileDevice>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace vantor::cli {

namespace {

// Written at once, so a reader of a pipe sees each answer while the next one is on its way.
void write(QIODevice& device, const QString& text)
{
    device.write(text.toUtf8());
    if (auto* file = qobject_cast<QFileDevice*>(&device))
        file->flush();
}

struct Failure
{
    const char* error; // in the JSON report
    const char16_t* message; // the window's alert, as one line
    int exitStatus;
};

constexpr Failure kNoNetwork { "network", u"连接超时: 您的网络不太给力哦！", kExitNoNetwork };
// The certificate alert's text; its reason follows on a line of its own.
constexpr Failure kInsecure { "insecure", u"无法安全连接到IP信息服务", kExitNoNetwork };

const Failure* failureOf(IpInfoAnswer::Kind kind)
{
    static constexpr Failure rejected { "rejected", u"查询错误: 您输入的IP有误", kExitNotAnswered };
    static constexpr Failure rateLimited { "rate-limited", u"查询错误: 查询太频繁，请稍后再试。", kExitNotAnswered };
    static constexpr Failure unreadable { "unreadable", u"查询错误: 无法读取IP信息服务的回答。", kExitNotAnswered };
    static constexpr Failure tokenRefused { "token-refused", u"查询错误: IP信息服务拒绝了访问令牌。",
                                            kExitNotAnswered };
    switch (kind) {
    case IpInfoAnswer::Kind::Rows:
        return nullptr;
    case IpInfoAnswer::Kind::Rejected:
        return &rejected;
    case IpInfoAnswer::Kind::RateLimited:
        return &rateLimited;
    case IpInfoAnswer::Kind::TokenRefused:
        return &tokenRefused;
    case IpInfoAnswer::Kind::Unreadable:
        break;
    }
    return &unreadable;
}

QJsonObject answeredReport(const QString& query, const IpInfoAnswer& answer)
{
    QJsonObject report { { QStringLiteral("query"), query }, { QStringLiteral("ok"), true } };
    for (std::size_t i = 0; i < kInfoFieldCount; ++i) {
        const std::optional<QString>& value = answer.values[i];
        report.insert(QLatin1String(kInfoFields[i].name), value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null));
    }
    return report;
}

QJsonObject failedReport(const QString& query, const Failure& failure)
{
    return { { QStringLiteral("query"), query },
             { QStringLiteral("ok"), false },
             { QStringLiteral("error"), QLatin1String(failure.error) } };
}

// The search for this machine's addresses, IPv4 first; none (and the reason on `err`) when both failed.
QStringList ownAddresses(const ServiceConfig& services, QIODevice& err)
{
    const OwnAddresses found = findOwnAddresses(services.myAddressUrls, services.myAddressTimeout);
    QStringList addresses;
    for (const std::optional<QString>& address : { found.ipv4, found.ipv6 }) {
        if (address)
            addresses << *address;
    }
    if (addresses.isEmpty())
        write(err, QStringLiteral("vantor-cli: 没有得到本机的公网地址：%1\n").arg(found.lastFailure));
    return addresses;
}

} // namespace

int printOwnAddresses(const ServiceConfig& services, bool json, QIODevice& out, QIODevice& err)
{
    const OwnAddresses found = findOwnAddresses(services.myAddressUrls, services.myAddressTimeout);
    const bool none = !found.ipv4 && !found.ipv6;
    if (none)
        write(err, QStringLiteral("vantor-cli: 没有得到本机的公网地址：%1\n").arg(found.lastFailure));
    if (json) {
        const auto value = [](const std::optional<QString>& address) {
            return address ? QJsonValue(*address) : QJsonValue(QJsonValue::Null);
        };
        const QJsonObject report { { QStringLiteral("ipv4"), value(found.ipv4) },
                                   { QStringLiteral("ipv6"), value(found.ipv6) } };
        write(out, QString::fromUtf8(QJsonDocument(report).toJson()));
    } else {
        for (const std::optional<QString>& address : { found.ipv4, found.ipv6 }) {
            if (address)
                write(out, *address + QLatin1Char('\n'));
        }
    }
    return none ? kExitNoNetwork : kExitAnswered;
}

int lookUpAll(const ServiceConfig& services, const QStringList& addresses, bool json, QIODevice& out, QIODevice& err,
              const Wait& wait)
{
    QStringList queries = addresses;
    if (queries.isEmpty()) {
        queries = ownAddresses(services, err);
        if (queries.isEmpty()) {
            if (json)
                write(out, QStringLiteral("[]\n"));
            return kExitNoNetwork;
        }
    }

    int exitStatus = kExitAnswered;
    QJsonArray report;
    bool rowsWritten = false;
    for (qsizetype i = 0; i < queries.size(); ++i) {
        const QString& query = queries[i];
        FetchFailure fetchFailure;
        const std::optional<WebAnswer> web
            = fetchAnswer(ipInfoRequest(services, query), services.ipInfoTimeout, &fetchFailure);
        const IpInfoAnswer answer = web ? ipInfoFormat(services.ipInfoFormat).readAnswer(*web) : IpInfoAnswer();
        const bool insecure = !web && fetchFailure.kind == FetchFailure::Kind::Insecure;
        const Failure* failure = web ? failureOf(answer.kind) : insecure ? &kInsecure : &kNoNetwork;

        if (failure) {
            write(err, QString::fromUtf16(failure->message)
                      + (insecure ? QStringLiteral(": ") + fetchFailure.reason : QString()) + QLatin1Char('\n'));
            exitStatus = std::max(exitStatus, failure->exitStatus);
            report.append(failedReport(query, *failure));
        } else {
            report.append(answeredReport(query, answer));
            if (!json) {
                write(out, (rowsWritten ? QStringLiteral("\n") : QString()) + rowsAsText(answer.rows()));
                rowsWritten = true;
            }
        }

        if (i + 1 < queries.size() && answer.requestsLeft == 0) {
            const std::chrono::seconds pause
                = std::min(std::chrono::seconds(answer.secondsUntilReset.value_or(kLongestRateLimitWait.count())),
                           kLongestRateLimitWait);
            if (pause.count() > 0) {
                write(err, QStringLiteral("vantor-cli: 查询太频繁，等待 %1 秒后继续。\n").arg(pause.count()));
                wait(pause);
            }
        }
    }
    if (json)
        write(out, QString::fromUtf8(QJsonDocument(report).toJson()));
    return exitStatus;
}

} // namespace vantor::cli

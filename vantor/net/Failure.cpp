// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Failure.h"

#include "platform/ListText.h"

#include <QStringList>
#include <iterator>

namespace vantor {

namespace {

constexpr char16_t kQueryError[] = u"查询错误";
constexpr char16_t kUnreadableText[] = u"无法读取IP信息服务的回答。";
constexpr char16_t kTimedOut[] = u"连接超时";
constexpr char16_t kSlowNetwork[] = u"您的网络不太给力哦！";

// In FailureKind's order. Every request without an answer is "network" to a script and "连接超时" in the window;
// the person reading standard error learns which way it failed. A database that cannot be used is a setting's
// fault in the window; vantor-cli opens its databases before the first lookup, so there it is only unreadable.
constexpr Failure kFailures[] = {
    { FailureKind::None, u"", nullptr, nullptr, nullptr, "ok", kExitAnswered },
    { FailureKind::Rejected, kQueryError, u"您输入的IP有误", nullptr, nullptr, "rejected", kExitNotAnswered },
    { FailureKind::Unreadable, kQueryError, kUnreadableText, nullptr, nullptr, "unreadable", kExitNotAnswered },
    { FailureKind::RateLimited, kQueryError, u"查询太频繁，请稍后再试。", nullptr, nullptr, "rate-limited",
      kExitNotAnswered },
    { FailureKind::TokenRefused, kQueryError, u"IP信息服务拒绝了访问令牌。", nullptr, nullptr, "token-refused",
      kExitNotAnswered },
    { FailureKind::NotFound, kQueryError, u"数据库中没有这个地址。", nullptr, nullptr, "not-found", kExitNotAnswered,
      "not in the database" },
    { FailureKind::Unavailable, u"配置错误", nullptr, kQueryError, kUnreadableText, "unreadable", kExitNotAnswered },
    { FailureKind::TimedOut, kTimedOut, kSlowNetwork, nullptr, nullptr, "network", kExitNoNetwork },
    { FailureKind::Refused, kTimedOut, kSlowNetwork, u"连接被拒绝", u"服务器没有接受连接。", "network",
      kExitNoNetwork },
    { FailureKind::Reset, kTimedOut, kSlowNetwork, u"连接被重置", u"服务器中断了连接。", "network", kExitNoNetwork },
    { FailureKind::HostNotFound, kTimedOut, kSlowNetwork, u"找不到服务器", u"请检查网络和服务的网址。", "network",
      kExitNoNetwork },
    // The reason why the certificate was refused is the alert's text, and follows the line on standard error.
    { FailureKind::Insecure, u"无法安全连接到IP信息服务", nullptr, nullptr, nullptr, "insecure", kExitNoNetwork,
      "the service failed the certificate check" },
};
static_assert(std::size(kFailures) == std::size_t(FailureKind::Insecure) + 1);

constexpr bool inKindOrder()
{
    for (std::size_t i = 0; i < std::size(kFailures); ++i) {
        if (std::size_t(kFailures[i].kind) != i)
            return false;
    }
    return true;
}
static_assert(inKindOrder());

} // namespace

const Failure& failure(FailureKind kind)
{
    return kFailures[std::size_t(kind)];
}

FailureKind failureOf(IpInfoAnswer::Kind kind)
{
    switch (kind) {
    case IpInfoAnswer::Kind::Rows:
        return FailureKind::None;
    case IpInfoAnswer::Kind::Rejected:
        return FailureKind::Rejected;
    case IpInfoAnswer::Kind::RateLimited:
        return FailureKind::RateLimited;
    case IpInfoAnswer::Kind::TokenRefused:
        return FailureKind::TokenRefused;
    case IpInfoAnswer::Kind::NotFound:
        return FailureKind::NotFound;
    case IpInfoAnswer::Kind::Unavailable:
        return FailureKind::Unavailable;
    case IpInfoAnswer::Kind::Unreadable:
        break;
    }
    return FailureKind::Unreadable;
}

FailureKind failureOf(FetchFailure::Kind kind)
{
    switch (kind) {
    case FetchFailure::Kind::Refused:
        return FailureKind::Refused;
    case FetchFailure::Kind::Reset:
        return FailureKind::Reset;
    case FetchFailure::Kind::HostNotFound:
        return FailureKind::HostNotFound;
    case FetchFailure::Kind::Insecure:
        return FailureKind::Insecure;
    case FetchFailure::Kind::Network: // as the window says it: not a URL, an overlong answer
    case FetchFailure::Kind::TimedOut:
    case FetchFailure::Kind::Cancelled:
        break;
    }
    return FailureKind::TimedOut;
}

QString errorNameList()
{
    QStringList names;
    QStringList seen;
    for (const Failure& row : kFailures) {
        const QString name = QLatin1String(row.error);
        if (row.kind == FailureKind::None || seen.contains(name))
            continue;
        seen << name;
        names << (row.errorNote ? QStringLiteral("%1 (%2)").arg(name, QLatin1String(row.errorNote)) : name);
    }
    return platform::joinedList(names, u", ", u" or ");
}

QString alertText(const Failure& failure, const QString& reason)
{
    return failure.text ? QString::fromUtf16(failure.text) : reason;
}

QString terminalMessage(const Failure& failure)
{
    const char16_t* title = failure.terminalTitle ? failure.terminalTitle : failure.title;
    const char16_t* text = failure.terminalTitle ? failure.terminalText : failure.text;
    QString message = QString::fromUtf16(title);
    if (text)
        message += QStringLiteral(": ") + QString::fromUtf16(text);
    return message;
}

} // namespace vantor

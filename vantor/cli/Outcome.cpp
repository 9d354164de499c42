// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/Outcome.h"

#include "vantor/cli/BatchLookup.h"

namespace vantor::cli {

namespace {

// In FailureKind's order. Every request without an answer is "network" to a script; the person reading standard
// error learns which way it failed.
constexpr Failure kFailures[] = {
    { "ok", u"", kExitAnswered },
    { "rejected", u"查询错误: 您输入的IP有误", kExitNotAnswered },
    { "rate-limited", u"查询错误: 查询太频繁，请稍后再试。", kExitNotAnswered },
    { "unreadable", u"查询错误: 无法读取IP信息服务的回答。", kExitNotAnswered },
    { "token-refused", u"查询错误: IP信息服务拒绝了访问令牌。", kExitNotAnswered },
    { "not-found", u"查询错误: 数据库中没有这个地址。", kExitNotAnswered },
    { "network", u"连接超时: 您的网络不太给力哦！", kExitNoNetwork },
    { "network", u"连接被拒绝: 服务器没有接受连接。", kExitNoNetwork },
    { "network", u"连接被重置: 服务器中断了连接。", kExitNoNetwork },
    { "network", u"找不到服务器: 请检查网络和服务的网址。", kExitNoNetwork },
    // The certificate alert's text; its reason follows.
    { "insecure", u"无法安全连接到IP信息服务", kExitNoNetwork },
};
static_assert(std::size(kFailures) == std::size_t(FailureKind::Insecure) + 1);

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
    case IpInfoAnswer::Kind::Unreadable:
    case IpInfoAnswer::Kind::Unavailable:
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

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Failure.h"

#include <gtest/gtest.h>

namespace {

using vantor::FailureKind;

struct Shown
{
    FailureKind kind;
    const char* error;
    int exitStatus;
    QString alertTitle;
    QString alertText; // with the reason "R"
    QString terminal; // the line on standard error before any reason
};

void expectShown(const Shown& expected)
{
    const vantor::Failure& row = vantor::failure(expected.kind);
    EXPECT_EQ(row.kind, expected.kind);
    EXPECT_STREQ(row.error, expected.error);
    EXPECT_EQ(row.exitStatus, expected.exitStatus);
    if (expected.kind == FailureKind::None)
        return; // an answer: nothing to tell
    EXPECT_EQ(QString::fromUtf16(row.title), expected.alertTitle);
    EXPECT_EQ(vantor::alertText(row, QStringLiteral("R")), expected.alertText);
    EXPECT_EQ(vantor::terminalMessage(row), expected.terminal);
}

const QString kQueryError = QStringLiteral("查询错误");
const QString kTimedOut = QStringLiteral("连接超时");
const QString kSlow = QStringLiteral("您的网络不太给力哦！");

TEST(FailureTable, EachFetchFailureHasItsRow)
{
    using Fetch = vantor::FetchFailure::Kind;
    const struct
    {
        Fetch fetch;
        Shown shown;
    } cases[] = {
        { Fetch::Network,
          { FailureKind::TimedOut, "network", 3, kTimedOut, kSlow, QStringLiteral("连接超时: 您的网络不太给力哦！") } },
        { Fetch::TimedOut,
          { FailureKind::TimedOut, "network", 3, kTimedOut, kSlow, QStringLiteral("连接超时: 您的网络不太给力哦！") } },
        { Fetch::Cancelled,
          { FailureKind::TimedOut, "network", 3, kTimedOut, kSlow, QStringLiteral("连接超时: 您的网络不太给力哦！") } },
        { Fetch::Refused,
          { FailureKind::Refused, "network", 3, kTimedOut, kSlow,
            QStringLiteral("连接被拒绝: 服务器没有接受连接。") } },
        { Fetch::Reset,
          { FailureKind::Reset, "network", 3, kTimedOut, kSlow, QStringLiteral("连接被重置: 服务器中断了连接。") } },
        { Fetch::HostNotFound,
          { FailureKind::HostNotFound, "network", 3, kTimedOut, kSlow,
            QStringLiteral("找不到服务器: 请检查网络和服务的网址。") } },
        { Fetch::Insecure,
          { FailureKind::Insecure, "insecure", 3, QStringLiteral("无法安全连接到IP信息服务"), QStringLiteral("R"),
            QStringLiteral("无法安全连接到IP信息服务") } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.fetch));
        EXPECT_EQ(vantor::failureOf(c.fetch), c.shown.kind);
        expectShown(c.shown);
    }
}

TEST(FailureTable, EachAnswerHasItsRow)
{
    using Answer = vantor::IpInfoAnswer::Kind;
    const struct
    {
        Answer answer;
        Shown shown;
    } cases[] = {
        { Answer::Rows, { FailureKind::None, "ok", 0, {}, {}, {} } },
        { Answer::Rejected,
          { FailureKind::Rejected, "rejected", 1, kQueryError, QStringLiteral("您输入的IP有误"),
            QStringLiteral("查询错误: 您输入的IP有误") } },
        { Answer::RateLimited,
          { FailureKind::RateLimited, "rate-limited", 1, kQueryError, QStringLiteral("查询太频繁，请稍后再试。"),
            QStringLiteral("查询错误: 查询太频繁，请稍后再试。") } },
        { Answer::Unreadable,
          { FailureKind::Unreadable, "unreadable", 1, kQueryError, QStringLiteral("无法读取IP信息服务的回答。"),
            QStringLiteral("查询错误: 无法读取IP信息服务的回答。") } },
        { Answer::TokenRefused,
          { FailureKind::TokenRefused, "token-refused", 1, kQueryError, QStringLiteral("IP信息服务拒绝了访问令牌。"),
            QStringLiteral("查询错误: IP信息服务拒绝了访问令牌。") } },
        { Answer::NotFound,
          { FailureKind::NotFound, "not-found", 1, kQueryError, QStringLiteral("数据库中没有这个地址。"),
            QStringLiteral("查询错误: 数据库中没有这个地址。") } },
        { Answer::Unavailable,
          { FailureKind::Unavailable, "unreadable", 1, QStringLiteral("配置错误"), QStringLiteral("R"),
            QStringLiteral("查询错误: 无法读取IP信息服务的回答。") } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.answer));
        EXPECT_EQ(vantor::failureOf(c.answer), c.shown.kind);
        expectShown(c.shown);
    }
}

TEST(FailureTable, ErrorNamesForHelp)
{
    EXPECT_EQ(vantor::errorNameList(),
              QStringLiteral("rejected, unreadable, rate-limited, token-refused, not-found (not in the database), "
                             "network or insecure (the service failed the certificate check)"));
}

} // namespace

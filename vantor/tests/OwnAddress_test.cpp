// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/OwnAddress.h"

#include <gtest/gtest.h>

namespace {

TEST(OwnAddress, OnlyTheTrailingLineBreakGoesAndOnlyAnAddressCounts)
{
    struct Case
    {
        const char* answer;
        std::optional<QString> address;
    } const cases[] = {
        { "203.0.113.7\n", QStringLiteral("203.0.113.7") },
        { "203.0.113.7\r\n", QStringLiteral("203.0.113.7") },
        // Without a line break nothing is cut: the last digit stays.
        { "198.51.100.12", QStringLiteral("198.51.100.12") },
        { "2001:db8::8a2e:370:7334\n", QStringLiteral("2001:db8::8a2e:370:7334") },
        { "2001:DB8::1", QStringLiteral("2001:DB8::1") },
        { "::ffff:192.0.2.1\n", QStringLiteral("::ffff:192.0.2.1") },
        { "", std::nullopt },
        { "\n", std::nullopt },
        { "203.0.113.7\n\n", std::nullopt },
        { "203.0.113.7 \n", std::nullopt },
        { " 203.0.113.7\n", std::nullopt },
        { "203.0.113.7\r", std::nullopt },
        { "<html><head><title>Wi-Fi login</title></head></html>\n", std::nullopt },
        { "1\n", std::nullopt }, // QHostAddress would read 0.0.0.1
        { "127.1\n", std::nullopt },
        { "203.0.113.256\n", std::nullopt },
        { "203.0.113\n", std::nullopt },
        { "2001:db8:::1\n", std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        EXPECT_EQ(vantor::ownAddressFromAnswer(QString::fromLatin1(c.answer)), c.address);
    }
}

} // namespace

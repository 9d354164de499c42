// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ListText.h"

#include <gtest/gtest.h>

namespace {

TEST(ListText, LastSeparatorOnlyBeforeTheLast)
{
    const struct
    {
        QStringList items;
        const char16_t* separator;
        const char16_t* lastSeparator;
        const char16_t* expected;
    } cases[] = {
        { {}, u", ", u" and ", u"" },
        { { "a" }, u", ", u" and ", u"a" },
        { { "a", "b" }, u", ", u" and ", u"a and b" },
        { { "a", "b", "c" }, u", ", u" and ", u"a, b and c" },
        { { "a", "b", "c", "d" }, u", ", u", and ", u"a, b, c, and d" },
        { { "多核", "磁盘", "内存带宽" }, u"、", u"和", u"多核、磁盘和内存带宽" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::joinedList(c.items, c.separator, c.lastSeparator), QString::fromUtf16(c.expected))
            << c.items.join(u'|').toStdString();
}

} // namespace

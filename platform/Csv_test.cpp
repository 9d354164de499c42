// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Csv.h"

#include <gtest/gtest.h>

namespace {

using platform::CsvLineEnd;
using platform::csvRecord;

TEST(Csv, QuotesWhatNeedsIt)
{
    EXPECT_EQ(csvRecord({ "ip", "country" }, CsvLineEnd::CrLf), "ip,country\r\n");
    EXPECT_EQ(csvRecord({ "198.51.100.9", "San Francisco, \"SF\"", "", "上海", "a\nb", "ok" }, CsvLineEnd::CrLf),
              "198.51.100.9,\"San Francisco, \"\"SF\"\"\",,上海,\"a\nb\",ok\r\n");
    EXPECT_EQ(csvRecord({ " spaces kept ", "\"" }, CsvLineEnd::CrLf), " spaces kept ,\"\"\"\"\r\n");
    EXPECT_EQ(csvRecord({ "a\rb", "1.5" }, CsvLineEnd::Lf), "\"a\rb\",1.5\n");
}

} // namespace

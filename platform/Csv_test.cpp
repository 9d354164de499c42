// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Csv.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>

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

// vantor-cli writes its rows as UTF-8 bytes, the rest as texts: both quote each field alike.
TEST(Csv, BytesQuotedAsTexts)
{
    for (const char* utf8 :
         { "", "plain", "上海", "a,b", "say \"hi\"", "\"", "line\nbreak", "cr\r", "北京, \"中国\"" }) {
        const QString text = QString::fromUtf8(utf8);
        std::string bytes = "x,";
        platform::appendCsvField(bytes, std::string_view(utf8));
        EXPECT_EQ(QByteArray::fromStdString(bytes), "x," + platform::csvField(text).toUtf8()) << utf8;
        EXPECT_EQ(platform::csvRecord({ text }, CsvLineEnd::Lf), platform::csvField(text) + QLatin1Char('\n'));
    }
}

} // namespace

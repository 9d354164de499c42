// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddressList.h"
#include "Csv.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

using vantor::cli::ListedLine;

TEST(AddressList, ReadsOneAddressALine)
{
    QByteArray text = "203.0.113.7\n"
                      "\n"
                      "# a comment\n"
                      "  2001:db8::1  # where it came from\r\n"
                      "\t198.51.100.1\t\n"
                      "203.0.113.7\n"
                      "127.1\n"
                      "203.0.113.7, 198.51.100.1\n"
                      "   \n"
                      "example.org\n"
                      "::ffff:192.0.2.1\n"
                      "999.1.1.1"; // the last line without its line break
    QBuffer device(&text);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly));
    vantor::cli::AddressListReader reader(device);
    QStringList lines;
    while (const std::optional<ListedLine> line = reader.next())
        lines << QStringLiteral("%1 %2 %3").arg(line->lineNumber).arg(line->isAddress ? "ok" : "bad", line->text);
    EXPECT_EQ(lines,
              QStringList({ "1 ok 203.0.113.7", "4 ok 2001:db8::1", "5 ok 198.51.100.1", "6 ok 203.0.113.7",
                            "7 bad 127.1", "8 bad 203.0.113.7, 198.51.100.1", "10 bad example.org",
                            "11 ok ::ffff:192.0.2.1", "12 bad 999.1.1.1" }));
}

TEST(Csv, QuotesWhatNeedsIt)
{
    EXPECT_EQ(vantor::cli::csvRecord({ "ip", "country" }), "ip,country\r\n");
    EXPECT_EQ(vantor::cli::csvRecord({ "198.51.100.9", "San Francisco, \"SF\"", "", "上海", "a\nb", "ok" }),
              "198.51.100.9,\"San Francisco, \"\"SF\"\"\",,上海,\"a\nb\",ok\r\n");
    EXPECT_EQ(vantor::cli::csvRecord({ " spaces kept ", "\"" }), " spaces kept ,\"\"\"\"\r\n");
}

} // namespace

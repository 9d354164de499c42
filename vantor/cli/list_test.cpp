// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AddressList.h"
#include "vantor/cli/AddressesInText.h"

#include <QBuffer>
#include <QHostAddress>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using vantor::cli::ListedLine;

TEST(AddressList, ReadsOneAddressALine)
{
    QByteArray text = "142.250.7.7\n"
                      "\n"
                      "# a comment\n"
                      "  2001:67c::1  # where it came from\r\n"
                      "\t151.101.65.1\t\n"
                      "142.250.7.7\n"
                      "127.1\n"
                      "142.250.7.7, 151.101.65.1\n"
                      "   \n"
                      "example.org\n"
                      "::ffff:81.2.69.1\n"
                      "999.1.1.1"; // the last line without its line break
    QBuffer device(&text);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly));
    vantor::cli::AddressListReader reader(device);
    QStringList lines;
    while (const std::optional<ListedLine> line = reader.next())
        lines << QStringLiteral("%1 %2 %3").arg(line->lineNumber).arg(line->isAddress ? "ok" : "bad", line->text);
    EXPECT_EQ(lines,
              QStringList({ "1 ok 142.250.7.7", "4 ok 2001:67c::1", "5 ok 151.101.65.1", "6 ok 142.250.7.7",
                            "7 bad 127.1", "8 bad 142.250.7.7, 151.101.65.1", "10 bad example.org",
                            "11 ok ::ffff:81.2.69.1", "12 bad 999.1.1.1" }));
}

TEST(AddressList, LinesOverTheBoundAreRejectedUnread)
{
    using vantor::cli::kLongestListLine;
    const QByteArray atBound(kLongestListLine, 'a');
    const QByteArray over(kLongestListLine + 1, 'a');
    const QString cut = QString(kLongestListLine, QLatin1Char('a')) + QChar(0x2026);
    const struct
    {
        const char* name;
        QByteArray line; // followed by "142.250.7.7\n"
        QString text;
        bool overlong;
    } cases[] = {
        { "at the bound", atBound + "\n", QString::fromLatin1(atBound), false },
        { "at the bound with CR LF", atBound + "\r\n", QString::fromLatin1(atBound), false },
        { "one byte over", over + "\n", cut, true },
        { "one byte over with CR LF", over + "\r\n", cut, true },
        { "many times over", QByteArray(3 * 1024 * 1024, 'a') + "\n", cut, true },
        // Cut before a character that does not fit whole.
        { "a character across the bound", QByteArray(kLongestListLine - 1, 'a') + "中国\n",
          QString(kLongestListLine - 1, QLatin1Char('a')) + QChar(0x2026), true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray text = c.line + "142.250.7.7\n";
        QBuffer device(&text);
        ASSERT_TRUE(device.open(QIODevice::ReadOnly));
        vantor::cli::AddressListReader reader(device);
        const std::optional<ListedLine> first = reader.next();
        ASSERT_TRUE(first);
        EXPECT_EQ(first->text, c.text);
        EXPECT_EQ(first->overlong, c.overlong);
        EXPECT_FALSE(first->isAddress);
        const std::optional<ListedLine> second = reader.next();
        ASSERT_TRUE(second);
        EXPECT_EQ(second->lineNumber, 2);
        EXPECT_EQ(second->text, QStringLiteral("142.250.7.7"));
        EXPECT_FALSE(reader.next());
    }

    // The last line, without its line break.
    QByteArray last = "142.250.7.7\n" + over;
    QBuffer device(&last);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly));
    vantor::cli::AddressListReader reader(device);
    reader.next();
    const std::optional<ListedLine> line = reader.next();
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->overlong);
    EXPECT_EQ(line->lineNumber, 2);
    EXPECT_FALSE(reader.next());
}

// The words of log lines that are addresses and those that only look like one; read as text, every line is searched
// ('#' is no comment there) and a line without an address is passed over.
TEST(AddressList, TextGivesTheAddressesStandingInItsLines)
{
    const struct
    {
        const char* line;
        QStringList addresses;
    } cases[] = {
        { R"(203.0.113.7 - - [09/Dec/2026:10:00:00 +0000] "GET /v1.2.3.4/ HTTP/1.1" 200 612 "-" "curl/8.5.0")",
          { "203.0.113.7" } },
        { "Failed password for root from 192.0.2.1 port 22 ssh2", { "192.0.2.1" } },
        { "connect from unknown[2a00:1450::1] client=198.51.100.7, (8.8.8.8) \"2606:4700::1111\"",
          { "2a00:1450::1", "198.51.100.7", "8.8.8.8", "2606:4700::1111" } },
        { "IN=eth0 OUT= SRC=10.0.0.1 DST=::ffff:10.0.0.2 LEN=60", { "10.0.0.1", "::ffff:10.0.0.2" } },
        { "[2001:db8::1]:443 1.2.3.4:8080 fe80::1%eth0 ip:1.1.1.1 from 9.9.9.9.", //
          { "2001:db8::1", "1.2.3.4", "fe80::1", "1.1.1.1", "9.9.9.9" } },
        { "# 2606:4700:: 1:2:3:4:5:6:7:8: 来自81.2.69.1端口", { "2606:4700::", "1:2:3:4:5:6:7:8", "81.2.69.1" } },
        { "1.2.3.4.5 v1.2.3.4 1.2.3.4a 1.2.3 127.1 256.1.1.1 01.2.3.4 1.2.3.04 10:32:01 2026-12-09", {} },
        { "00:1a:2b:3c:4d:5e e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 ns::abc::def", {} },
        { "my_abc::def :: ::. [::]:22 1:2:3:4:5:6:7:8:9 2606:4700:::1 ::ffff:01.2.3.4 0x7f.0.0.1", {} },
    };
    QByteArray text;
    QStringList all;
    for (const auto& c : cases) {
        EXPECT_EQ(vantor::cli::addressesInText(c.line).join(' ').toStdString(), c.addresses.join(' ').toStdString())
            << c.line;
        text += QByteArray(c.line) + "\n";
        all << c.addresses;
    }
    QBuffer device(&text);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly));
    vantor::cli::AddressListReader reader(device, {}, vantor::cli::ListKind::Text);
    QStringList read;
    while (const std::optional<ListedLine> line = reader.next()) {
        EXPECT_EQ(line->found.join(' ').toStdString(), cases[line->lineNumber - 1].addresses.join(' ').toStdString())
            << line->lineNumber;
        read << line->found;
    }
    EXPECT_EQ(read, all);
}

// A stream without line breaks, as /dev/zero is, up to a bound: a reader that does not stop fails instead of hanging.
class Zeros : public QIODevice
{
public:
    static constexpr qint64 kBound = 64 * 1024 * 1024;
    Zeros() { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 given = 0;

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (given >= kBound)
            return -1;
        std::memset(data, 0, std::size_t(maxSize));
        given += maxSize;
        return maxSize;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
};

TEST(AddressList, ALineWithoutEndIsPassedOverOnlyUntilAStop)
{
    Zeros zeros;
    vantor::cli::AddressListReader reader(zeros, [&] { return zeros.given > 1024 * 1024; });
    const std::optional<ListedLine> line = reader.next();
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->overlong);
    EXPECT_LT(zeros.given, Zeros::kBound);
    const qint64 given = zeros.given;
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(zeros.given, given) << "read on after the stop";
}

} // namespace

namespace {

// IPv4 is checked without QHostAddress; what counts as an address must stay what QHostAddress writes back unchanged.
TEST(AddressList, DottedDecimalIsWhatQHostAddressWritesBack)
{
    for (const char* text : { "0.0.0.0", "255.255.255.255", "142.250.7.7", "01.2.3.4", "1.2.3.04", "1.2.3.00",
                              "256.1.1.1", "1.2.3", "1.2.3.4.", ".1.2.3.4", "1..2.3", "0x7f.0.0.1", "1.2.3.4/24",
                              "1.2.3.-4", "+1.2.3.4", "１.2.3.4", "12345.1.1", "4294967295", "" }) {
        const QString address = QString::fromUtf8(text);
        const QHostAddress host(address);
        const bool written = host.protocol() == QAbstractSocket::IPv4Protocol && host.toString() == address;
        EXPECT_EQ(vantor::cli::isIpAddress(address), written) << text;
    }
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/ReservedBlocks.h"

#include <QHostAddress>
#include <gtest/gtest.h>

namespace {

using vantor::SpecialPurposeBlock;
using vantor::SpecialPurposeRow;

using Subnet = QPair<QHostAddress, int>;

Subnet subnetOf(const SpecialPurposeRow& row)
{
    return QHostAddress::parseSubnet(QString::fromLatin1(row.block.block.data(), qsizetype(row.block.block.size())));
}

// An IPv6 address moved by `step` (+1 or -1), wrapping at the ends; IPv4 ones as numbers.
QHostAddress moved(const QHostAddress& address, int step)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return QHostAddress(quint32(address.toIPv4Address() + quint32(step)));
    Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 15; i >= 0; --i) {
        bytes[i] = quint8(bytes[i] + step);
        if (bytes[i] != (step > 0 ? 0x00 : 0xff))
            break;
    }
    return QHostAddress(bytes);
}

// The network's last address: every bit past the prefix set.
QHostAddress lastOf(const Subnet& subnet)
{
    if (subnet.first.protocol() == QAbstractSocket::IPv4Protocol)
        return QHostAddress(subnet.first.toIPv4Address() | (subnet.second >= 32 ? 0u : ~0u >> subnet.second));
    Q_IPV6ADDR bytes = subnet.first.toIPv6Address();
    for (int bit = subnet.second; bit < 128; ++bit)
        bytes[bit / 8] |= quint8(0x80 >> (bit % 8));
    return QHostAddress(bytes);
}

// What the table should say, read through Qt's own subnet test: the smallest block holding the address, unless that
// block is globally reachable.
std::optional<std::string_view> expectedBlock(const QHostAddress& address)
{
    const SpecialPurposeRow* best = nullptr;
    for (const SpecialPurposeRow& row : vantor::specialPurposeRows()) {
        if (address.isInSubnet(subnetOf(row)) && (!best || row.prefixLength > best->prefixLength))
            best = &row;
    }
    if (!best || best->globallyReachable)
        return std::nullopt;
    return best->block.block;
}

std::optional<std::string_view> blockOf(const QHostAddress& address)
{
    const std::optional<SpecialPurposeBlock> special = vantor::specialPurposeBlock(address);
    return special ? std::optional(special->block) : std::nullopt;
}

TEST(ReservedBlocksTest, EachRowHoldsItsFirstAndLastAddressAndNotItsNeighbours)
{
    for (const SpecialPurposeRow& row : vantor::specialPurposeRows()) {
        SCOPED_TRACE(std::string(row.block.block));
        const Subnet subnet = subnetOf(row);
        ASSERT_FALSE(subnet.first.isNull());
        // The numbers the lookup uses are the block's text.
        Q_IPV6ADDR network {};
        std::copy(row.network.begin(), row.network.end(), network.c);
        const quint32 ipv4 = quint32(network[12]) << 24 | quint32(network[13]) << 16 | quint32(network[14]) << 8
            | quint32(network[15]);
        EXPECT_EQ(subnet.first.toString(), (row.ipv6 ? QHostAddress(network) : QHostAddress(ipv4)).toString());
        EXPECT_EQ(subnet.second, row.prefixLength);
        EXPECT_EQ(row.ipv6, subnet.first.protocol() == QAbstractSocket::IPv6Protocol);
        EXPECT_FALSE(row.block.name.empty());
        EXPECT_TRUE(row.block.rfc.starts_with("RFC "));

        const QHostAddress first = subnet.first;
        const QHostAddress last = lastOf(subnet);
        for (const QHostAddress& address : { first, last }) {
            SCOPED_TRACE(address.toString().toStdString());
            // A row's own ends are its own, or a smaller block's inside it.
            EXPECT_EQ(blockOf(address), expectedBlock(address));
            EXPECT_EQ(blockOf(address).has_value(), !row.globallyReachable);
        }
        // One address on each side is public, or in a neighbouring or enclosing block.
        for (const QHostAddress& address : { moved(first, -1), moved(last, +1) }) {
            SCOPED_TRACE(address.toString().toStdString());
            if (address.isInSubnet(subnet))
                continue; // the family's end wrapped round
            EXPECT_NE(blockOf(address), std::optional(row.block.block));
            EXPECT_EQ(blockOf(address), expectedBlock(address));
        }
        // The IPv4-mapped form and the address as text are the same address.
        if (!row.ipv6) {
            for (const QHostAddress& address : { first, last }) {
                const QHostAddress mapped(QStringLiteral("::ffff:") + address.toString());
                ASSERT_EQ(mapped.protocol(), QAbstractSocket::IPv6Protocol);
                EXPECT_EQ(blockOf(mapped), blockOf(address)) << mapped.toString().toStdString();
            }
        }
        const QString text = first.toString();
        const std::optional<SpecialPurposeBlock> fromText = vantor::specialPurposeBlock(QStringView(text));
        EXPECT_EQ(fromText ? std::optional(fromText->block) : std::nullopt, blockOf(first));
    }
}

TEST(ReservedBlocksTest, PublicAddressesAndOtherTextsAreNotSpecial)
{
    const struct
    {
        const char* text;
        const char* block; // null: not special
    } cases[] = {
        { "1.1.1.1", nullptr },
        { "8.8.8.8", nullptr },
        { "81.2.69.160", nullptr },
        { "2606:4700::1111", nullptr },
        { "2a00:1450::1", nullptr },
        { "::ffff:9.9.9.9", nullptr },
        { "64:ff9b::808:808", nullptr },
        { "192.0.0.9", nullptr },
        { "2001:4:112::1", nullptr },
        { "192.168.1.1", "192.168.0.0/16" },
        { "::ffff:192.168.1.1", "192.168.0.0/16" },
        { "::ffff:c0a8:101", "192.168.0.0/16" },
        { "203.0.113.7", "203.0.113.0/24" },
        { "198.51.100.7", "198.51.100.0/24" },
        { "192.0.2.1", "192.0.2.0/24" },
        { "2001:db8::7", "2001:db8::/32" },
        { "fe80::1%eth0", "fe80::/10" },
        { "FF02::1", "ff00::/8" },
        // Short and padded forms are no addresses in their usual form: they go where they went before.
        { "10.1", nullptr },
        { " 10.0.0.1", nullptr },
        { "10.0.0.1%eth0", nullptr },
        { "", nullptr },
        { "not an address", nullptr },
    };
    for (const auto& c : cases) {
        const std::optional<SpecialPurposeBlock> special = vantor::specialPurposeBlock(c.text);
        EXPECT_EQ(special ? std::optional(special->block) : std::nullopt,
                  c.block ? std::optional<std::string_view>(c.block) : std::nullopt)
            << c.text;
    }
}

} // namespace

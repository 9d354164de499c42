// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/ReservedBlocks.h"

#include <QHostAddress>
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace vantor {

namespace {

using Bytes = std::array<std::uint8_t, 16>;

constexpr Bytes v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    return { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, a, b, c, d };
}

// The leading groups of an IPv6 network; the rest are zero.
constexpr Bytes v6(std::initializer_list<std::uint16_t> groups)
{
    Bytes bytes {};
    std::size_t i = 0;
    for (const std::uint16_t group : groups) {
        bytes[i++] = std::uint8_t(group >> 8);
        bytes[i++] = std::uint8_t(group & 0xff);
    }
    return bytes;
}

constexpr SpecialPurposeRow row4(std::string_view block, std::string_view name, std::string_view rfc, Bytes network,
                                 int prefixLength, bool globallyReachable = false)
{
    return { { block, name, rfc }, false, network, prefixLength, globallyReachable };
}

constexpr SpecialPurposeRow row6(std::string_view block, std::string_view name, std::string_view rfc, Bytes network,
                                 int prefixLength, bool globallyReachable = false)
{
    return { { block, name, rfc }, true, network, prefixLength, globallyReachable };
}

constexpr std::string_view kPrivate = "私有网络";
constexpr std::string_view kDocumentation = "文档示例地址";
constexpr std::string_view kLoopback = "本机回环地址";
constexpr std::string_view kLinkLocal = "链路本地地址";
constexpr std::string_view kMulticast = "组播地址";
constexpr std::string_view kBenchmarking = "基准测试地址";
constexpr std::string_view kProtocolAssignments = "IETF 协议分配地址";

// In the registries' order; the multicast blocks after each family's.
constexpr SpecialPurposeRow kRows[] = {
    row4("0.0.0.0/8", "本网络", "RFC 791", v4(0, 0, 0, 0), 8),
    row4("0.0.0.0/32", "本网络上的本机", "RFC 1122", v4(0, 0, 0, 0), 32),
    row4("10.0.0.0/8", kPrivate, "RFC 1918", v4(10, 0, 0, 0), 8),
    row4("100.64.0.0/10", "共享地址空间", "RFC 6598", v4(100, 64, 0, 0), 10),
    row4("127.0.0.0/8", kLoopback, "RFC 1122", v4(127, 0, 0, 0), 8),
    row4("169.254.0.0/16", kLinkLocal, "RFC 3927", v4(169, 254, 0, 0), 16),
    row4("172.16.0.0/12", kPrivate, "RFC 1918", v4(172, 16, 0, 0), 12),
    row4("192.0.0.0/24", kProtocolAssignments, "RFC 6890", v4(192, 0, 0, 0), 24),
    row4("192.0.0.0/29", "IPv4 服务延续前缀", "RFC 7335", v4(192, 0, 0, 0), 29),
    row4("192.0.0.8/32", "IPv4 虚设地址", "RFC 7600", v4(192, 0, 0, 8), 32),
    row4("192.0.0.9/32", "端口控制协议任播地址", "RFC 7723", v4(192, 0, 0, 9), 32, true),
    row4("192.0.0.10/32", "TURN 任播地址", "RFC 8155", v4(192, 0, 0, 10), 32, true),
    row4("192.0.0.170/32", "NAT64/DNS64 发现地址", "RFC 8880", v4(192, 0, 0, 170), 32),
    row4("192.0.0.171/32", "NAT64/DNS64 发现地址", "RFC 8880", v4(192, 0, 0, 171), 32),
    row4("192.0.2.0/24", kDocumentation, "RFC 5737", v4(192, 0, 2, 0), 24),
    // Deprecated: its reachability is N/A, and no one may be placed by it any more.
    row4("192.88.99.0/24", "已弃用的 6to4 中继任播地址", "RFC 7526", v4(192, 88, 99, 0), 24),
    row4("192.168.0.0/16", kPrivate, "RFC 1918", v4(192, 168, 0, 0), 16),
    row4("198.18.0.0/15", kBenchmarking, "RFC 2544", v4(198, 18, 0, 0), 15),
    row4("198.51.100.0/24", kDocumentation, "RFC 5737", v4(198, 51, 100, 0), 24),
    row4("203.0.113.0/24", kDocumentation, "RFC 5737", v4(203, 0, 113, 0), 24),
    row4("240.0.0.0/4", "保留地址", "RFC 1112", v4(240, 0, 0, 0), 4),
    row4("255.255.255.255/32", "受限广播地址", "RFC 8190", v4(255, 255, 255, 255), 32),
    row4("224.0.0.0/4", kMulticast, "RFC 5771", v4(224, 0, 0, 0), 4),

    row6("::1/128", kLoopback, "RFC 4291", v6({ 0, 0, 0, 0, 0, 0, 0, 1 }), 128),
    row6("::/128", "未指定地址", "RFC 4291", v6({}), 128),
    row6("64:ff9b:1::/48", "本地 IPv4/IPv6 转换地址", "RFC 8215", v6({ 0x64, 0xff9b, 1 }), 48),
    row6("100::/64", "仅丢弃地址", "RFC 6666", v6({ 0x100 }), 64),
    row6("2001::/23", kProtocolAssignments, "RFC 2928", v6({ 0x2001 }), 23),
    row6("2001::/32", "Teredo 隧道地址", "RFC 4380", v6({ 0x2001 }), 32),
    row6("2001:1::1/128", "端口控制协议任播地址", "RFC 7723", v6({ 0x2001, 1, 0, 0, 0, 0, 0, 1 }), 128, true),
    row6("2001:1::2/128", "TURN 任播地址", "RFC 8155", v6({ 0x2001, 1, 0, 0, 0, 0, 0, 2 }), 128, true),
    row6("2001:1::3/128", "DNS-SD 服务注册任播地址", "RFC 9665", v6({ 0x2001, 1, 0, 0, 0, 0, 0, 3 }), 128, true),
    row6("2001:2::/48", kBenchmarking, "RFC 5180", v6({ 0x2001, 2 }), 48),
    row6("2001:3::/32", "AMT 地址", "RFC 7450", v6({ 0x2001, 3 }), 32, true),
    row6("2001:4:112::/48", "AS112-v6 地址", "RFC 7535", v6({ 0x2001, 4, 0x112 }), 48, true),
    row6("2001:10::/28", "已弃用的 ORCHID 地址", "RFC 4843", v6({ 0x2001, 0x10 }), 28),
    row6("2001:20::/28", "ORCHIDv2 地址", "RFC 7343", v6({ 0x2001, 0x20 }), 28, true),
    row6("2001:30::/28", "无人机远程识别标签", "RFC 9374", v6({ 0x2001, 0x30 }), 28, true),
    row6("2001:db8::/32", kDocumentation, "RFC 3849", v6({ 0x2001, 0xdb8 }), 32),
    row6("3fff::/20", kDocumentation, "RFC 9637", v6({ 0x3fff }), 20),
    row6("5f00::/16", "SRv6 段标识", "RFC 9602", v6({ 0x5f00 }), 16),
    row6("fc00::/7", "唯一本地地址", "RFC 4193", v6({ 0xfc00 }), 7),
    row6("fe80::/10", kLinkLocal, "RFC 4291", v6({ 0xfe80 }), 10),
    row6("ff00::/8", kMulticast, "RFC 4291", v6({ 0xff00 }), 8),
};

// The rows as masks over numbers, made once at compile time.
struct Ipv4Net
{
    std::uint32_t network;
    std::uint32_t mask;
    const SpecialPurposeRow* row;
};

struct Ipv6Net
{
    std::uint64_t high;
    std::uint64_t low;
    std::uint64_t highMask;
    std::uint64_t lowMask;
    const SpecialPurposeRow* row;
};

constexpr std::uint64_t bigEndian64(const Bytes& bytes, std::size_t from)
{
    std::uint64_t value = 0;
    for (std::size_t i = from; i < from + 8; ++i)
        value = value << 8 | bytes[i];
    return value;
}

constexpr std::uint64_t prefixMask64(int bits)
{
    return bits <= 0 ? 0 : bits >= 64 ? ~std::uint64_t(0) : ~std::uint64_t(0) << (64 - bits);
}

constexpr std::size_t kIpv6Rows = std::size_t(
    std::count_if(std::begin(kRows), std::end(kRows), [](const SpecialPurposeRow& row) { return row.ipv6; }));
constexpr std::size_t kIpv4Rows = std::size(kRows) - kIpv6Rows;

constexpr std::array<Ipv4Net, kIpv4Rows> kIpv4Nets = [] {
    std::array<Ipv4Net, kIpv4Rows> nets {};
    std::size_t n = 0;
    for (const SpecialPurposeRow& row : kRows) {
        if (row.ipv6)
            continue;
        const std::uint32_t mask = std::uint32_t(prefixMask64(row.prefixLength) >> 32);
        const std::uint32_t network = std::uint32_t(bigEndian64(row.network, 8));
        nets[n++] = { network & mask, mask, &row };
    }
    return nets;
}();

constexpr std::array<Ipv6Net, kIpv6Rows> kIpv6Nets = [] {
    std::array<Ipv6Net, kIpv6Rows> nets {};
    std::size_t n = 0;
    for (const SpecialPurposeRow& row : kRows) {
        if (!row.ipv6)
            continue;
        const std::uint64_t highMask = prefixMask64(row.prefixLength);
        const std::uint64_t lowMask = prefixMask64(row.prefixLength - 64);
        nets[n++] = { bigEndian64(row.network, 0) & highMask, bigEndian64(row.network, 8) & lowMask, highMask, lowMask,
                      &row };
    }
    return nets;
}();

// The first bytes of IPv4 addresses that some block holds: the others are answered without going through the rows.
constexpr std::array<bool, 256> kSpecialFirstByte = [] {
    std::array<bool, 256> special {};
    for (const Ipv4Net& net : kIpv4Nets) {
        const std::uint32_t first = net.network >> 24;
        const std::uint32_t last = (net.network | ~net.mask) >> 24;
        for (std::uint32_t byte = first; byte <= last; ++byte)
            special[byte] = true;
    }
    return special;
}();

// The most specific row holding the address; its block when it is not globally reachable.
std::optional<SpecialPurposeBlock> blockOf(const SpecialPurposeRow* row)
{
    if (!row || row->globallyReachable)
        return std::nullopt;
    return row->block;
}

} // namespace

std::span<const SpecialPurposeRow> specialPurposeRows()
{
    return kRows;
}

std::optional<SpecialPurposeBlock> specialPurposeBlock(std::uint32_t ipv4)
{
    if (!kSpecialFirstByte[ipv4 >> 24])
        return std::nullopt;
    const Ipv4Net* best = nullptr;
    for (const Ipv4Net& net : kIpv4Nets) {
        if ((ipv4 & net.mask) == net.network && (!best || net.mask > best->mask))
            best = &net;
    }
    return blockOf(best ? best->row : nullptr);
}

std::optional<SpecialPurposeBlock> specialPurposeBlock(const std::array<std::uint8_t, 16>& ipv6)
{
    const std::uint64_t high = bigEndian64(ipv6, 0);
    const std::uint64_t low = bigEndian64(ipv6, 8);
    // ::ffff:a.b.c.d is the IPv4 address a.b.c.d.
    if (high == 0 && low >> 32 == 0xffff)
        return specialPurposeBlock(std::uint32_t(low));
    const Ipv6Net* best = nullptr;
    for (const Ipv6Net& net : kIpv6Nets) {
        if ((high & net.highMask) == net.high && (low & net.lowMask) == net.low
            && (!best || net.row->prefixLength > best->row->prefixLength))
            best = &net;
    }
    return blockOf(best ? best->row : nullptr);
}

std::optional<SpecialPurposeBlock> specialPurposeBlock(const QHostAddress& address)
{
    switch (address.protocol()) {
    case QAbstractSocket::IPv4Protocol:
        return specialPurposeBlock(address.toIPv4Address());
    case QAbstractSocket::IPv6Protocol: {
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::array<std::uint8_t, 16> ipv6;
        std::memcpy(ipv6.data(), bytes.c, ipv6.size());
        return specialPurposeBlock(ipv6);
    }
    default:
        return std::nullopt;
    }
}

std::optional<SpecialPurposeBlock> specialPurposeBlock(const char* address)
{
    // The longest IPv6 address in its usual form is 45 characters; a scope may follow, which is no part of it.
    char text[48];
    std::size_t length = 0;
    while (address[length] != '\0' && address[length] != '%') {
        if (length + 1 >= sizeof text)
            return std::nullopt;
        text[length] = address[length];
        ++length;
    }
    text[length] = '\0';
    const bool scoped = address[length] == '%';
    in_addr ipv4;
    if (!scoped && ::inet_pton(AF_INET, text, &ipv4) == 1)
        return specialPurposeBlock(std::uint32_t(ntohl(ipv4.s_addr)));
    std::array<std::uint8_t, 16> ipv6;
    if (::inet_pton(AF_INET6, text, ipv6.data()) == 1)
        return specialPurposeBlock(ipv6);
    return std::nullopt;
}

std::optional<SpecialPurposeBlock> specialPurposeBlock(QStringView address)
{
    // As the text version reads it: up to 47 characters before a scope, which is no part of the address.
    char text[49];
    qsizetype length = 0;
    for (; length < address.size() && address[length] != u'%'; ++length) {
        const char16_t c = address[length].unicode();
        if (c == 0 || c >= 0x80 || length + 1 >= 48)
            return std::nullopt;
        text[length] = char(c);
    }
    if (length < address.size())
        text[length++] = '%';
    text[length] = '\0';
    return specialPurposeBlock(static_cast<const char*>(text));
}

} // namespace vantor

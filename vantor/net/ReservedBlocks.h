// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringView>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

class QHostAddress;

namespace vantor {

// The special-purpose address blocks: addresses no service or database can place, as they are not on the public
// Internet. They are answered at once and never sent anywhere.
//
// The rows are those of IANA's "IPv4 Special-Purpose Address Registry" and "IPv6 Special-Purpose Address Registry"
// (both as last updated in 2024, with the blocks of RFC 9637 and RFC 9602) whose "Globally Reachable" is False or
// N/A, plus the multicast blocks of the "IPv4 Multicast Address Space Registry" (224.0.0.0/4) and of RFC 4291
// (ff00::/8). Where a block holds smaller ones of its own, the smallest holding the address wins; the registries'
// globally reachable blocks inside a block that is not (in 192.0.0.0/24 and 2001::/23) are rows too, and an address
// in one of them is not special. An IPv4-mapped IPv6 address (::ffff:0:0/96) is its IPv4 address's.
struct SpecialPurposeBlock
{
    std::string_view block; // as "192.168.0.0/16"
    std::string_view name; // in Chinese, UTF-8: "私有网络"
    std::string_view rfc; // "RFC 1918"
};

// One row of the table, as the tests walk it.
struct SpecialPurposeRow
{
    SpecialPurposeBlock block;
    bool ipv6;
    // The network's first address, IPv4 in the last four bytes; and its prefix length.
    std::array<std::uint8_t, 16> network;
    int prefixLength;
    bool globallyReachable; // an exception inside a larger block: its addresses are not special
};

std::span<const SpecialPurposeRow> specialPurposeRows();

// The block an address lies in, or nothing for an address of the public Internet. No allocation: it runs for every
// address of a local lookup.
std::optional<SpecialPurposeBlock> specialPurposeBlock(std::uint32_t ipv4); // in host byte order
std::optional<SpecialPurposeBlock> specialPurposeBlock(const std::array<std::uint8_t, 16>& ipv6);
std::optional<SpecialPurposeBlock> specialPurposeBlock(const QHostAddress& address);
// For an address as text in its usual form (as inet_pton() reads it, an IPv6 one maybe with a "%scope"); nothing
// for any other text, which goes where it would go before. `address` ends in a zero.
std::optional<SpecialPurposeBlock> specialPurposeBlock(const char* address);
std::optional<SpecialPurposeBlock> specialPurposeBlock(QStringView address);

} // namespace vantor

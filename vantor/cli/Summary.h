// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/cli/CommandLine.h"
#include "vantor/cli/Outcome.h"
#include "vantor/net/IpDatabase.h"

#include <QByteArray>
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::cli {

// How often each key came, in bounded memory. Exact while at most `kept` keys are counted; past that, Misra–Gries:
// a key that does not fit takes one off every count (and is not kept), so a kept count is at most the stream's
// length over kept + 1 below the true one, and every key more frequent than that is kept. The counts lie in one
// table (open addressing, at most half full), so a count costs about one cache miss.
template <typename Key> class TopCounts
{
public:
    struct Counted
    {
        Key key;
        std::uint64_t count;
        std::string name; // the one given with the key's first count that was kept
    };

    explicit TopCounts(std::size_t kept)
        : m_kept(kept)
    {
    }

    template <typename Lookup> void add(const Lookup& key, std::string_view name = {})
    {
        const std::uint64_t hash = hashOf(key);
        if (Slot* slot = find(key, hash); slot->count > 0) {
            ++slot->count;
            return;
        }
        if (m_used < m_kept) {
            if (2 * (m_used + 1) > m_slots.size())
                rebuild(std::max<std::size_t>(16, 2 * m_slots.size()), 0);
            *find(key, hash) = { hash, 1, Key(key), std::string(name) };
            ++m_used;
            return;
        }
        m_estimated = true;
        rebuild(m_slots.size(), 1);
    }

    // Whether a count was ever taken off: the counts are then estimates.
    bool estimated() const { return m_estimated; }
    std::size_t size() const { return m_used; }

    // The `n` largest counts, largest first; equal counts in the keys' ascending order.
    std::vector<Counted> top(std::size_t n) const
    {
        std::vector<Counted> all;
        all.reserve(m_used);
        for (const Slot& slot : m_slots) {
            if (slot.count > 0)
                all.push_back({ slot.key, slot.count, slot.name });
        }
        const auto before
            = [](const Counted& a, const Counted& b) { return a.count != b.count ? a.count > b.count : a.key < b.key; };
        n = std::min(n, all.size());
        std::partial_sort(all.begin(), all.begin() + std::ptrdiff_t(n), all.end(), before);
        all.resize(n);
        return all;
    }

private:
    struct Slot
    {
        std::uint64_t hash = 0;
        std::uint64_t count = 0; // none: a free slot
        Key key {};
        std::string name;
    };

    static std::uint64_t hashOf(std::string_view text) { return std::hash<std::string_view>()(text); }
    static std::uint64_t hashOf(std::uint32_t number) { return (number + 1) * 0x9e3779b97f4a7c15ULL; }

    // The key's slot, or the free one where it would go.
    template <typename Lookup> Slot* find(const Lookup& key, std::uint64_t hash)
    {
        if (m_slots.empty())
            rebuild(16, 0);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t at = (hash ^ (hash >> 29)) & mask;; at = (at + 1) & mask) {
            Slot& slot = m_slots[at];
            if (slot.count == 0 || (slot.hash == hash && slot.key == key))
                return &slot;
        }
    }

    // The counts less `less` (those that reach none dropped) in a table of `size` slots.
    void rebuild(std::size_t size, std::uint64_t less)
    {
        std::vector<Slot> old(size);
        old.swap(m_slots);
        m_used = 0;
        for (Slot& slot : old) {
            if (slot.count <= less)
                continue;
            slot.count -= less;
            *find(slot.key, slot.hash) = std::move(slot);
            ++m_used;
        }
    }

    std::size_t m_kept;
    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
    bool m_estimated = false;
};

// An address as 16 bytes (IPv4 as ::ffff:a.b.c.d), the key distinct addresses are told apart by. A text that
// inet_pton() does not read (e.g. "127.1") is keyed by its hash instead.
using AddressKey = std::array<std::uint8_t, 16>;
AddressKey addressKey(std::string_view address);

// How many distinct keys came: exact up to `exactBound` of them, past it estimated with a HyperLogLog of 2^14
// registers (about 1 % off).
class DistinctCount
{
public:
    explicit DistinctCount(std::size_t exactBound);
    void add(const AddressKey& key);
    std::uint64_t count() const;
    bool estimated() const { return m_estimated; }

private:
    bool insertExactly(const AddressKey& key, std::uint64_t hash);

    std::size_t m_exactBound;
    // Open addressing, linear probing; a slot's key is all zeros when free, the key of zeros (::) kept apart.
    std::vector<AddressKey> m_slots;
    std::size_t m_used = 0;
    bool m_zeroSeen = false;
    bool m_estimated = false;
    std::vector<std::uint8_t> m_registers;
};

// What a run of lookups came to, for --summary: counted as the answers are put in order, written once at the end.
class Summary
{
public:
    struct Limits
    {
        std::size_t exactAddresses = std::size_t(1) << 18;
        std::size_t keptKeys = 32768; // ASNs and networks each: tables of at most 5 MiB
    };

    // `top`: how many countries, ASNs and networks are listed. `carrierNamesAs`: the carrier of an online answer
    // begins with its AS number ("AS15169 Google LLC"), as ipinfo.io's does.
    Summary(std::size_t top, bool carrierNamesAs, Limits limits);
    explicit Summary(std::size_t top = 10, bool carrierNamesAs = false)
        : Summary(top, carrierNamesAs, Limits {})
    {
    }

    // An entry as AnswerWriter::add() takes it: a list's line that is not an address, a failure or an answer.
    void add(const QString& query, const Outcome& outcome);
    // A local database's answer for the address of that key.
    void addFound(const AddressKey& address, const DatabaseRecord& record);
    // An address of a special-purpose block, which is not looked up; counted among the distinct ones when given.
    void special(std::string_view blockName, std::string_view address = {});

    std::uint64_t read() const { return m_read; }
    std::uint64_t answered() const { return m_answered; }
    const DistinctCount& distinct() const { return m_distinct; }
    const TopCounts<std::string>& countries() const { return m_countries; }
    const TopCounts<std::uint32_t>& asns() const { return m_asns; }
    const TopCounts<std::string>& networks() const { return m_networks; }

    // The whole summary in the format, as its row of the formats' table writes it.
    QByteArray written(OutputFormat format) const;
    // Aligned text, one JSON object, CSV rows kind,key,name,count,share.
    QByteArray asText() const;
    QByteArray asJson() const;
    QByteArray asCsv() const;

private:
    // Of the answered.
    double shareOf(std::uint64_t count) const;
    void answered(std::string_view country, std::optional<std::uint32_t> asn, std::string_view organisation,
                  std::string_view network);

    std::size_t m_top;
    bool m_carrierNamesAs;
    std::uint64_t m_read = 0;
    std::uint64_t m_answered = 0;
    std::uint64_t m_notAddresses = 0;
    std::map<std::string, std::uint64_t> m_special;
    std::map<std::string, std::uint64_t> m_failed; // by the failure's error name
    DistinctCount m_distinct;
    TopCounts<std::string> m_countries;
    TopCounts<std::uint32_t> m_asns;
    TopCounts<std::string> m_networks;
};

} // namespace vantor::cli

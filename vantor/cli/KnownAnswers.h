// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/cli/Outcome.h"

#include <QHash>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>

namespace vantor::cli {

// The distinct addresses of a run and what came of each, compact enough for millions. An address is kept as a
// number (IPv4 in 32 bits, IPv6 in 128; any other text as it is, as the command line may give one), what came of
// it as the index of one of the run's distinct outcomes, and each text of those once: answers share their
// country, region, city and carrier, and a service's "ip" is nearly always the address asked.
//
// The outcomes and their texts are kept up to a budget of memory, as a service may give every address texts of its
// own. Past the budget an outcome is held only until the entries waiting for it are written (releaseHeld()), and
// its address is remembered as forgotten: a repeat of it is known to need asking again, never taken for new.
class KnownAnswers
{
public:
    enum class State {
        New, // never seen
        Asking, // on its way to the service
        Answered, // outcome() has it
        Forgotten, // answered, but past the budget
    };
    struct Found
    {
        State state = State::New;
        std::uint32_t id = 0; // for outcome(), when Answered
    };

    explicit KnownAnswers(qsizetype budget);

    Found find(const QString& address) const;
    void ask(const QString& address);
    void answer(const QString& address, const Outcome& outcome);
    // The outcome for an entry of that address; its "ip" is the entry's when the service named the address asked.
    Outcome outcome(std::uint32_t id, const QString& query) const;
    // Outcomes past the budget are forgotten once written.
    void releaseHeld();

    qsizetype keptBytes() const { return m_keptBytes; }

private:
    static constexpr std::uint32_t kAsking = 0xffffffff;
    static constexpr std::uint32_t kForgotten = 0xfffffffe;
    static constexpr std::uint32_t kHeld = 0xffff0000; // and up: m_held's index
    static constexpr std::uint32_t kNoText = 0xffffffff;
    static constexpr std::uint32_t kAddressAsked = 0xfffffffe;

    struct Ipv6
    {
        std::array<std::uint32_t, 4> words;
        friend bool operator==(const Ipv6&, const Ipv6&) = default;
        friend size_t qHash(const Ipv6& key, size_t seed) { return qHashBits(key.words.data(), 16, seed); }
    };

    struct Kept
    {
        FailureKind failure = FailureKind::None;
        std::uint32_t reason = kNoText;
        std::array<std::uint32_t, kInfoFieldCount> values {};
        friend bool operator==(const Kept&, const Kept&) = default;
        friend size_t qHash(const Kept& kept, size_t seed)
        {
            return qHashMulti(seed, int(kept.failure), kept.reason, qHashRange(kept.values.begin(), kept.values.end()));
        }
    };

    // The slot of an address's state, made when `make`; null when absent.
    std::uint32_t* slot(const QString& address, bool make);
    const std::uint32_t* slot(const QString& address) const;
    // The text's index; kNoText when it would go past the budget.
    std::uint32_t keepText(const QString& text, qsizetype& cost, bool dryRun);

    qsizetype m_budget;
    qsizetype m_keptBytes = 0;
    // Each family in shards that grow one at a time: a single table of millions would need its old and its new
    // storage at once while it grows.
    static constexpr int kShardBits = 6;
    std::array<QHash<std::uint32_t, std::uint32_t>, 1 << kShardBits> m_ipv4;
    std::array<QHash<Ipv6, std::uint32_t>, 1 << kShardBits> m_ipv6;
    QHash<QString, std::uint32_t> m_other;
    QList<Kept> m_outcomes;
    QHash<Kept, std::uint32_t> m_outcomeIds;
    QList<QString> m_texts;
    QHash<QString, std::uint32_t> m_textIds;
    QList<QPair<QString, Outcome>> m_held;
};

} // namespace vantor::cli

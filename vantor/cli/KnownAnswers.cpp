// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/KnownAnswers.h"

#include <QHostAddress>
#include <cstring>

namespace vantor::cli {

namespace {

// What keeping one more text or outcome costs: its characters, the string's header and its places in a list and a
// hash, rounded up generously.
qsizetype textCost(const QString& text)
{
    return 2 * text.size() + 96;
}
constexpr qsizetype kOutcomeCost = 72;

} // namespace

KnownAnswers::KnownAnswers(qsizetype budget)
    : m_budget(budget)
{
}

std::uint32_t* KnownAnswers::slot(const QString& address, bool make)
{
    const auto in = [make](auto& hash, const auto& key) -> std::uint32_t* {
        if (make)
            return &hash[key];
        const auto found = hash.find(key);
        return found == hash.end() ? nullptr : &*found;
    };
    // A scope ("%eth0") or a looser IPv4 form ("127.1") keeps its text: it is not the same request as the plain one.
    QHostAddress parsed;
    if (!address.contains(QLatin1Char('%')) && parsed.setAddress(address)) {
        // Fibonacci hashing spreads neighbouring addresses over the shards.
        const auto shard = [](std::uint32_t word) { return (word * 0x9e3779b9u) >> (32 - kShardBits); };
        if (parsed.protocol() == QAbstractSocket::IPv4Protocol && parsed.toString() == address) {
            const std::uint32_t key = parsed.toIPv4Address();
            return in(m_ipv4[shard(key)], key);
        }
        if (parsed.protocol() == QAbstractSocket::IPv6Protocol) {
            const Q_IPV6ADDR bytes = parsed.toIPv6Address();
            Ipv6 key;
            std::memcpy(key.words.data(), bytes.c, 16);
            return in(m_ipv6[shard(key.words[0] ^ key.words[1] ^ key.words[2] ^ key.words[3])], key);
        }
    }
    return in(m_other, address);
}

const std::uint32_t* KnownAnswers::slot(const QString& address) const
{
    return const_cast<KnownAnswers*>(this)->slot(address, false);
}

KnownAnswers::Found KnownAnswers::find(const QString& address) const
{
    const std::uint32_t* state = slot(address);
    if (!state)
        return {};
    switch (*state) {
    case kAsking:
        return { State::Asking };
    case kForgotten:
        return { State::Forgotten };
    default:
        return { State::Answered, *state };
    }
}

void KnownAnswers::ask(const QString& address)
{
    *slot(address, true) = kAsking;
}

std::uint32_t KnownAnswers::keepText(const QString& text, qsizetype& cost, bool dryRun)
{
    const auto found = m_textIds.constFind(text);
    if (found != m_textIds.cend())
        return *found;
    if (dryRun) {
        cost += textCost(text);
        return kNoText;
    }
    m_texts.append(text);
    m_textIds.insert(text, std::uint32_t(m_texts.size() - 1));
    m_keptBytes += textCost(text);
    return std::uint32_t(m_texts.size() - 1);
}

void KnownAnswers::answer(const QString& address, const Outcome& outcome)
{
    // First what it would cost, then, within the budget, the keeping.
    const auto kept = [&](bool dryRun, qsizetype& cost) {
        Kept result;
        result.failure = outcome.failure;
        if (!outcome.reason.isEmpty())
            result.reason = keepText(outcome.reason, cost, dryRun);
        for (std::size_t i = 0; i < kInfoFieldCount; ++i) {
            const std::optional<QString>& value = outcome.answer.values[i];
            if (!value)
                result.values[i] = kNoText;
            else if (i == 0 && *value == address)
                result.values[i] = kAddressAsked;
            else
                result.values[i] = keepText(*value, cost, dryRun);
        }
        return result;
    };
    qsizetype cost = 0;
    const Kept planned = kept(true, cost);
    auto found = cost == 0 ? m_outcomeIds.constFind(planned) : m_outcomeIds.cend();
    if (found == m_outcomeIds.cend())
        cost += kOutcomeCost;
    if (m_keptBytes + cost > m_budget) {
        m_held.append({ address, outcome });
        *slot(address, true) = kHeld + std::uint32_t(m_held.size() - 1);
        return;
    }
    if (found == m_outcomeIds.cend()) {
        qsizetype unused = 0;
        m_outcomes.append(kept(false, unused));
        found = m_outcomeIds.insert(m_outcomes.constLast(), std::uint32_t(m_outcomes.size() - 1));
        m_keptBytes += kOutcomeCost;
    }
    *slot(address, true) = *found;
}

Outcome KnownAnswers::outcome(std::uint32_t id, const QString& query) const
{
    if (id >= kHeld)
        return m_held[id - kHeld].second;
    const Kept& kept = m_outcomes[id];
    Outcome result;
    result.failure = kept.failure;
    result.answer.kind = kept.failure == FailureKind::None ? IpInfoAnswer::Kind::Rows : IpInfoAnswer::Kind::Unreadable;
    if (kept.reason != kNoText)
        result.reason = m_texts[kept.reason];
    for (std::size_t i = 0; i < kInfoFieldCount; ++i) {
        if (kept.values[i] == kAddressAsked)
            result.answer.values[i] = query;
        else if (kept.values[i] != kNoText)
            result.answer.values[i] = m_texts[kept.values[i]];
    }
    return result;
}

void KnownAnswers::releaseHeld()
{
    for (const auto& [address, outcome] : std::as_const(m_held))
        *slot(address, true) = kForgotten;
    m_held.clear();
}

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
// The counters of --summary: exact counts and their order, the bounds past which they estimate, and the heavy-hitter
// count held against exact counts of a skewed stream.
#include "vantor/cli/LookupRun.h"
#include "vantor/cli/Summary.h"
#include "vantor/net/ReservedBlocks.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <map>
#include <random>

namespace {

using vantor::cli::AddressKey;
using vantor::cli::DistinctCount;
using vantor::cli::Outcome;
using vantor::cli::Summary;
using vantor::cli::TopCounts;

std::string listed(const std::vector<TopCounts<std::string>::Counted>& top)
{
    std::string text;
    for (const auto& counted : top)
        text += counted.key + '=' + std::to_string(counted.count) + ' ';
    return text;
}

TEST(SummaryTest, TopCountsOrderCountsThenKeysAndEstimatePastTheBound)
{
    const struct
    {
        const char* name;
        std::vector<std::string> stream;
        std::size_t kept;
        std::size_t n;
        std::string top;
        bool estimated;
    } cases[] = {
        { "counted", { "b", "a", "b", "c", "b", "a" }, 10, 10, "b=3 a=2 c=1 ", false },
        { "ties by key", { "d", "c", "b", "a", "c", "a" }, 10, 10, "a=2 c=2 b=1 d=1 ", false },
        { "cut to n", { "d", "c", "b", "a", "c", "a" }, 10, 3, "a=2 c=2 b=1 ", false },
        { "exact at the bound", { "x", "y", "x", "y", "x" }, 2, 10, "x=3 y=2 ", false },
        // "z" does not fit: one is taken off every count, y's gone, and the counts are estimates.
        { "past the bound", { "x", "y", "x", "x", "z" }, 2, 10, "x=2 ", true },
        { "nothing", {}, 2, 10, "", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TopCounts<std::string> counts(c.kept);
        for (const std::string& key : c.stream)
            counts.add(std::string_view(key));
        EXPECT_EQ(listed(counts.top(c.n)), c.top);
        EXPECT_EQ(counts.estimated(), c.estimated);
    }
}

// A Zipf-like stream over many keys into few counters, led by light keys: every count is at most the stream over the
// counters + 1 low, never high; every key above that is kept; and the heaviest keys come first, as exactly counted.
TEST(SummaryTest, HeavyHittersStayWithinTheirBoundOfExactCountsOnASkewedStream)
{
    constexpr std::uint32_t kKeys = 5000;
    constexpr std::size_t kKept = 100;
    constexpr std::size_t kStream = 200000;
    std::vector<double> weights;
    for (std::uint32_t i = 1; i <= kKeys; ++i)
        weights.push_back(1.0 / std::pow(double(i), 1.2));
    std::mt19937 random(7);
    std::discrete_distribution<std::uint32_t> draw(weights.begin(), weights.end());
    std::map<std::uint32_t, std::uint64_t> exact;
    TopCounts<std::uint32_t> counts(kKept);
    for (std::size_t i = 0; i < kStream; ++i) {
        // The lightest keys first, each once, so that a count that kept whichever came first keeps them; then the
        // keys scattered, so that their order says nothing of their weight.
        const std::uint32_t rank = i < kKept ? kKeys - 1 - std::uint32_t(i) : draw(random);
        const std::uint32_t key = (rank * 2654435761u) % 1000003u;
        ++exact[key];
        counts.add(key);
    }
    ASSERT_TRUE(counts.estimated());
    const std::uint64_t bound = kStream / (kKept + 1);
    const auto all = counts.top(kKept);
    std::map<std::uint32_t, std::uint64_t> kept;
    for (const auto& counted : all)
        kept[counted.key] = counted.count;
    for (const auto& [key, count] : exact) {
        const std::uint64_t estimate = kept.contains(key) ? kept[key] : 0;
        EXPECT_LE(estimate, count) << key;
        EXPECT_GE(estimate + bound, count) << key;
        EXPECT_TRUE(count <= bound || kept.contains(key)) << key << " came " << count << " times";
    }
    std::vector<std::pair<std::uint64_t, std::uint32_t>> byCount;
    for (const auto& [key, count] : exact)
        byCount.emplace_back(count, key);
    std::sort(byCount.rbegin(), byCount.rend());
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(all[i].key, byCount[i].second) << "place " << i;
}

AddressKey keyOf(std::uint32_t n)
{
    AddressKey key {};
    std::memcpy(key.data() + 12, &n, 4);
    return key;
}

TEST(SummaryTest, DistinctAddressesAreExactUpToTheBoundThenEstimated)
{
    const struct
    {
        std::uint32_t distinct;
        std::size_t bound;
        bool estimated;
    } cases[] = { { 0, 100, false }, { 100, 100, false }, { 101, 100, true }, { 200000, 1000, true } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.distinct);
        DistinctCount count(c.bound);
        // Each twice, and the all-zero key (::) among them.
        for (int pass = 0; pass < 2; ++pass) {
            for (std::uint32_t i = 0; i < c.distinct; ++i)
                count.add(keyOf(i));
        }
        EXPECT_EQ(count.estimated(), c.estimated);
        // Exact, or an estimate near it.
        EXPECT_NEAR(double(count.count()), double(c.distinct), c.estimated ? 0.03 * c.distinct + 1 : 0);
    }
    EXPECT_EQ(vantor::cli::addressKey("1.1.1.1"), vantor::cli::addressKey("::ffff:1.1.1.1"));
    EXPECT_NE(vantor::cli::addressKey("1.1.1.1"), vantor::cli::addressKey("1.1.1.2"));
}

// Online answers: the carrier's AS number where the service gives it, shares of the answered, failures by name,
// lines that are not addresses and special-purpose blocks, as the JSON object reads.
TEST(SummaryTest, OnlineAnswersCountTheirCountryAndAsAndShareTheAnswered)
{
    Summary summary(2, true);
    const auto answer = [](const char* country, const char* carrier) {
        Outcome outcome;
        outcome.answer.kind = vantor::IpInfoAnswer::Kind::Rows;
        outcome.answer.values[1] = QString::fromUtf8(country);
        outcome.answer.values[4] = QString::fromUtf8(carrier);
        return outcome;
    };
    summary.add("8.8.8.8", answer("US", "AS15169 Google LLC"));
    summary.add("8.8.4.4", answer("US", "AS15169 Google LLC"));
    summary.add("1.1.1.1", answer("AU", "AS13335 Cloudflare, Inc."));
    summary.add("9.9.9.9", answer("CH", "Quad9")); // no AS number
    summary.add("8.8.8.8", { vantor::FailureKind::TimedOut, {}, {}, false });
    summary.add("x", vantor::cli::rejectedLine());
    summary.add("10.0.0.1", { .special = vantor::specialPurposeBlock("10.0.0.1") });

    const QJsonObject json = QJsonDocument::fromJson(summary.written(vantor::cli::OutputFormat::Json)).object();
    EXPECT_EQ(json["read"].toInt(), 7);
    EXPECT_EQ(json["distinct"].toInt(), 5);
    EXPECT_EQ(json["answered"].toInt(), 4);
    EXPECT_EQ(json["notAddresses"].toInt(), 1);
    EXPECT_EQ(json["failed"].toObject(), (QJsonObject { { "network", 1 } }));
    EXPECT_EQ(json["special"].toObject(), (QJsonObject { { "私有网络", 1 } }));
    EXPECT_EQ(json["countries"].toArray(),
              (QJsonArray { QJsonObject { { "country", "US" }, { "count", 2 }, { "share", 0.5 } },
                            QJsonObject { { "country", "AU" }, { "count", 1 }, { "share", 0.25 } } }));
    EXPECT_EQ(json["asns"].toArray(),
              (QJsonArray {
                  QJsonObject { { "asn", 15169 }, { "organization", "Google LLC" }, { "count", 2 }, { "share", 0.5 } },
                  QJsonObject {
                      { "asn", 13335 }, { "organization", "Cloudflare, Inc." }, { "count", 1 }, { "share", 0.25 } } }));
    EXPECT_EQ(json["networks"].toArray(), QJsonArray());
}

} // namespace

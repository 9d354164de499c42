// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AnswerWriter.h"
#include "vantor/testing/CliTest.h"
#include "vantor/cli/KnownAnswers.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

using vantor::cli::FailureKind;
using vantor::cli::KnownAnswers;
using vantor::cli::Outcome;
using State = KnownAnswers::State;

Outcome rows(const QString& ip, const QString& city)
{
    Outcome outcome;
    outcome.answer = vantor::IpInfoAnswer::ofKind(vantor::IpInfoAnswer::Kind::Rows);
    outcome.answer.values = { ip, QStringLiteral("中国"), std::nullopt, city, QStringLiteral("电信") };
    return outcome;
}

TEST(KnownAnswers, AnAddressIsItsNumberAndOtherTextsStayTexts)
{
    KnownAnswers known(1024 * 1024);
    for (const char* address : { "2001:67c::1", "142.250.7.7", "127.0.0.1", "fe80::1%eth0", "example.org" })
        known.ask(QString::fromLatin1(address));
    const struct
    {
        const char* text;
        State state;
    } cases[] = {
        { "2001:67C:0:0::1", State::Asking }, // the same IPv6 address spelled another way
        { "::ffff:142.250.7.7", State::New }, // IPv4-mapped is another request than plain IPv4
        { "127.1", State::New }, // a looser form asks the service something else
        { "fe80::1", State::New },
        { "fe80::1%eth1", State::New },
        { "fe80::1%eth0", State::Asking },
        { "example.org", State::Asking },
        { "142.250.7.8", State::New },
    };
    for (const auto& c : cases)
        EXPECT_EQ(known.find(QString::fromLatin1(c.text)).state, c.state) << c.text;
}

TEST(KnownAnswers, SharesTextsAndForgetsWhatGoesPastTheBudget)
{
    KnownAnswers known(4096);
    const auto answered = [&](const QString& address, const Outcome& outcome) {
        known.ask(address);
        known.answer(address, outcome);
        return known.find(address);
    };

    // Answers alike but for the address cost nothing after the first.
    answered(QStringLiteral("151.101.65.1"), rows(QStringLiteral("151.101.65.1"), QStringLiteral("上海")));
    const qsizetype first = known.keptBytes();
    for (int i = 2; i < 200; ++i) {
        const QString address = QStringLiteral("151.101.65.%1").arg(i);
        const KnownAnswers::Found found = answered(address, rows(address, QStringLiteral("上海")));
        ASSERT_EQ(found.state, State::Answered);
        const Outcome outcome = known.outcome(found.id, address);
        EXPECT_EQ(outcome.answer.kind, vantor::IpInfoAnswer::Kind::Rows);
        EXPECT_EQ(outcome.answer.values, rows(address, QStringLiteral("上海")).answer.values);
    }
    EXPECT_EQ(known.keptBytes(), first);

    // A failure keeps its reason; an "ip" other than the address asked is kept as it is.
    Outcome insecure { FailureKind::Insecure, {}, QStringLiteral("self-signed certificate") };
    const KnownAnswers::Found failed = answered(QStringLiteral("81.2.69.1"), insecure);
    EXPECT_EQ(known.outcome(failed.id, QStringLiteral("81.2.69.1")).reason, insecure.reason);
    EXPECT_EQ(known.outcome(failed.id, QStringLiteral("81.2.69.1")).failure, FailureKind::Insecure);
    const KnownAnswers::Found other = answered(QStringLiteral("81.2.69.2"), rows(QStringLiteral("81.2.69.99"), "x"));
    EXPECT_EQ(known.outcome(other.id, QStringLiteral("81.2.69.2")).answer.values[0], QStringLiteral("81.2.69.99"));

    // Cities of their own fill the budget; the answers past it last until written, then are known to be forgotten.
    for (int i = 0; i < 100; ++i) {
        const QString address = QStringLiteral("142.250.7.%1").arg(i);
        const QString city = QStringLiteral("城市%1").arg(i);
        const KnownAnswers::Found found = answered(address, rows(address, city));
        ASSERT_EQ(found.state, State::Answered);
        EXPECT_EQ(known.outcome(found.id, address).answer.values[3], city);
    }
    EXPECT_LE(known.keptBytes(), 4096);
    known.releaseHeld();
    EXPECT_EQ(known.find(QStringLiteral("142.250.7.0")).state, State::Answered);
    EXPECT_EQ(known.find(QStringLiteral("142.250.7.99")).state, State::Forgotten);
    EXPECT_EQ(known.find(QStringLiteral("151.101.65.7")).state, State::Answered);
}

} // namespace

namespace {

using vantor::DatabaseRecord;
using vantor::cli::AnswerWriter;
using vantor::cli::OutputFormat;

DatabaseRecord found(std::array<std::string_view, 4> texts, const char* network)
{
    DatabaseRecord record;
    record.kind = DatabaseRecord::Kind::Found;
    record.texts = texts;
    std::strncpy(record.network.data(), network, record.network.size() - 1);
    return record;
}

// A local database's answers are formatted without texts made on the way; they must read exactly as add() writes
// them, separators between answers included.
TEST(AnswerWriter, AnAnswerFormattedFromTheDatabaseIsWhatAddWrites)
{
    static constexpr char kControls[] = "back\\slash \x01\x1f\x7f\0";
    const std::pair<const char*, DatabaseRecord> records[] = {
        { "142.250.7.7", found({ "中国", "上海", "上海", "China Telecom" }, "142.250.7.0/24") },
        { "2001:67c::1", found({ "日本", "", "东京", "" }, "2001:67c::/32") },
        { "151.101.65.9", found({ "", "", "San Francisco, \"SF\"", "Example, Inc." }, "151.101.65.9/32") },
        { "81.2.69.200",
          found({ "tab\there", "new\nline\r", std::string_view(kControls, sizeof kControls - 1), "\"quoted\"," },
                "81.2.69.128/25") },
    };
    for (const OutputFormat format : { OutputFormat::Text, OutputFormat::Csv, OutputFormat::Json }) {
        Captured byAdd;
        Captured byBytes;
        AnswerWriter viaAdd(format, byAdd.out, byAdd.err, nullptr);
        AnswerWriter viaBytes(format, byBytes.out, byBytes.err, nullptr);
        for (const auto& [address, record] : records) {
            std::string answer;
            ASSERT_TRUE(vantor::cli::appendFound(format, answer, address, record)) << address;
            viaBytes.addFound(QByteArrayView(answer.data(), qsizetype(answer.size())));
            viaAdd.add(QLatin1String(address), { FailureKind::None, vantor::answerOf(record, QLatin1String(address)) });
        }
        EXPECT_EQ(viaBytes.finish(), viaAdd.finish());
        EXPECT_EQ(byBytes.out.data().toStdString(), byAdd.out.data().toStdString()) << int(format);
    }

    // Bytes that are not UTF-8 are left to add(), which makes texts of them.
    std::string answer = "kept";
    EXPECT_FALSE(vantor::cli::appendFound(OutputFormat::Csv, answer, "142.250.7.7",
                                          found({ "\xff", "", "", "" }, "142.250.7.0/24")));
    EXPECT_EQ(answer, "kept");
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AnswerWriter.h"
#include "vantor/cli/KnownAnswers.h"
#include "vantor/cli/Summary.h"
#include "vantor/testing/CliTest.h"

#include <cstring>
#include <gtest/gtest.h>
#include <span>

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
using vantor::cli::Summary;

DatabaseRecord found(std::array<std::string_view, 4> texts, const char* network)
{
    DatabaseRecord record;
    record.kind = DatabaseRecord::Kind::Found;
    record.texts = texts;
    std::strncpy(record.network.data(), network, record.network.size() - 1);
    return record;
}

// RFC 4180 records, read apart from the writer's code.
QList<QStringList> csvRecords(const QString& text)
{
    QList<QStringList> records;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"' && quoted && text.mid(i + 1, 1) == u"\"")
            field += text[++i];
        else if (c == u'"')
            quoted = !quoted;
        else if (!quoted && c == u',')
            fields << std::exchange(field, {});
        else if (!quoted && text.mid(i, 2) == u"\r\n") {
            fields << std::exchange(field, {});
            records << std::exchange(fields, {});
            ++i;
        } else
            field += c;
    }
    return records;
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Answers of every kind through the writer's one way per format: a local database's as the lookup's threads write
// them, a failure and a special-purpose block as add() takes them. A JSON and a CSV parser read every text back as
// it was, and the JSON is laid out as QJsonDocument lays the same array out.
TEST(AnswerWriter, EveryFormatWritesWhatAParserReadsBack)
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
    const auto write = [&](OutputFormat format, int answers) {
        Captured captured;
        AnswerWriter writer(format, captured.out, captured.err, nullptr);
        for (const auto& [address, record] : std::span(records).first(std::size_t(answers))) {
            std::string element;
            EXPECT_TRUE(vantor::cli::answerFormat(format).element(element, *vantor::cli::foundText(address, record)));
            writer.addElement(element);
        }
        writer.add(QStringLiteral("81.2.69.9"), { FailureKind::NotFound });
        writer.add(QStringLiteral("192.168.1.5"), { .special = vantor::specialPurposeBlock("192.168.1.5") });
        EXPECT_EQ(writer.finish(), 1);
        return captured.out.data();
    };

    const QByteArray json = write(OutputFormat::Json, 4);
    const QJsonArray array = QJsonDocument::fromJson(json).array();
    ASSERT_EQ(array.size(), 6) << json.toStdString();
    EXPECT_EQ(json.toStdString(), QJsonDocument(array).toJson(QJsonDocument::Indented).toStdString());
    const QStringList csvHeader = vantor::cli::csvColumns();
    QList<QStringList> csv = csvRecords(QString::fromUtf8(write(OutputFormat::Csv, 4)));
    ASSERT_EQ(csv.size(), 7);
    EXPECT_EQ(csv.takeFirst(), csvHeader);
    for (std::size_t i = 0; i < std::size(records); ++i) {
        const auto& [address, record] = records[i];
        const QJsonObject object = array[qsizetype(i)].toObject();
        QStringList row { QLatin1String(address) };
        for (std::size_t field = 1; field < vantor::kInfoFieldCount; ++field) {
            const QString text = fromUtf8(record.texts[field - 1]);
            EXPECT_EQ(object.value(QLatin1String(vantor::kInfoFields[field].name)),
                      text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text))
                << address << ' ' << field;
            row << text;
        }
        EXPECT_EQ(object.value(QLatin1String("ip")), QLatin1String(address));
        EXPECT_EQ(object.value(QLatin1String("query")), QLatin1String(address));
        EXPECT_EQ(object.value(QLatin1String("network")), QLatin1String(record.network.data()));
        EXPECT_EQ(object.value(QLatin1String("ok")), true);
        EXPECT_EQ(csv[qsizetype(i)], row << QStringLiteral("ok") << QLatin1String(record.network.data()) << QString());
    }
    EXPECT_EQ(array[4].toObject(),
              (QJsonObject { { "query", "81.2.69.9" }, { "ok", false }, { "error", "not-found" } }));
    EXPECT_EQ(csv[4], (QStringList { "81.2.69.9", {}, {}, {}, {}, "not-found", {}, {} }));
    const QJsonObject special = array[5].toObject();
    EXPECT_EQ(special.value(QLatin1String("network")), QLatin1String("192.168.0.0/16"));
    EXPECT_EQ(special.value(QLatin1String("special")),
              (QJsonObject { { "block", "192.168.0.0/16" }, { "name", "私有网络" }, { "rfc", "RFC 1918" } }));
    EXPECT_EQ(csv[5], (QStringList { "192.168.1.5", {}, {}, {}, {}, "ok", "192.168.0.0/16", "私有网络" }));

    // Text, read as blocks of KEY<TAB>VALUE lines a blank line apart: the failure has none.
    const QStringList blocks = QString::fromUtf8(write(OutputFormat::Text, 2)).split(QStringLiteral("\n\n"));
    EXPECT_EQ(blocks,
              (QStringList { "IP\t142.250.7.7\n国家\t中国\n地区\t上海\n城市\t上海\n运营商\tChina Telecom",
                             "IP\t2001:67c::1\n国家\t日本\n地区\t未知\n城市\t东京\n运营商\t未知",
                             "IP\t192.168.1.5\n特殊地址\t私有网络（192.168.0.0/16，RFC 1918）\n" }));

    // Bytes that are not UTF-8 are left to the way through texts.
    EXPECT_FALSE(vantor::cli::foundText("142.250.7.7", found({ "\xff", "", "", "" }, "142.250.7.0/24")));
}

// What each format writes without a single answer: after a run of none, and when no address was found to look up.
TEST(AnswerWriter, EveryFormatsDocumentWithoutAnswers)
{
    const struct
    {
        OutputFormat format;
        const char* none;
        const char* withoutAddresses;
    } cases[] = {
        { OutputFormat::Text, "", "" },
        { OutputFormat::Json, "[\n]\n", "[]\n" },
        { OutputFormat::Csv, "ip,country,region,city,isp,status,network,special\r\n",
          "ip,country,region,city,isp,status,network,special\r\n" },
    };
    for (const auto& c : cases) {
        Captured none;
        EXPECT_EQ(AnswerWriter(c.format, none.out, none.err, nullptr).finish(), 0);
        EXPECT_EQ(none.out.data().toStdString(), c.none);
        Captured without;
        AnswerWriter(c.format, without.out, without.err, nullptr).finishWithoutAddresses();
        EXPECT_EQ(without.out.data().toStdString(), c.withoutAddresses);

        // A summary of none is the same document whether or not an address was found.
        Summary noneSummary;
        Summary withoutSummary;
        Captured summarized;
        Captured summarizedWithout;
        AnswerWriter(c.format, summarized.out, summarized.err, nullptr, &noneSummary).finish();
        AnswerWriter(c.format, summarizedWithout.out, summarizedWithout.err, nullptr, &withoutSummary)
            .finishWithoutAddresses();
        EXPECT_EQ(summarizedWithout.out.data(), summarized.out.data());
    }
}

} // namespace

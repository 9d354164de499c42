// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli's answers from local databases held against libmaxminddb's own generic reading of the same addresses,
// in every format, on one thread and on all: both of vantor-cli's ways of writing an answer could be wrong together,
// this reading cannot be wrong with them.
#include "vantor/net/ReservedBlocks.h"
#include "vantor/testing/MmdbReading.h"
#include "vantor/testing/TestDatabases.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

using vantor::testing::MmdbReading;

struct Expected
{
    QByteArray query;
    MmdbReading reading;
    // Answered without a lookup, whatever the databases hold.
    std::optional<vantor::SpecialPurposeBlock> special;
};

// Every address of the list as the generic reading finds it; with a second City file, IPv6 addresses in that one.
std::vector<Expected> readAll(const QStringList& cities, const QString& asn, const QList<QByteArray>& addresses)
{
    std::array<MMDB_s, 2> cityFiles {};
    for (qsizetype i = 0; i < cities.size(); ++i)
        EXPECT_EQ(MMDB_open(QFile::encodeName(cities[i]).constData(), MMDB_MODE_MMAP, &cityFiles[std::size_t(i)]),
                  MMDB_SUCCESS);
    MMDB_s asnFile {};
    const bool withAsn = !asn.isEmpty();
    EXPECT_EQ(withAsn ? MMDB_open(QFile::encodeName(asn).constData(), MMDB_MODE_MMAP, &asnFile) : MMDB_SUCCESS,
              MMDB_SUCCESS);
    std::vector<Expected> expected;
    for (const QByteArray& address : addresses) {
        const MMDB_s& city = cityFiles[cities.size() > 1 && address.contains(':') ? 1 : 0];
        expected.push_back({ address,
                             vantor::testing::readGenerically(city, withAsn ? &asnFile : nullptr, address.constData()),
                             vantor::specialPurposeBlock(address.constData()) });
    }
    for (qsizetype i = 0; i < cities.size(); ++i)
        MMDB_close(&cityFiles[std::size_t(i)]);
    if (withAsn)
        MMDB_close(&asnFile);
    return expected;
}

QString text(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

// The records of RFC 4180 text: fields split at commas, records ended by CRLF, a field in quotes holding anything
// with its quotes doubled. Nullopt for text that breaks those rules (a bare line break or a quote in a plain field).
std::optional<std::vector<QStringList>> csvRecords(const QByteArray& csv)
{
    std::vector<QStringList> records;
    QStringList record;
    QByteArray field;
    bool quoted = false;
    for (qsizetype i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < csv.size() && csv[i + 1] == '"')
                field += csv[++i];
            else
                quoted = false;
            continue;
        }
        if (c == '"' && field.isEmpty() && (i == 0 || csv[i - 1] == ',' || csv[i - 1] == '\n')) {
            quoted = true;
        } else if (c == ',' || (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n')) {
            record << QString::fromUtf8(field);
            field.clear();
            if (c == '\r') {
                records.push_back(record);
                record.clear();
                ++i;
            }
        } else if (c == '"' || c == '\r' || c == '\n') {
            return std::nullopt;
        } else {
            field += c;
        }
    }
    if (quoted || !field.isEmpty() || !record.isEmpty())
        return std::nullopt; // the last record not ended
    return records;
}

// What the row of --csv and the object of --json hold for the address, from the generic reading.
QStringList expectedRow(const Expected& e)
{
    if (e.special)
        return { QString::fromLatin1(e.query), {}, {}, {}, {}, QStringLiteral("ok"), text(e.special->block),
                 text(e.special->name) };
    if (!e.reading.found)
        return { QString::fromLatin1(e.query), {}, {}, {}, {}, QStringLiteral("not-found"), {}, {} };
    const auto& t = e.reading.texts;
    return { QString::fromLatin1(e.query), text(t[0]), text(t[1]), text(t[2]), text(t[3]), QStringLiteral("ok"),
             text(e.reading.network),      {} };
}

QJsonObject expectedObject(const Expected& e)
{
    const QString query = QString::fromLatin1(e.query);
    if (e.special)
        return { { "query", query },
                 { "ok", true },
                 { "ip", query },
                 { "country", QJsonValue() },
                 { "region", QJsonValue() },
                 { "city", QJsonValue() },
                 { "isp", QJsonValue() },
                 { "network", text(e.special->block) },
                 { "special",
                   QJsonObject { { "block", text(e.special->block) },
                                 { "name", text(e.special->name) },
                                 { "rfc", text(e.special->rfc) } } } };
    if (!e.reading.found)
        return { { "query", query }, { "ok", false }, { "error", "not-found" } };
    const auto orNull = [](const std::string& bytes) { return bytes.empty() ? QJsonValue() : QJsonValue(text(bytes)); };
    const auto& t = e.reading.texts;
    return { { "query", query },
             { "ok", true },
             { "ip", query },
             { "country", orNull(t[0]) },
             { "region", orNull(t[1]) },
             { "city", orNull(t[2]) },
             { "isp", orNull(t[3]) },
             { "network", text(e.reading.network) } };
}

// The five Key<TAB>Value lines of each address found, a blank line between; "未知" for what is absent. A special
// address has its block's line in place of the four.
QByteArray expectedPlain(const std::vector<Expected>& expected)
{
    QByteArray plain;
    for (const Expected& e : expected) {
        if (!e.reading.found && !e.special)
            continue;
        if (!plain.isEmpty())
            plain += '\n';
        plain += "IP\t" + e.query + '\n';
        if (e.special) {
            plain += (QStringLiteral("特殊地址\t") + text(e.special->name) + QStringLiteral("（")
                      + text(e.special->block) + QStringLiteral("，") + text(e.special->rfc) + QStringLiteral("）\n"))
                         .toUtf8();
            continue;
        }
        const char* keys[] = { "国家", "地区", "城市", "运营商" };
        for (std::size_t i = 0; i < 4; ++i) {
            const std::string& value = e.reading.texts[i];
            plain += QByteArray(keys[i]) + '\t'
                + (value.empty() ? QByteArray("未知") : QByteArray(value.data(), qsizetype(value.size()))) + '\n';
        }
    }
    return plain;
}

struct Ran
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// vantor-cli with the arguments, standard output and error into files; on the first CPU this thread may use only
// when `oneCpu`. Spawned, not a QProcess, for ThreadSanitizer (see TestDatabases).
Ran runCli(const QStringList& arguments, bool oneCpu)
{
    const QTemporaryDir folder;
    const QByteArray out = QFile::encodeName(folder.filePath(QStringLiteral("out")));
    const QByteArray err = QFile::encodeName(folder.filePath(QStringLiteral("err")));
    std::vector<QByteArray> bytes { QByteArray(VANTOR_CLI) };
    for (const QString& argument : arguments)
        bytes.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The child takes this thread's CPUs.
    cpu_set_t all;
    CPU_ZERO(&all);
    EXPECT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    cpu_set_t first;
    CPU_ZERO(&first);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &all)) {
            CPU_SET(cpu, &first);
            break;
        }
    }
    EXPECT_EQ(oneCpu ? ::sched_setaffinity(0, sizeof first, &first) : 0, 0);
    pid_t child = 0;
    Ran ran;
    int status = 0;
    if (::posix_spawn(&child, argv[0], &files, nullptr, argv.data(), environ) == 0
        && ::waitpid(child, &status, 0) == child && WIFEXITED(status))
        ran.status = WEXITSTATUS(status);
    EXPECT_EQ(oneCpu ? ::sched_setaffinity(0, sizeof all, &all) : 0, 0);
    posix_spawn_file_actions_destroy(&files);
    for (auto [path, to] : { std::pair { &out, &ran.out }, std::pair { &err, &ran.err } }) {
        QFile file(QFile::decodeName(*path));
        *to = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return ran;
}

// Where two texts part, with what follows in each.
std::string firstDifference(const QByteArray& got, const QByteArray& want)
{
    qsizetype at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return "at byte " + std::to_string(at) + ": got \"" + got.mid(at, 80).toStdString() + "\", want \""
        + want.mid(at, 80).toStdString() + '"';
}

TEST(DatabaseAnswersTest, EveryFormatOnOneAndAllCpusAnswersAsTheGenericReading)
{
    const vantor::testing::TestDatabases databases("varied");
    ASSERT_TRUE(databases.written()) << "write-test-mmdb.pl failed";
    QFile list(databases.file("varied-addresses"));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    QList<QByteArray> addresses = list.readAll().split('\n');
    addresses.removeAll(QByteArray());

    const struct
    {
        const char* name;
        QStringList cities;
        QString asn;
    } files[] = {
        { "IPv6 City and ASN", { databases.file("varied-city.mmdb") }, databases.file("varied-asn.mmdb") },
        { "IPv4 City only", { databases.file("varied-city-ipv4.mmdb") }, {} },
        { "flat, a file per family, and ASN",
          { databases.file("varied-flat-ipv4.mmdb"), databases.file("varied-flat-ipv6.mmdb") },
          databases.file("varied-asn.mmdb") },
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::vector<Expected> expected = readAll(f.cities, f.asn, addresses);
        // The list reaches what the comparison is for: the first record, with a name, and addresses in no network.
        const auto has = [&](auto predicate) { return std::any_of(expected.begin(), expected.end(), predicate); };
        EXPECT_TRUE(has(
            [](const Expected& e) { return e.reading.found && e.reading.offset == 0 && !e.reading.texts[0].empty(); }));
        EXPECT_TRUE(has([](const Expected& e) { return !e.reading.found; }));
        EXPECT_FALSE(has([](const Expected& e) { return e.reading.rejected; }));
        EXPECT_TRUE(has([](const Expected& e) { return e.special && e.reading.found; }));
        QByteArray err;
        for (const Expected& e : expected) {
            if (!e.reading.found && !e.special)
                err += "vantor-cli: " + e.query + ": 查询错误: 数据库中没有这个地址。\n";
        }

        for (const char* format : { "", "--csv", "--json" }) {
            for (const bool oneCpu : { true, false }) {
                SCOPED_TRACE(std::string(format) + (oneCpu ? " on one CPU" : " on all CPUs"));
                QStringList arguments { "--ip-info-format", "mmdb" };
                for (const QString& city : f.cities)
                    arguments << "--ip-info-database" << city;
                if (!f.asn.isEmpty())
                    arguments << "--asn-database" << f.asn;
                if (*format)
                    arguments << QString::fromLatin1(format);
                arguments << "-f" << list.fileName();
                const Ran ran = runCli(arguments, oneCpu);
                EXPECT_EQ(ran.status, 1); // some addresses are in no network
                EXPECT_TRUE(ran.err == err) << firstDifference(ran.err, err);

                int mismatches = 0;
                const auto compare = [&](std::size_t i, const auto& got, const auto& want) {
                    if (got != want && mismatches++ < 5)
                        ADD_FAILURE() << expected[i].query.toStdString() << ": got "
                                      << QJsonDocument(QJsonArray { got }).toJson().toStdString() << " want "
                                      << QJsonDocument(QJsonArray { want }).toJson().toStdString();
                };
                if (*format == '\0') {
                    const QByteArray plain = expectedPlain(expected);
                    EXPECT_TRUE(ran.out == plain) << firstDifference(ran.out, plain);
                } else if (QByteArray(format) == "--csv") {
                    const auto records = csvRecords(ran.out);
                    ASSERT_TRUE(records) << "not RFC 4180: " << ran.out.left(2000).toStdString();
                    ASSERT_EQ(records->size(), expected.size() + 1);
                    EXPECT_EQ(records->front().join(','), "ip,country,region,city,isp,status,network,special");
                    for (std::size_t i = 0; i < expected.size(); ++i)
                        compare(i, QJsonArray::fromStringList((*records)[i + 1]),
                                QJsonArray::fromStringList(expectedRow(expected[i])));
                } else {
                    QJsonParseError error {};
                    const QJsonDocument document = QJsonDocument::fromJson(ran.out, &error);
                    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
                    const QJsonArray answers = document.array();
                    ASSERT_EQ(std::size_t(answers.size()), expected.size());
                    for (std::size_t i = 0; i < expected.size(); ++i)
                        compare(i, answers[qsizetype(i)].toObject(), expectedObject(expected[i]));
                }
            }
        }
    }
}

} // namespace

namespace {

// What --summary must say of a list with repeats, counted here from the generic reading of each line: every line
// counts, each answer's country, ASN (its number read here) and network once per line.
TEST(DatabaseAnswersTest, SummaryCountsWhatTheGenericReadingFindsInEveryFormat)
{
    const vantor::testing::TestDatabases databases("public");
    ASSERT_TRUE(databases.written()) << "write-test-mmdb.pl failed";
    const QString city = databases.file("public-city.mmdb");
    const QString asn = databases.file("public-asn.mmdb");
    const QList<QByteArray> addresses { "1.1.1.1",      "8.8.8.8",      "1.1.1.1",     "81.2.69.160", "1.1.1.2",
                                        "2606:4700::1", "8.8.8.8",      "9.9.9.9",     "1.1.1.1",     "4.4.4.4",
                                        "2a00:1450::5", "2a00:1450::5", "81.2.69.160", "8.8.8.8",     "1.1.1.3" };
    QFile list(databases.file("list"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    // Special-purpose addresses are counted by their block's name, never looked up.
    const QList<QByteArray> special { "192.168.1.1", "10.0.0.1", "2001:db8::1" };
    list.write(addresses.join('\n') + "\nnot-an-address\n" + special.join('\n') + '\n');
    list.close();

    MMDB_s asnFile {};
    ASSERT_EQ(MMDB_open(QFile::encodeName(asn).constData(), MMDB_MODE_MMAP, &asnFile), MMDB_SUCCESS);
    std::map<QString, int> countries;
    std::map<qint64, int> asns;
    std::map<QString, int> networks;
    int answered = 0;
    for (const Expected& e : readAll({ city }, asn, addresses)) {
        if (!e.reading.found)
            continue;
        ++answered;
        ++countries[text(e.reading.texts[0])];
        ++networks[text(e.reading.network)];
        int error = 0;
        int databaseError = 0;
        MMDB_lookup_result_s found = MMDB_lookup_string(&asnFile, e.query.constData(), &error, &databaseError);
        MMDB_entry_data_s number {};
        if (found.found_entry && MMDB_get_value(&found.entry, &number, "autonomous_system_number", nullptr) == 0
            && number.has_data)
            ++asns[number.uint32];
    }
    MMDB_close(&asnFile);
    ASSERT_EQ(answered, addresses.size() - 1); // 4.4.4.4 is in no network
    // The top 3 as [key, count]: largest first, equal counts by key.
    const auto top = [](const auto& counts) {
        std::vector<std::pair<int, QJsonValue>> all;
        for (const auto& [key, count] : counts)
            all.emplace_back(-count, QJsonValue(key));
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first
                : a.second.isString() ? a.second.toString().toUtf8() < b.second.toString().toUtf8()
                                      : a.second.toInteger() < b.second.toInteger();
        });
        QJsonArray pairs;
        for (std::size_t i = 0; i < std::min<std::size_t>(3, all.size()); ++i)
            pairs.append(QJsonArray { all[i].second, -all[i].first });
        return pairs;
    };
    const QJsonArray wanted[] = { top(countries), top(asns), top(networks) };
    ASSERT_EQ(wanted[0][2], (QJsonArray { "Ireland", 2 })); // before 英国 by its bytes: the list reaches a tie
    const QStringList arguments {
        "--ip-info-format", "mmdb", "--ip-info-database", city, "--asn-database", asn, "--summary", "--top", "3", "-f",
        list.fileName()
    };

    const Ran json = runCli(arguments + QStringList { "--json" }, false);
    EXPECT_EQ(json.status, 1);
    const QJsonObject summary = QJsonDocument::fromJson(json.out).object();
    EXPECT_EQ(summary["read"].toInt(), addresses.size() + 1 + special.size());
    EXPECT_EQ(summary["distinct"].toInt(), 9 + special.size());
    EXPECT_EQ(summary["special"].toObject(), (QJsonObject { { "私有网络", 2 }, { "文档示例地址", 1 } }));
    EXPECT_EQ(summary["answered"].toInt(), answered);
    EXPECT_EQ(summary["notAddresses"].toInt(), 1);
    EXPECT_EQ(summary["failed"].toObject(), (QJsonObject { { "not-found", 1 } }));
    EXPECT_FALSE(json.err.contains("4.4.4.4")) << "a failure counted is not also listed";
    const char* const kinds[] = { "countries", "asns", "networks" };
    const char* const keys[] = { "country", "asn", "network" };
    for (std::size_t k = 0; k < 3; ++k) {
        QJsonArray got;
        for (const QJsonValue& item : summary[kinds[k]].toArray()) {
            got.append(QJsonArray { item[keys[k]], item["count"] });
            EXPECT_DOUBLE_EQ(item["share"].toDouble(), std::round(1e4 * item["count"].toInt() / answered) / 1e4);
        }
        EXPECT_EQ(got, wanted[k]) << kinds[k];
    }

    const Ran csv = runCli(arguments + QStringList { "--csv" }, false);
    EXPECT_EQ(csv.status, 1);
    const auto records = csvRecords(csv.out);
    ASSERT_TRUE(records) << "not RFC 4180: " << csv.out.toStdString();
    QJsonArray got[3];
    std::map<QString, QString> totals;
    for (const QStringList& row : *records) {
        ASSERT_EQ(row.size(), 5) << row.join(',').toStdString();
        for (std::size_t k = 0; k < 3; ++k) {
            if (row[0] == QLatin1String(keys[k]))
                got[k].append(
                    QJsonArray { k == 1 ? QJsonValue(row[1].toLongLong()) : QJsonValue(row[1]), row[3].toInt() });
        }
        totals[row[0] + ':' + row[1]] = row[3];
    }
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_EQ(got[k], wanted[k]) << kinds[k];
    EXPECT_EQ(totals["read:"], QString::number(addresses.size() + 1 + special.size()));
    EXPECT_EQ(totals["answered:"], QString::number(answered));
    EXPECT_EQ(totals["failed:not-found"], "1");

    const Ran plain = runCli(arguments, false);
    EXPECT_EQ(plain.status, 1);
    // Each total and each listed key on a line of its own, its count (and share as a percentage) last.
    const QList<QByteArray> lines = plain.out.split('\n');
    const auto hasLine = [&](const QByteArray& first, const QByteArray& last) {
        return std::any_of(lines.begin(), lines.end(), [&](const QByteArray& line) {
            const QByteArray fields = line.simplified();
            return fields.startsWith(first + ' ') && fields.endsWith(' ' + last);
        });
    };
    EXPECT_TRUE(hasLine("读取地址", QByteArray::number(addresses.size() + 1 + special.size())))
        << plain.out.toStdString();
    for (std::size_t k = 0; k < 3; ++k) {
        for (const QJsonValue& item : wanted[k]) {
            const QJsonArray pair = item.toArray();
            const QByteArray key
                = k == 1 ? "AS" + QByteArray::number(pair[0].toInteger()) : pair[0].toString().toUtf8();
            const QByteArray tail = QByteArray::number(pair[1].toInt()) + ' '
                + QByteArray::number(100.0 * pair[1].toInt() / answered, 'f', 1) + '%';
            EXPECT_TRUE(hasLine(key, tail)) << key.toStdString() << ' ' << tail.toStdString() << " in\n"
                                            << plain.out.toStdString();
        }
    }
}

} // namespace

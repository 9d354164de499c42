// SPDX-License-Identifier: GPL-3.0-or-later
// vantor-cli's answers from local databases held against libmaxminddb's own generic reading of the same addresses,
// in every format, on one thread and on all: both of vantor-cli's ways of writing an answer could be wrong together,
// this reading cannot be wrong with them.
#include "vantor/net/SpecialAddresses.h"
#include "vantor/testing/MmdbReading.h"
#include "vantor/testing/TestDatabases.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
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
        expected.push_back(
            { address, vantor::testing::readGenerically(city, withAsn ? &asnFile : nullptr, address.constData()),
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

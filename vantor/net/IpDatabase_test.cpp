// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/IpDatabase.h"
#include "vantor/testing/TestDatabases.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using vantor::InfoRow;
using vantor::IpInfoAnswer;
using Kind = IpInfoAnswer::Kind;

class IpDatabaseTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { databases = new vantor::testing::TestDatabases; }
    static void TearDownTestSuite() { delete databases; }

    void SetUp() override { ASSERT_TRUE(databases->written()) << "write-test-mmdb.pl failed"; }

    vantor::ServiceConfig services(bool withAsn = true) const
    {
        vantor::ServiceConfig services;
        services.ipInfoFormat = vantor::IpInfoFormat::Mmdb;
        services.ipInfoDatabases = QStringList { databases->city() };
        if (withAsn)
            services.asnDatabase = databases->asn();
        return services;
    }

    static vantor::testing::TestDatabases* databases;
};

vantor::testing::TestDatabases* IpDatabaseTest::databases = nullptr;

QStringList values(const IpInfoAnswer& answer)
{
    QStringList values;
    for (const InfoRow& row : answer.rows())
        values << row.value;
    return values;
}

TEST_F(IpDatabaseTest, RowsInChineseElseEnglishElseUnknownAndTheNetworkFound)
{
    const struct
    {
        const char* address;
        Kind kind;
        QStringList values;
        const char* network;
    } cases[] = {
        // IPv4 addresses are found below ::/96 of these IPv6 databases, so their prefix is 96 bits less.
        { "142.250.7.7", Kind::Rows, { "142.250.7.7", "中国", "上海", "上海", "China Telecom" }, "142.250.7.0/24" },
        { "151.101.65.9",
          Kind::Rows,
          { "151.101.65.9", "United States", "California", "San Francisco, \"SF\"", "Example, Inc." },
          "151.101.65.0/24" },
        { "2001:67c::1", Kind::Rows, { "2001:67c::1", "日本", "未知", "东京", "未知" }, "2001:67c::/32" },
        { "81.2.69.200", Kind::Rows, { "81.2.69.200", "德国", "未知", "未知", "未知" }, "81.2.69.128/25" },
        { "::ffff:142.250.7.7",
          Kind::Rows,
          { "::ffff:142.250.7.7", "中国", "上海", "上海", "China Telecom" },
          "::ffff:142.250.7.0/120" },
        // A form only getaddrinfo() reads, as MMDB_lookup_string() would: 142.250.7.7 as one number.
        { "2398750471", Kind::Rows, { "2398750471", "中国", "上海", "上海", "China Telecom" }, "142.250.7.0/24" },
        { "81.2.69.1", Kind::NotFound, {}, nullptr },
        { "2001:67d::1", Kind::NotFound, {}, nullptr },
        { "142.250.7.7 ", Kind::Rejected, {}, nullptr },
        { "not an address", Kind::Rejected, {}, nullptr },
        { "", Kind::Rejected, {}, nullptr },
    };
    for (const auto& c : cases) {
        const IpInfoAnswer answer = vantor::lookUpInIpDatabase(services(), QString::fromUtf8(c.address));
        EXPECT_EQ(answer.kind, c.kind) << c.address;
        EXPECT_EQ(values(answer), c.values) << c.address;
        EXPECT_EQ(answer.network, c.network ? std::optional(QString::fromLatin1(c.network)) : std::nullopt)
            << c.address;
    }
    EXPECT_EQ(values(vantor::lookUpInIpDatabase(services(false), QStringLiteral("142.250.7.7"))).last(),
              QStringLiteral("未知"));

    // An IPv4 database counts an IPv4 address's prefix as it is, a /24 and a /32.
    vantor::ServiceConfig ipv4 = services(false);
    ipv4.ipInfoDatabases = QStringList { databases->cityIpv4() };
    const struct
    {
        const char* address;
        std::optional<QString> network;
    } ipv4Cases[] = { { "142.250.7.7", "142.250.7.0/24" },
                      { "151.101.65.9", "151.101.65.9/32" },
                      { "151.101.65.10", std::nullopt },
                      { "2001:67c::1", std::nullopt } };
    for (const auto& c : ipv4Cases) {
        const IpInfoAnswer answer = vantor::lookUpInIpDatabase(ipv4, QString::fromUtf8(c.address));
        EXPECT_EQ(answer.kind, c.network ? Kind::Rows : Kind::NotFound) << c.address;
        EXPECT_EQ(answer.network, c.network) << c.address;
    }
}

TEST_F(IpDatabaseTest, EachFileIsOpenedOnceAndBadFilesAreNamed)
{
    const auto first = vantor::sharedIpDatabases(services());
    const auto second = vantor::sharedIpDatabases(services());
    ASSERT_TRUE(first && second) << (first ? second : first).error().message.toStdString();
    EXPECT_EQ(first->city.get(), second->city.get());
    EXPECT_EQ(first->asn.get(), second->asn.get());

    const QString missing = databases->folder() + QStringLiteral("/missing.mmdb");
    const QString notADatabase = databases->folder() + QStringLiteral("/list.txt");
    const QString fifo = databases->folder() + QStringLiteral("/fifo.mmdb");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QFile text(notADatabase);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("142.250.7.7\n");
    text.close();
    // Each refused before a byte is copied: sparse, they cost no disk.
    const QString sparse = databases->folder() + QStringLiteral("/sparse.mmdb");
    const QString huge = databases->folder() + QStringLiteral("/huge.mmdb");
    const QString trailed = databases->folder() + QStringLiteral("/trailed.mmdb");
    ASSERT_TRUE(QFile::copy(databases->city(), trailed));
    for (const QString& path : { sparse, huge })
        ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));
    for (const auto& [path, size] :
         { std::pair { sparse, qint64(2) << 30 }, // More than all the memory there is: whatever the room is at the
                                                  // time, more than half of it.
           std::pair { huge, qint64(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE) + 1 },
           std::pair { trailed, QFileInfo(trailed).size() + (qint64(2) << 30) } })
        ASSERT_EQ(truncate(QFile::encodeName(path).constData(), size), 0) << std::strerror(errno);
    for (const auto& [city, asn, named, words] :
         { std::tuple { missing, QString(), missing, QStringLiteral("无法打开") },
           // Never waited on for a writer.
           std::tuple { fifo, QString(), fifo, QStringLiteral("无法打开") },
           std::tuple { databases->folder() + QStringLiteral("/a\x1b[2J\nb.mmdb"), QString(),
                        databases->folder() + QStringLiteral("/a\\x1B[2J\\nb.mmdb"), QStringLiteral("无法打开") },
           std::tuple { databases->city(), notADatabase, notADatabase, QStringLiteral("不是MaxMind数据库") },
           std::tuple { sparse, QString(), sparse, QStringLiteral("不是MaxMind数据库") },
           std::tuple { trailed, QString(), trailed, QStringLiteral("不是MaxMind数据库") },
           std::tuple { huge, QString(), huge, QStringLiteral("太大") },
           std::tuple { QStringLiteral("/dev/zero"), QString(), QStringLiteral("/dev/zero"),
                        QStringLiteral("设备文件") },
           std::tuple { databases->folder(), QString(), databases->folder(), QStringLiteral("文件夹") } }) {
        vantor::ServiceConfig bad = services();
        bad.ipInfoDatabases = QStringList { city };
        bad.asnDatabase = asn;
        const IpInfoAnswer answer = vantor::lookUpInIpDatabase(bad, QStringLiteral("142.250.7.7"));
        EXPECT_EQ(answer.kind, Kind::Unavailable);
        EXPECT_TRUE(answer.problem.contains(named) && answer.problem.contains(words)) << answer.problem.toStdString();
        // Refused before its bytes are copied.
        bool copying = false;
        EXPECT_FALSE(vantor::MmdbFile::open(asn.isEmpty() ? city : asn, [&] { copying = true; }));
        EXPECT_FALSE(copying) << qPrintable(named);
    }
}

// Each address's kind and values, as the database gives them, a line each.
std::string answersOf(const vantor::MmdbFile& file)
{
    const vantor::IpDatabases databases { std::shared_ptr<const vantor::MmdbFile>(&file, [](auto*) {}), nullptr };
    QString answers;
    for (const char* address : { "142.250.7.7", "151.101.65.9", "2001:67c::1", "81.2.69.200", "81.2.69.1" }) {
        const IpInfoAnswer answer = vantor::lookUpInDatabases(databases, QString::fromLatin1(address));
        answers += QString::number(int(answer.kind)) + QLatin1Char(' ') + values(answer).join(QLatin1Char('|'))
            + QLatin1Char('\n');
    }
    return answers.toStdString();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(IpDatabaseTest, AFileChangedInUseChangesNoAnswerAndOneChangedWhileReadIsRefused)
{
    const QString live = databases->folder() + QStringLiteral("/live.mmdb");
    const QByteArray city = contents(databases->city());
    // Writes over the file where it is, as cp does.
    const auto overwrite = [&](const QByteArray& bytes) {
        QFile file(live);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    };
    const auto cutTo = [&](qint64 size) { return truncate(QFile::encodeName(live).constData(), size) == 0; };
    const struct
    {
        const char* name;
        bool whileRead; // else once opened
        std::function<bool()> change;
    } cases[] = {
        { "truncated", false, [&] { return cutTo(0); } },
        { "rewritten", false, [&] { return overwrite(contents(databases->asn())); } },
        { "shrinking", true, [&] { return cutTo(city.size() / 2); } },
        { "growing", true, [&] { return overwrite(city + city); } },
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(overwrite(city));
        bool changed = false;
        const auto file = vantor::MmdbFile::open(live, [&] { changed = c.whileRead && c.change(); });
        if (c.whileRead) {
            EXPECT_TRUE(changed && !file) << c.name;
            ASSERT_FALSE(file);
            EXPECT_EQ(file.error().kind, vantor::VantorError::Kind::Changed);
            EXPECT_EQ(file.error().message.toStdString(),
                      QStringLiteral("数据库文件 %1 在读取时被改动。").arg(live).toStdString());
            continue;
        }
        ASSERT_TRUE(file) << file.error().message.toStdString();
        const std::string before = answersOf(**file);
        ASSERT_NE(before.find("142.250.7.7|中国|上海|上海|未知\n"), std::string::npos) << before;
        ASSERT_TRUE(c.change()) << c.name;
        EXPECT_EQ(answersOf(**file), before) << c.name;
    }
}

} // namespace

namespace {

// The flat layout, one file per family; country names from iso-codes' own files.
TEST(IpDatabaseFlatTest, AnswersFromEachLayoutInTheFirstFileOfTheFamily)
{
    const vantor::testing::TestDatabases flat("flat");
    ASSERT_TRUE(flat.written()) << "write-test-mmdb.pl failed";
    const QString ipv4 = flat.file("flat-ipv4.mmdb");
    const QString ipv6 = flat.file("flat-ipv6.mmdb");
    const QString country = flat.file("flat-country.mmdb");
    const struct
    {
        QStringList files;
        const char* address;
        QStringList values; // none: not found
        const char* network;
    } cases[] = {
        { { ipv4, ipv6 }, "1.1.1.7", { "1.1.1.7", "澳大利亚", "Queensland", "South Brisbane", "未知" }, "1.1.1.0/24" },
        { { ipv4, ipv6 }, "81.2.69.160", { "81.2.69.160", "英国", "England", "London", "未知" }, "81.2.69.0/24" },
        { { ipv4, ipv6 }, "9.9.9.9", { "9.9.9.9", "ZZ", "未知", "Nowhere, \"Q\"", "未知" }, "9.9.9.0/24" },
        // The first file holds no IPv6, the second no IPv4, whichever comes first.
        { { ipv4, ipv6 },
          "2606:4700::1111",
          { "2606:4700::1111", "美国", "California", "San Francisco", "未知" },
          "2606:4700::/32" },
        { { ipv6, ipv4 }, "1.1.1.7", { "1.1.1.7", "澳大利亚", "Queensland", "South Brisbane", "未知" }, "1.1.1.0/24" },
        { { ipv4 }, "2a00:1450::1", {}, nullptr },
        { { ipv6 }, "1.1.1.7", {}, nullptr },
        // An IPv6 database with networks below ::/96 answers for both families.
        { { country, ipv4 }, "1.1.1.7", {}, nullptr },
        { { country }, "8.8.8.8", { "8.8.8.8", "美国", "未知", "未知", "未知" }, "8.8.8.0/24" },
        { { country }, "2a00:1450::1", { "2a00:1450::1", "德国", "未知", "未知", "未知" }, "2a00:1450::/32" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        vantor::ServiceConfig services;
        services.ipInfoFormat = vantor::IpInfoFormat::Mmdb;
        services.ipInfoDatabases = c.files;
        const IpInfoAnswer answer = vantor::lookUpInIpDatabase(services, QString::fromUtf8(c.address));
        EXPECT_EQ(answer.kind, c.values.isEmpty() ? Kind::NotFound : Kind::Rows);
        EXPECT_EQ(values(answer), c.values);
        EXPECT_EQ(answer.network, c.network ? std::optional(QString::fromLatin1(c.network)) : std::nullopt);
    }
}

// Only a bundled database is ever stale, and only past its days; the date is the build's, in UTC.
TEST(IpDatabaseFlatTest, BundledDatabasesTellTheirAge)
{
    const vantor::testing::TestDatabases flat("flat");
    ASSERT_TRUE(flat.written()) << "write-test-mmdb.pl failed";
    const QTemporaryDir data;
    ASSERT_TRUE(QDir(data.path()).mkpath(QStringLiteral("vantor")));
    const QString bundled = data.filePath(QString::fromLatin1(vantor::kBundledCountryDatabase));
    ASSERT_TRUE(QFile::copy(flat.file("flat-country.mmdb"), bundled));
    const QByteArray before = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", QFile::encodeName(data.path()));
    constexpr qint64 kBuilt = 1590969600; // 2020-06-01
    constexpr qint64 kDay = 24 * 60 * 60;
    const struct
    {
        QString file;
        qint64 now;
        bool bundled;
        bool stale;
    } cases[] = {
        { bundled, kBuilt + 180 * kDay, true, false },
        { bundled, kBuilt + 181 * kDay, true, true },
        { flat.file("flat-country.mmdb"), kBuilt + 1000 * kDay, false, false },
    };
    for (const auto& c : cases) {
        vantor::ServiceConfig services;
        services.ipInfoDatabases = QStringList { c.file };
        const std::vector<vantor::DatabaseAge> ages = vantor::databaseAges(services, c.now);
        ASSERT_EQ(ages.size(), 1u);
        EXPECT_EQ(ages[0].built, QDate(2020, 6, 1));
        EXPECT_EQ(ages[0].bundled, c.bundled);
        EXPECT_EQ(ages[0].stale, c.stale) << c.now;
    }
    qputenv("XDG_DATA_DIRS", before);
}

} // namespace

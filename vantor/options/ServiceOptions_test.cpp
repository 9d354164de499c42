// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/BundledDatabases.h"
#include "vantor/options/ServiceOptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using vantor::IpInfoFormat;
using vantor::ServiceSettings;

std::optional<QString> text(const char* value)
{
    return value ? std::optional<QString>(QString::fromUtf8(value)) : std::nullopt;
}

ServiceSettings settings(const char* format, const char* ipInfoUrl, const char* myAddressUrl,
                         const char* ipInfoDatabase = nullptr)
{
    ServiceSettings settings;
    settings.ipInfoFormat = text(format);
    settings.ipInfoUrl = text(ipInfoUrl);
    if (myAddressUrl)
        settings.myAddressUrls = QStringList { QString::fromUtf8(myAddressUrl) };
    // Several files are given as "a|b".
    if (ipInfoDatabase)
        settings.ipInfoDatabases = QString::fromUtf8(ipInfoDatabase).split(QLatin1Char('|'));
    return settings;
}

ServiceSettings withAsn(ServiceSettings settings, const char* asnDatabase)
{
    settings.asnDatabase = text(asnDatabase);
    return settings;
}

const char kIpApi[] = "http://ip-api.com/json/";
// Stands for the default list of my-address services.
const char kIcanhazip[] = "(the defaults)";
const char kFileGetIpInfo[] = "http://f.example/service/getIpInfo.php?ip=";
// Stand for the files of a bundled-data folder the test makes.
const char kBundledCountry[] = "(bundled country)";
const char kBundledAsn[] = "(bundled asn)";

struct ResolveCase
{
    const char* name;
    ServiceSettings commandLine;
    ServiceSettings file;
    IpInfoFormat format;
    const char* prefix;
    const char* myAddress;
    QStringList warnedKeys = {}; // the file's keys the warnings name, in order
    const char* errorOption = nullptr; // the option a command-line error names
    bool bundled = false; // whether the data folders hold the bundled databases
    QStringList databases = {};
    const char* asnDatabase = "";
};

void PrintTo(const ResolveCase& c, std::ostream* os)
{
    *os << c.name;
}

class ResolveServicesTest : public ::testing::TestWithParam<ResolveCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(bundledFolder.path()).mkpath(QStringLiteral("vantor")));
        for (const char* name : { vantor::kBundledCountryDatabase, vantor::kBundledAsnDatabase }) {
            QFile file(bundledFolder.filePath(QString::fromLatin1(name)));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
        m_dataFolders = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_DIRS", QFile::encodeName(GetParam().bundled ? bundledFolder.path() : emptyFolder.path()));
    }
    void TearDown() override { qputenv("XDG_DATA_DIRS", m_dataFolders); }

    // A bundled file's path for its stand-in.
    QString path(const QString& name) const
    {
        if (name == QLatin1String(kBundledCountry))
            return bundledFolder.filePath(QString::fromLatin1(vantor::kBundledCountryDatabase));
        if (name == QLatin1String(kBundledAsn))
            return bundledFolder.filePath(QString::fromLatin1(vantor::kBundledAsnDatabase));
        return name;
    }

    QTemporaryDir bundledFolder;
    QTemporaryDir emptyFolder;

private:
    QByteArray m_dataFolders;
};

TEST_P(ResolveServicesTest, CommandLineOverFileOverDefault)
{
    const ResolveCase& c = GetParam();
    const QString path = QStringLiteral("/home/u/.config/vantor/vantor.conf");
    const auto result = vantor::options::resolveServiceOptions(c.commandLine, c.file, path);

    if (c.errorOption) {
        ASSERT_FALSE(result);
        const QString& error = result.error().message;
        EXPECT_TRUE(error.startsWith(QLatin1String("--") + QLatin1String(c.errorOption) + QLatin1Char(':')))
            << error.toStdString();
        return;
    }
    ASSERT_TRUE(result) << result.error().message.toStdString();
    const vantor::ResolvedServices& resolved = *result;
    EXPECT_EQ(resolved.services.ipInfoFormat, c.format);
    EXPECT_EQ(resolved.services.ipInfoPrefix, QString::fromLatin1(c.prefix));
    EXPECT_EQ(resolved.services.myAddressUrls,
              c.myAddress == kIcanhazip ? vantor::defaultMyAddressUrls()
                                        : QStringList { QString::fromLatin1(c.myAddress) });
    QStringList warnedKeys;
    for (const QString& warning : resolved.warnings) {
        ASSERT_TRUE(warning.startsWith(path + QLatin1String(": "))) << warning.toStdString();
        warnedKeys << warning.section(QLatin1String(": "), 1, 1);
    }
    EXPECT_EQ(warnedKeys, c.warnedKeys);
    QStringList databases;
    for (const QString& database : c.databases)
        databases << this->path(database);
    EXPECT_EQ(resolved.services.ipInfoDatabases, databases);
    EXPECT_EQ(resolved.services.asnDatabase, this->path(QString::fromUtf8(c.asnDatabase)));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ResolveServicesTest,
    ::testing::Values(
        ResolveCase { "Defaults", {}, {}, IpInfoFormat::IpApi, kIpApi, kIcanhazip },
        ResolveCase { "FileOnly",
                      {},
                      settings("getipinfo", kFileGetIpInfo, "https://me.example/"),
                      IpInfoFormat::GetIpInfo,
                      kFileGetIpInfo,
                      "https://me.example/" },
        ResolveCase { "CommandLineOverFile", settings("ip-api", "http://c.example/json/", "http://c.example/"),
                      settings("getipinfo", kFileGetIpInfo, "http://me.example/"), IpInfoFormat::IpApi,
                      "http://c.example/json/", "http://c.example/" },
        ResolveCase { "EachKeyOnItsOwn", settings(nullptr, "http://c.example/json/", nullptr),
                      settings(nullptr, "http://f.example/json/", "http://me.example/"), IpInfoFormat::IpApi,
                      "http://c.example/json/", "http://me.example/" },
        ResolveCase { "FileUrlWithoutFormatIsForIpApi",
                      {},
                      settings(nullptr, "https://f.example/json/", nullptr),
                      IpInfoFormat::IpApi,
                      "https://f.example/json/",
                      kIcanhazip },
        ResolveCase { "AnotherFormatOnTheCommandLineDropsTheFileUrl", settings("ip-api", nullptr, nullptr),
                      settings("getipinfo", kFileGetIpInfo, nullptr), IpInfoFormat::IpApi, kIpApi, kIcanhazip },
        ResolveCase { "TheSameFormatOnTheCommandLineKeepsTheFileUrl", settings("getipinfo", nullptr, nullptr),
                      settings("getipinfo", kFileGetIpInfo, nullptr), IpInfoFormat::GetIpInfo, kFileGetIpInfo,
                      kIcanhazip },
        ResolveCase { "UnknownFormatInFile",
                      {},
                      settings("getipinfoo", kFileGetIpInfo, nullptr),
                      IpInfoFormat::IpApi,
                      kIpApi,
                      kIcanhazip,
                      { "ipInfoFormat" } },
        ResolveCase { "GetIpInfoWithoutUrlInFile",
                      {},
                      settings("getipinfo", nullptr, nullptr),
                      IpInfoFormat::IpApi,
                      kIpApi,
                      kIcanhazip,
                      { "ipInfoFormat" } },
        ResolveCase { "BadUrlInFile",
                      {},
                      settings("getipinfo", "ftp://f.example/", "icanhazip.com"),
                      IpInfoFormat::IpApi,
                      kIpApi,
                      kIcanhazip,
                      { "ipInfoUrl", "ipInfoFormat", "myAddressUrls" } },
        ResolveCase { "BadFileValueUnderACommandLineValue",
                      settings(nullptr, nullptr, "http://c.example/"),
                      settings(nullptr, nullptr, "not a url"),
                      IpInfoFormat::IpApi,
                      kIpApi,
                      "http://c.example/",
                      { "myAddressUrls" } },
        ResolveCase { "UnknownFormat", settings("xml", nullptr, nullptr), {}, {}, "", "", {}, "ip-info-format" },
        ResolveCase { "GetIpInfoWithoutUrl",
                      settings("getipinfo", nullptr, nullptr),
                      settings(nullptr, "http://f.example/json/", nullptr),
                      {},
                      "",
                      "",
                      {},
                      "ip-info-format" },
        ResolveCase {
            "FileScheme", settings(nullptr, "file:///etc/passwd", nullptr), {}, {}, "", "", {}, "ip-info-url" },
        ResolveCase {
            "RelativeUrl", settings(nullptr, nullptr, "icanhazip.com"), {}, {}, "", "", {}, "my-address-url" },
        ResolveCase {
            "UrlWithASpace", settings(nullptr, "http://c.example/a b/", nullptr), {}, {}, "", "", {}, "ip-info-url" },
        ResolveCase { "MmdbWithTheFilesDatabase",
                      settings("mmdb", nullptr, nullptr),
                      settings(nullptr, nullptr, nullptr, "/srv/city.mmdb"),
                      IpInfoFormat::Mmdb,
                      "",
                      kIcanhazip,
                      {},
                      nullptr,
                      true,
                      { "/srv/city.mmdb" } },
        ResolveCase { "MmdbWithADatabasePerFamily",
                      settings("mmdb", nullptr, nullptr, "/srv/v4.mmdb|/srv/v6.mmdb"),
                      settings(nullptr, nullptr, nullptr, "/srv/city.mmdb"),
                      IpInfoFormat::Mmdb,
                      "",
                      kIcanhazip,
                      {},
                      nullptr,
                      false,
                      { "/srv/v4.mmdb", "/srv/v6.mmdb" } },
        ResolveCase { "MmdbTakesBothBundledDatabases",
                      settings("mmdb", nullptr, nullptr),
                      {},
                      IpInfoFormat::Mmdb,
                      "",
                      kIcanhazip,
                      {},
                      nullptr,
                      true,
                      { kBundledCountry },
                      kBundledAsn },
        ResolveCase { "ANamedAsnDatabaseGoesWithTheBundledCountry",
                      withAsn(settings("mmdb", nullptr, nullptr), "/a"),
                      {},
                      IpInfoFormat::Mmdb,
                      "",
                      kIcanhazip,
                      {},
                      nullptr,
                      true,
                      { kBundledCountry },
                      "/a" },
        ResolveCase { "AnEmptyNameInTheFilesListIsBad",
                      {},
                      settings("mmdb", nullptr, nullptr, "/srv/v4.mmdb|"),
                      IpInfoFormat::IpApi,
                      kIpApi,
                      kIcanhazip,
                      { "ipInfoDatabase", "ipInfoFormat" },
                      nullptr,
                      false,
                      {} },
        ResolveCase { "MmdbWithoutDatabaseInFile",
                      {},
                      settings("mmdb", nullptr, nullptr),
                      IpInfoFormat::IpApi,
                      kIpApi,
                      kIcanhazip,
                      { "ipInfoFormat" } },
        ResolveCase { "MmdbWithoutDatabase", settings("mmdb", nullptr, nullptr), {}, {}, "", "", {}, "ip-info-format" },
        ResolveCase {
            "EmptyDatabaseName", settings("mmdb", nullptr, nullptr, ""), {}, {}, "", "", {}, "ip-info-database" }),
    [](const ::testing::TestParamInfo<ResolveCase>& info) { return info.param.name; });

} // namespace

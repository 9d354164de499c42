// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Configuration.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using vantor::Invocation;
using vantor::IpInfoFormat;
using vantor::Program;
using vantor::ServiceSettings;
using Action = Invocation::Action;

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
    settings.ipInfoDatabase = text(ipInfoDatabase);
    return settings;
}

const char kIpApi[] = "http://ip-api.com/json/";
// Stands for the default list of my-address services.
const char kIcanhazip[] = "(the defaults)";
const char kFileGetIpInfo[] = "http://f.example/service/getIpInfo.php?ip=";

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
};

void PrintTo(const ResolveCase& c, std::ostream* os)
{
    *os << c.name;
}

class ResolveServicesTest : public ::testing::TestWithParam<ResolveCase>
{
};

TEST_P(ResolveServicesTest, CommandLineOverFileOverDefault)
{
    const ResolveCase& c = GetParam();
    const QString path = QStringLiteral("/home/u/.config/vantor/vantor.conf");
    const vantor::ResolvedServices resolved = vantor::resolveServices(c.commandLine, c.file, path);

    if (c.errorOption) {
        EXPECT_TRUE(resolved.error.startsWith(QLatin1String("--") + QLatin1String(c.errorOption) + QLatin1Char(':')))
            << resolved.error.toStdString();
        return;
    }
    EXPECT_TRUE(resolved.error.isEmpty()) << resolved.error.toStdString();
    EXPECT_EQ(resolved.services.ipInfoFormat, c.format);
    EXPECT_EQ(resolved.services.ipInfoPrefix, QString::fromLatin1(c.prefix));
    EXPECT_EQ(resolved.services.myAddressUrls, c.myAddress == kIcanhazip ? vantor::defaultMyAddressUrls()
                                                                          : QStringList { QString::fromLatin1(c.myAddress) });
    QStringList warnedKeys;
    for (const QString& warning : resolved.warnings) {
        ASSERT_TRUE(warning.startsWith(path + QLatin1String(": "))) << warning.toStdString();
        warnedKeys << warning.section(QLatin1String(": "), 1, 1);
    }
    EXPECT_EQ(warnedKeys, c.warnedKeys);
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
        ResolveCase { "MmdbWithTheFilesDatabase", settings("mmdb", nullptr, nullptr),
                      settings(nullptr, nullptr, nullptr, "/srv/city.mmdb"), IpInfoFormat::Mmdb, "", kIcanhazip },
        ResolveCase { "MmdbWithoutDatabaseInFile",
                      {},
                      settings("mmdb", nullptr, nullptr),
                      IpInfoFormat::IpApi,
                      kIpApi,
                      kIcanhazip,
                      { "ipInfoFormat" } },
        ResolveCase { "MmdbWithoutDatabase", settings("mmdb", nullptr, nullptr), {}, {}, "", "", {}, "ip-info-format" },
        ResolveCase { "EmptyDatabaseName", settings("mmdb", nullptr, nullptr, ""), {}, {}, "", "", {},
                      "ip-info-database" }),
    [](const ::testing::TestParamInfo<ResolveCase>& info) { return info.param.name; });

class ConfigurationFileTest : public ::testing::Test
{
protected:
    QString write(const QByteArray& contents)
    {
        const QString path = directory.filePath(QStringLiteral("vantor%1.conf").arg(++files));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        return path;
    }

    QTemporaryDir directory;
    int files = 0;
};

TEST_F(ConfigurationFileTest, TopLevelKeysAreRead)
{
    QStringList warnings;
    const ServiceSettings read = vantor::readConfigurationFile(
        write("ipInfoFormat=getipinfo\nipInfoUrl=http://f.example/service/getIpInfo.php?ip=\n"
              "myAddressUrl=http://me.example/a,b\n[other]\nipInfoFormat=xml\n"),
        &warnings);
    EXPECT_EQ(read.ipInfoFormat, QStringLiteral("getipinfo"));
    EXPECT_EQ(read.ipInfoUrl, QStringLiteral("http://f.example/service/getIpInfo.php?ip="));
    // The older key is a list of one, commas and all.
    EXPECT_EQ(read.myAddressUrls, QStringList { "http://me.example/a,b" });
    EXPECT_TRUE(warnings.isEmpty());

    const ServiceSettings none
        = vantor::readConfigurationFile(directory.filePath(QStringLiteral("missing.conf")), &warnings);
    EXPECT_FALSE(none.ipInfoFormat || none.ipInfoUrl || none.ipInfoToken || none.myAddressUrls);
    EXPECT_TRUE(warnings.isEmpty());

    // A value QSettings would rebuild with QDataStream: nothing of the file is read, and the warning says why.
    const QString streamed = write("ipInfoFormat=ipwhois\nipInfoUrl=@Variant(\\0\\0\\0\\x31\\c8\\0\\0)\n");
    const ServiceSettings refused = vantor::readConfigurationFile(streamed, &warnings);
    EXPECT_FALSE(refused.ipInfoFormat || refused.ipInfoUrl);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith(streamed + QStringLiteral(": holds a serialized value"))) << qPrintable(warnings[0]);
}

TEST_F(ConfigurationFileTest, ListsOfMyAddressServicesAndTheToken)
{
    const QString conf = write("myAddressUrls=https://a.example/#ipv4, https://b.example/#ipv6, http://c.example/\n"
                               "myAddressUrl=http://old.example/\nipInfoFormat=ipinfo\nipInfoToken=fromfile\n");
    const auto parse = [&](QStringList arguments) {
        return vantor::parseInvocation(Program::Cli, QStringList { QStringLiteral("vantor-cli") } + arguments, conf);
    };

    Invocation invocation = parse({});
    ASSERT_EQ(invocation.action, Action::Run) << invocation.text.toStdString();
    EXPECT_EQ(invocation.services.myAddressUrls,
              (QStringList { "https://a.example/#ipv4", "https://b.example/#ipv6", "http://c.example/" }));
    EXPECT_EQ(invocation.services.ipInfoFormat, IpInfoFormat::IpInfo);
    EXPECT_EQ(invocation.services.ipInfoPrefix, QStringLiteral("https://ipinfo.io/"));
    EXPECT_EQ(invocation.services.ipInfoToken, QStringLiteral("fromfile"));

    // The repeated option replaces the whole list; the token file is read and trimmed.
    const QString tokenFile = write("  0123abcd\n");
    invocation = parse({ "--my-address-url", "https://x.example/#ipv6", "--my-address-url=https://y.example/",
                         "--ip-info-token-file", tokenFile, "--own" });
    ASSERT_EQ(invocation.action, Action::Run) << invocation.text.toStdString();
    EXPECT_EQ(invocation.services.myAddressUrls, (QStringList { "https://x.example/#ipv6", "https://y.example/" }));
    EXPECT_EQ(invocation.services.ipInfoToken, QStringLiteral("0123abcd"));
    EXPECT_TRUE(invocation.ownOnly);

    // No message ever shows a token.
    const QString badToken = write("secret with spaces\n");
    invocation = parse({ "--ip-info-token-file", badToken });
    EXPECT_EQ(invocation.action, Action::BadUsage);
    EXPECT_TRUE(invocation.text.contains(QLatin1String("--ip-info-token-file"))) << invocation.text.toStdString();
    EXPECT_FALSE(invocation.text.contains(QLatin1String("secret"))) << invocation.text.toStdString();
    invocation = parse({ "--ip-info-token-file", directory.filePath(QStringLiteral("none")) });
    EXPECT_EQ(invocation.action, Action::BadUsage);

    invocation = parse({ "--my-address-url", "https://x.example/#v6" });
    EXPECT_EQ(invocation.action, Action::BadUsage);
    EXPECT_TRUE(invocation.text.contains(QLatin1String("--my-address-url"))) << invocation.text.toStdString();
    EXPECT_EQ(parse({ "--own", "192.0.2.1" }).action, Action::BadUsage);

    // In the file, a bad item or token warns (without the token) and the defaults stand.
    const QString badFile = write("myAddressUrls=https://a.example/#ipv5\nipInfoToken=\"s e c r e t\"\n");
    invocation
        = vantor::parseInvocation(Program::Window, QStringList { QStringLiteral("vantor") }, badFile);
    ASSERT_EQ(invocation.action, Action::Run);
    EXPECT_EQ(invocation.services.myAddressUrls, vantor::defaultMyAddressUrls());
    EXPECT_TRUE(invocation.services.ipInfoToken.isEmpty());
    ASSERT_EQ(invocation.warnings.size(), 2) << invocation.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(invocation.warnings[0].contains(QLatin1String("ipInfoToken")));
    EXPECT_FALSE(invocation.warnings[0].contains(QLatin1String("s e c")));
    EXPECT_TRUE(invocation.warnings[1].contains(QLatin1String("myAddressUrls")));
}

TEST_F(ConfigurationFileTest, TokenFilesAreReadNoFurtherThanTheirBound)
{
    // A FIFO whose writer never stops: yes writes for as long as anyone reads.
    const QString fifo = directory.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess writer;
    writer.start(QStringLiteral("sh"), { QStringLiteral("-c"), QStringLiteral("exec yes > \"$0\""), fifo });
    const struct
    {
        const char* name;
        QString path;
        bool read;
    } cases[] = {
        { "4096 bytes", write(QByteArray(4096, 't')), true },
        { "4097 bytes", write(QByteArray(4097, 't')), false },
        { "empty", write({}), false },
        { "a device without end", QStringLiteral("/dev/zero"), false },
        { "a FIFO without end", fifo, false },
    };
    for (const auto& c : cases) {
        const Invocation invocation = vantor::parseInvocation(
            Program::Cli, { QStringLiteral("vantor-cli"), QStringLiteral("--ip-info-token-file"), c.path },
            QStringLiteral("/nonexistent"));
        EXPECT_EQ(invocation.action, c.read ? Action::Run : Action::BadUsage) << c.name;
        EXPECT_EQ(invocation.services.ipInfoToken.size(), c.read ? 4096 : 0) << c.name;
    }
    EXPECT_TRUE(writer.waitForFinished(10000));
}

TEST_F(ConfigurationFileTest, WarningsShowTheFilesValuesPrintably)
{
    const QString conf = write("ipInfoFormat=x\x1b[2J\nmyAddressUrls=http://a\x7f/\n");
    QStringList warnings;
    const vantor::ResolvedServices resolved
        = vantor::resolveServices({}, vantor::readConfigurationFile(conf, &warnings), conf);
    ASSERT_EQ(resolved.warnings.size(), 2) << resolved.warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(resolved.warnings[0].contains(QLatin1String("'x\\x1B[2J'"))) << resolved.warnings[0].toStdString();
    EXPECT_TRUE(resolved.warnings[1].contains(QLatin1String("'http://a\\x7F/'"))) << resolved.warnings[1].toStdString();
}

TEST(ConfigurationFile, LivesInTheConfigurationFolder)
{
    EXPECT_EQ(vantor::configurationFilePath(),
              qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/vantor/vantor.conf"));
}

struct InvocationCase
{
    const char* name;
    Program program;
    QStringList arguments; // after the program's name
    Action action;
    QStringList inText; // each found in the text
};

void PrintTo(const InvocationCase& c, std::ostream* os)
{
    *os << c.name;
}

class InvocationTest : public ::testing::TestWithParam<InvocationCase>
{
};

TEST_P(InvocationTest, Answers)
{
    const InvocationCase& c = GetParam();
    const QString name = c.program == Program::Window ? QStringLiteral("vantor") : QStringLiteral("vantor-cli");
    const Invocation invocation = vantor::parseInvocation(
        c.program, QStringList { QStringLiteral("/usr/bin/") + name } + c.arguments, QStringLiteral("/nonexistent"));
    EXPECT_EQ(invocation.action, c.action) << invocation.text.toStdString();
    for (const QString& part : c.inText) {
        EXPECT_TRUE(invocation.text.contains(part))
            << invocation.text.toStdString() << "\nlacks " << part.toStdString();
    }
    if (c.action == Action::BadUsage) {
        EXPECT_TRUE(invocation.text.startsWith(name + QLatin1String(": "))) << invocation.text.toStdString();
        // Whatever was given, nothing a terminal would act on comes back.
        EXPECT_TRUE(std::none_of(invocation.text.begin(), invocation.text.end(), [](QChar c) {
            return c.unicode() < 0x20 && c != QLatin1Char('\n');
        })) << invocation.text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, InvocationTest,
    ::testing::Values(
        InvocationCase { "CliHelp",
                         Program::Cli,
                         { "-h" },
                         Action::Help,
                         { "Usage: vantor-cli [options] [ADDRESS | -f FILE]...\n", "--json", "--own", "--csv",
                           "-f, --file <FILE>", "--ip-info-format <FORMAT>", "--ip-info-token-file <FILE>",
                           "--ip-api-batch-url <URL>", "--ip-info-database <FILE>", "--asn-database <FILE>",
                           "Exit status:", "ip-api", "getipinfo", "ipwhois", "ipinfo", "mmdb", "non-commercial",
                           "https://ipwho.is/", "#ipv6" } },
        InvocationCase { "HelpWinsOverMistakesAfterIt",
                         Program::Cli,
                         { "--help", "--ip-info-format", "xml" },
                         Action::Help,
                         { "Usage: vantor-cli" } },
        InvocationCase { "UnknownOption", Program::Window, { "--bogus" }, Action::BadUsage, { "bogus" } },
        InvocationCase { "MissingValue", Program::Cli, { "--ip-info-url" }, Action::BadUsage, { "--ip-info-url" } },
        InvocationCase { "BadFormat",
                         Program::Window,
                         { "--ip-info-format", "xml" },
                         Action::BadUsage,
                         { "--ip-info-format", "xml" } },
        InvocationCase { "BadUrl",
                         Program::Cli,
                         { "--my-address-url=icanhazip.com" },
                         Action::BadUsage,
                         { "--my-address-url", "icanhazip.com" } },
        InvocationCase { "WindowTakesNoAddress", Program::Window, { "192.0.2.1" }, Action::BadUsage, { "192.0.2.1" } },
        InvocationCase { "WindowHasNoJson", Program::Window, { "--json" }, Action::BadUsage, { "json" } },
        InvocationCase { "QtOptionsReachQt",
                         Program::Window,
                         { "-platform", "offscreen", "-style=fusion", "--reverse", "--ip-info-format", "ip-api" },
                         Action::Run,
                         {} },
        InvocationCase { "CliHasNoQtOptions", Program::Cli, { "-platform", "offscreen" }, Action::BadUsage, {} },
        InvocationCase { "CliAddresses", Program::Cli, { "192.0.2.1", "--", "-1" }, Action::Run, {} },
        InvocationCase { "JsonOrCsv", Program::Cli, { "--json", "--csv" }, Action::BadUsage, { "--csv" } },
        InvocationCase { "WindowReadsNoList", Program::Window, { "-f", "-" }, Action::BadUsage, {} },
        InvocationCase { "EscapedOption", Program::Cli, { "--a\x1b[2Jb" }, Action::BadUsage, { "a\\x1B[2Jb" } },
        InvocationCase { "EscapedFormat", Program::Cli, { "--ip-info-format=\a" }, Action::BadUsage, { "'\\x07'" } },
        InvocationCase {
            "EscapedFileName", Program::Cli, { "--ip-info-token-file=\a" }, Action::BadUsage, { "'\\x07'" } }),
    [](const ::testing::TestParamInfo<InvocationCase>& info) { return info.param.name; });

TEST(Invocation, AddressesAndListsInCommandLineOrder)
{
    using Kind = Invocation::AddressSource::Kind;
    const Invocation invocation = vantor::parseInvocation(
        Program::Cli,
        { "vantor-cli", "192.0.2.1", "-f", "a.txt", "--ip-info-url", "http://x.example/", "-f-", "2001:db8::1",
          "--file=b.txt", "--", "-f" },
        QStringLiteral("/nonexistent"));
    ASSERT_EQ(invocation.action, Action::Run) << invocation.text.toStdString();
    const QList<Invocation::AddressSource> expected { { Kind::Address, "192.0.2.1" }, { Kind::File, "a.txt" },
                                                      { Kind::File, "-" },            { Kind::Address, "2001:db8::1" },
                                                      { Kind::File, "b.txt" },       { Kind::Address, "-f" } };
    EXPECT_EQ(invocation.sources, expected);
    EXPECT_EQ(invocation.services.ipApiBatchUrl, QStringLiteral("http://ip-api.com/batch"));
}

} // namespace

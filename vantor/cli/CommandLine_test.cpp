// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/CommandLine.h"
#include "vantor/testing/CommandLineCases.h"
#include "vantor/testing/ConfigurationFiles.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using vantor::IpInfoFormat;
using vantor::cli::AddressSource;
using vantor::cli::CliOptions;
using Parsed = platform::Result<CliOptions, vantor::options::Exit>;
using vantor::options::testing::Action;
using vantor::options::testing::actionOf;
using vantor::options::testing::CommandLineCase;

QString textOf(const Parsed& parsed)
{
    return parsed ? QString() : parsed.error().text;
}

Parsed parse(const QStringList& arguments, const QString& configuration = QStringLiteral("/nonexistent"))
{
    return vantor::cli::parseCliCommandLine(QStringList { QStringLiteral("/usr/bin/vantor-cli") } + arguments,
                                            configuration);
}

class CliCommandLineTest : public ::testing::TestWithParam<CommandLineCase>
{
};

TEST_P(CliCommandLineTest, Answers)
{
    const CommandLineCase& c = GetParam();
    const Parsed parsed = parse(c.arguments);
    const QString text = textOf(parsed);
    EXPECT_EQ(actionOf(parsed), c.action) << text.toStdString();
    for (const QString& part : c.inText)
        EXPECT_TRUE(text.contains(part)) << text.toStdString() << "\nlacks " << part.toStdString();
    if (c.action == Action::BadUsage) {
        EXPECT_TRUE(text.startsWith(QLatin1String("vantor-cli: "))) << text.toStdString();
        // Whatever was given, nothing a terminal would act on comes back.
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](QChar c) {
            return c.unicode() < 0x20 && c != QLatin1Char('\n');
        })) << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, CliCommandLineTest,
    ::testing::Values(
        CommandLineCase { "CliHelp",
                          { "-h" },
                          Action::Help,
                          { "Usage: vantor-cli [options] [ADDRESS | -f FILE]...\n", "--json", "--own", "--csv",
                            "-f, --file <FILE>", "--ip-info-format <FORMAT>", "--ip-info-token-file <FILE>",
                            "--ip-api-batch-url <URL>", "--ip-info-database <FILE>", "--asn-database <FILE>",
                            "Exit status:", "ip-api", "getipinfo", "ipwhois", "ipinfo", "mmdb", "non-commercial",
                            "https://ipwho.is/", "#ipv6" } },
        CommandLineCase { "HelpWinsOverMistakesAfterIt",
                          { "--help", "--ip-info-format", "xml" },
                          Action::Help,
                          { "Usage: vantor-cli" } },
        CommandLineCase { "MissingValue", { "--ip-info-url" }, Action::BadUsage, { "--ip-info-url" } },
        CommandLineCase {
            "BadUrl", { "--my-address-url=icanhazip.com" }, Action::BadUsage, { "--my-address-url", "icanhazip.com" } },
        CommandLineCase { "CliHasNoQtOptions", { "-platform", "offscreen" }, Action::BadUsage, {} },
        CommandLineCase { "CliAddresses", { "81.2.69.1", "--", "-1" }, Action::Run, {} },
        CommandLineCase { "JsonOrCsv", { "--json", "--csv" }, Action::BadUsage, { "--csv" } },
        CommandLineCase { "OwnOrExtract", { "--own", "-x" }, Action::BadUsage, { "-x" } },
        CommandLineCase { "EscapedOption", { "--a\x1b[2Jb" }, Action::BadUsage, { "a\\x1B[2Jb" } },
        CommandLineCase { "EscapedFormat", { "--ip-info-format=\a" }, Action::BadUsage, { "'\\x07'" } },
        CommandLineCase { "EscapedFileName", { "--ip-info-token-file=\a" }, Action::BadUsage, { "'\\x07'" } }),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });

TEST(CliCommandLine, AddressesAndListsInCommandLineOrder)
{
    using Kind = AddressSource::Kind;
    const Parsed parsed = parse({ "81.2.69.1", "-f", "a.txt", "--ip-info-url", "http://x.example/", "-f-",
                                  "2001:67c::1", "--file=b.txt", "--", "-f" });
    ASSERT_EQ(actionOf(parsed), Action::Run) << textOf(parsed).toStdString();
    const QList<AddressSource> expected {
        { Kind::Address, "81.2.69.1" },   { Kind::File, "a.txt" }, { Kind::File, "-" },
        { Kind::Address, "2001:67c::1" }, { Kind::File, "b.txt" }, { Kind::Address, "-f" }
    };
    EXPECT_EQ(parsed->sources, expected);
    EXPECT_EQ(parsed->services.ipApiBatchUrl, QStringLiteral("http://ip-api.com/batch"));
}

class CliConfigurationTest : public vantor::testing::ConfigurationFileTest
{
};

TEST_F(CliConfigurationTest, ListsOfMyAddressServicesAndTheToken)
{
    const QString conf = write("myAddressUrls=https://a.example/#ipv4, https://b.example/#ipv6, http://c.example/\n"
                               "myAddressUrl=http://old.example/\nipInfoFormat=ipinfo\nipInfoToken=fromfile\n");
    const auto parseWith = [&](QStringList arguments) { return parse(arguments, conf); };

    Parsed parsed = parseWith({});
    ASSERT_EQ(actionOf(parsed), Action::Run) << textOf(parsed).toStdString();
    EXPECT_EQ(parsed->services.myAddressUrls,
              (QStringList { "https://a.example/#ipv4", "https://b.example/#ipv6", "http://c.example/" }));
    EXPECT_EQ(parsed->services.ipInfoFormat, IpInfoFormat::IpInfo);
    EXPECT_EQ(parsed->services.ipInfoPrefix, QStringLiteral("https://ipinfo.io/"));
    EXPECT_EQ(parsed->services.ipInfoToken, QStringLiteral("fromfile"));

    // The repeated option replaces the whole list; the token file is read and trimmed.
    const QString tokenFile = write("  0123abcd\n");
    parsed = parseWith({ "--my-address-url", "https://x.example/#ipv6", "--my-address-url=https://y.example/",
                         "--ip-info-token-file", tokenFile, "--own" });
    ASSERT_EQ(actionOf(parsed), Action::Run) << textOf(parsed).toStdString();
    EXPECT_EQ(parsed->services.myAddressUrls, (QStringList { "https://x.example/#ipv6", "https://y.example/" }));
    EXPECT_EQ(parsed->services.ipInfoToken, QStringLiteral("0123abcd"));
    EXPECT_TRUE(parsed->ownOnly);

    // No message ever shows a token.
    const QString badToken = write("secret with spaces\n");
    parsed = parseWith({ "--ip-info-token-file", badToken });
    EXPECT_EQ(actionOf(parsed), Action::BadUsage);
    EXPECT_TRUE(textOf(parsed).contains(QLatin1String("--ip-info-token-file"))) << textOf(parsed).toStdString();
    EXPECT_FALSE(textOf(parsed).contains(QLatin1String("secret"))) << textOf(parsed).toStdString();
    parsed = parseWith({ "--ip-info-token-file", directory.filePath(QStringLiteral("none")) });
    EXPECT_EQ(actionOf(parsed), Action::BadUsage);

    parsed = parseWith({ "--my-address-url", "https://x.example/#v6" });
    EXPECT_EQ(actionOf(parsed), Action::BadUsage);
    EXPECT_TRUE(textOf(parsed).contains(QLatin1String("--my-address-url"))) << textOf(parsed).toStdString();
    EXPECT_EQ(actionOf(parseWith({ "--own", "81.2.69.1" })), Action::BadUsage);
}

TEST_F(CliConfigurationTest, CityDatabasesAreOneOrAListInTheFileAndRepeatedOnTheCommandLine)
{
    const struct
    {
        const char* file; // the ipInfoDatabase line
        QStringList arguments;
        QStringList databases;
    } cases[] = {
        { "ipInfoDatabase=/d/city.mmdb", {}, { "/d/city.mmdb" } },
        { "ipInfoDatabase=/d/v4.mmdb, /d/v6.mmdb", {}, { "/d/v4.mmdb", "/d/v6.mmdb" } },
        { "ipInfoDatabase=\"/d/a,b.mmdb\"", {}, { "/d/a,b.mmdb" } },
        { "ipInfoDatabase=/d/v4.mmdb, /d/v6.mmdb",
          { "--ip-info-database", "/c/v6.mmdb", "--ip-info-database=/c/v4.mmdb" },
          { "/c/v6.mmdb", "/c/v4.mmdb" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Parsed parsed = parse(c.arguments, write(QByteArray("ipInfoFormat=mmdb\n") + c.file + '\n'));
        ASSERT_EQ(actionOf(parsed), Action::Run) << textOf(parsed).toStdString();
        EXPECT_EQ(parsed->services.ipInfoDatabases, c.databases);
    }
}

TEST_F(CliConfigurationTest, TokenFilesAreReadNoFurtherThanTheirBound)
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
        const Parsed parsed = parse({ QStringLiteral("--ip-info-token-file"), c.path });
        EXPECT_EQ(actionOf(parsed), c.read ? Action::Run : Action::BadUsage) << c.name;
        EXPECT_EQ(parsed ? parsed->services.ipInfoToken.size() : 0, c.read ? 4096 : 0) << c.name;
    }
    // A writer that reached its open() only after the last reader was gone waits there for the next one: each
    // reader opened here lets it on, to find none left and end. One that still finds a reader means one was kept.
    const QByteArray path = QFile::encodeName(fifo);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const int reader = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (reader >= 0)
                ::close(reader);
            return writer.state() == QProcess::NotRunning;
        },
        10000));
}

} // namespace

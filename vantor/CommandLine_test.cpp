// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/CommandLine.h"
#include "vantor/testing/CommandLineCases.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

using Parsed = platform::Result<vantor::WindowOptions, vantor::options::Exit>;
using vantor::options::testing::Action;
using vantor::options::testing::actionOf;
using vantor::options::testing::CommandLineCase;

class WindowCommandLineTest : public ::testing::TestWithParam<CommandLineCase>
{
};

TEST_P(WindowCommandLineTest, Answers)
{
    const CommandLineCase& c = GetParam();
    const Parsed parsed = vantor::parseWindowCommandLine(
        QStringList { QStringLiteral("/usr/bin/vantor") } + c.arguments, QStringLiteral("/nonexistent"));
    const QString text = parsed ? QString() : parsed.error().text;
    EXPECT_EQ(actionOf(parsed), c.action) << text.toStdString();
    for (const QString& part : c.inText)
        EXPECT_TRUE(text.contains(part)) << text.toStdString() << "\nlacks " << part.toStdString();
    if (c.action == Action::BadUsage) {
        EXPECT_TRUE(text.startsWith(QLatin1String("vantor: "))) << text.toStdString();
        // Whatever was given, nothing a terminal would act on comes back.
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](QChar c) {
            return c.unicode() < 0x20 && c != QLatin1Char('\n');
        })) << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, WindowCommandLineTest,
    ::testing::Values(
        CommandLineCase { "WindowHelp", { "--help" }, Action::Help, { "Usage: vantor [options]\n", "Formats" } },
        CommandLineCase { "Version", { "--version" }, Action::Version, { "vantor " } },
        CommandLineCase { "UnknownOption", { "--bogus" }, Action::BadUsage, { "bogus" } },
        CommandLineCase { "BadFormat", { "--ip-info-format", "xml" }, Action::BadUsage, { "--ip-info-format", "xml" } },
        CommandLineCase { "WindowTakesNoAddress", { "81.2.69.1" }, Action::BadUsage, { "81.2.69.1" } },
        CommandLineCase { "WindowHasNoJson", { "--json" }, Action::BadUsage, { "json" } },
        CommandLineCase { "QtOptionsReachQt",
                          { "-platform", "offscreen", "-style=fusion", "--reverse", "--ip-info-format", "ip-api" },
                          Action::Run,
                          {} },
        CommandLineCase { "WindowReadsNoList", { "-f", "-" }, Action::BadUsage, {} }),
    [](const ::testing::TestParamInfo<CommandLineCase>& info) { return info.param.name; });

TEST(WindowCommandLine, BadFileValuesWarnAndTheDefaultsStand)
{
    // In the file, a bad item or token warns (without the token) and the defaults stand.
    QTemporaryDir directory;
    const QString badFile = directory.filePath(QStringLiteral("vantor.conf"));
    QFile file(badFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("myAddressUrls=https://a.example/#ipv5\nipInfoToken=\"s e c r e t\"\n");
    file.close();
    const Parsed parsed = vantor::parseWindowCommandLine(QStringList { QStringLiteral("vantor") }, badFile);
    ASSERT_EQ(actionOf(parsed), Action::Run);
    EXPECT_EQ(parsed->services.myAddressUrls, vantor::defaultMyAddressUrls());
    EXPECT_TRUE(parsed->services.ipInfoToken.isEmpty());
    ASSERT_EQ(parsed->warnings.size(), 2) << parsed->warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(parsed->warnings[0].contains(QLatin1String("ipInfoToken")));
    EXPECT_FALSE(parsed->warnings[0].contains(QLatin1String("s e c")));
    EXPECT_TRUE(parsed->warnings[1].contains(QLatin1String("myAddressUrls")));
}

} // namespace

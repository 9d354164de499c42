// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Configuration.h"
#include "vantor/testing/ConfigurationFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using vantor::ServiceSettings;

using vantor::testing::ConfigurationFileTest;

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
    EXPECT_TRUE(warnings[0].startsWith(streamed + QStringLiteral(": holds a serialized value")))
        << qPrintable(warnings[0]);
}

TEST_F(ConfigurationFileTest, WarningsShowTheFilesValuesPrintably)
{
    const QString conf = write("ipInfoFormat=x\x1b[2J\nmyAddressUrls=http://a\x7f/\n");
    QStringList warnings;
    const auto resolved = vantor::resolveServices({}, vantor::readConfigurationFile(conf, &warnings), conf,
                                                  [](vantor::ServiceSetting) { return QString(); });
    ASSERT_TRUE(resolved);
    ASSERT_EQ(resolved->warnings.size(), 2) << resolved->warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(resolved->warnings[0].contains(QLatin1String("'x\\x1B[2J'"))) << resolved->warnings[0].toStdString();
    EXPECT_TRUE(resolved->warnings[1].contains(QLatin1String("'http://a\\x7F/'")))
        << resolved->warnings[1].toStdString();
}

TEST(ConfigurationFile, LivesInTheConfigurationFolder)
{
    EXPECT_EQ(vantor::configurationFilePath(),
              qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/vantor/vantor.conf"));
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowSettings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using ostrel::WindowSettings;

TEST(WindowSettings, EachChoiceKeepsTheOtherAndARefusedOneSaysWhy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ostrel/window.conf"));
    WindowSettings settings(path);
    ASSERT_TRUE(settings.setExtendedTests(true)) << "the folder is made first";
    ASSERT_TRUE(settings.setDiskFolder(dir.path()));
    ASSERT_TRUE(settings.setExtendedTests(false));
    EXPECT_FALSE(settings.extendedTests());
    EXPECT_EQ(settings.diskFolder(), dir.path());

    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.conf"));
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::link(elsewhere, path));
    const platform::FileWrite refused = settings.setExtendedTests(true);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(refused.reason.contains(QStringLiteral("符号链接"))) << refused.reason.toStdString();
    EXPECT_FALSE(QFile::exists(elsewhere));
}

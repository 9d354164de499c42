// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace vantor::testing {

// A test that writes configuration files, each a new one in a folder that goes away with the test.
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

} // namespace vantor::testing

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/IniFile.h"

#include <QFile>
#include <QPoint>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::iniText;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// What the stores hold goes to the file as QSettings itself would write it, so the files look as they always did.
TEST(IniFile, ANewFileIsWhatQSettingsWrites)
{
    const QVariantMap values {
        { "int", 87.5 },
        { "lastTime", 1796565600.123456 },
        { "tiny", 1e-300 },
        { "whole", 3.0 },
        { "huge", 1e21 },
        { "extendedTests", true },
        { "diskFolder", QStringLiteral("/media/数据/Ostrel 测试") },
    };
    QTemporaryDir dir;
    const QString byQSettings = dir.filePath("qsettings.conf");
    {
        QSettings settings(byQSettings, QSettings::IniFormat);
        for (auto value = values.begin(); value != values.end(); ++value)
            settings.setValue(value.key(), value.value());
    }
    EXPECT_EQ(iniText(values), contents(byQSettings));
    EXPECT_EQ(iniText({ { "int", 87.5 } }), "[General]\nint=87.5\n");
}

// Every value goes back to QSettings as it was, however its text is made: each row is one key and its value.
TEST(IniFile, QSettingsReadsBackWhatWasWritten)
{
    const QVariantMap values {
        { "plain", "text" },
        { "nonAscii", QStringLiteral("磁盘 ümlaut ") + QString::fromUcs4(U"\U0001F600", 1) },
        { "quotes", R"(say "hi" ")" },
        { "backslashes", R"(C:\path\ \\x41 \)" },
        { "commas", "a, b,c" },
        { "semicolons", "a;b ; c" },
        { "equals", "a=b==" },
        { "spaces", "  both ends  " },
        { "hash", "#not a comment # either" },
        { "controls",
          QString::fromUtf8("\x01"
                            "1a\tb\nc\rd\x1b[0m\x7f"
                            "f")
              + QChar(0) + QStringLiteral("0") },
        { "empty", "" },
        { "loneSurrogates", QString(QChar(0xde95)) + QStringLiteral("a") + QChar(0xd800) },
        { "at", "@Invalid()" },
        { "atAt", "@@x" },
        { "bytesText", "@ByteArray(x)" },
        { "list", QStringList { "a", " b ", "c,d", "@e", "" } },
        { "bytes",
          QByteArray("\x00\xff"
                     "a\\\"\xc3\xa9,1",
                     9) },
        { "rect", QRect(1, -2, 30, 40) },
        { "size", QSize(5, 6) },
        { "point", QPoint(-7, 8) },
        { "mixed", QVariantList { QByteArray("z"), QStringLiteral("y") } },
        { "group/key", "in [group]" },
        { "group/deeper/key", "in [group] as deeper\\key" },
        { "General/key", "in a section named General" },
        { "GENERAL/key", "in a section named GENERAL" },
        { QStringLiteral("spaced section é/key %20 ü 中"), "keys escaped" },
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("store.conf");
    ASSERT_TRUE(platform::writeIniFile(path, values));
    const QSettings settings(path, QSettings::IniFormat);
    EXPECT_EQ(settings.status(), QSettings::NoError);
    const QStringList keys = values.keys();
    EXPECT_EQ(settings.allKeys(), keys) << contents(path).toStdString();
    for (const QString& key : keys)
        EXPECT_EQ(settings.value(key), values.value(key)) << key.toStdString() << "\n" << contents(path).toStdString();

    // Read back by the stores' own reader, written again: the same text.
    const std::optional<QVariantMap> read = platform::readIniFile(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(iniText(*read), contents(path));
    EXPECT_EQ(platform::readIniFile(dir.filePath("none.conf")), QVariantMap());
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ErrorText.h"
#include "platform/IniFile.h"
#include "platform/UserDefaults.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <cerrno>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using platform::UserDefaults;

namespace {

class UserDefaultsTest : public ::testing::Test
{
protected:
    QString path() const { return dir.filePath(QStringLiteral("app/app.conf")); }

    void writeFile(const QByteArray& contents)
    {
        QDir().mkpath(dir.filePath(QStringLiteral("app")));
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QByteArray readFile() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(UserDefaultsTest, ReadsStoredThenFallbackThenZero)
{
    UserDefaults defaults(path());
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 0.0);

    defaults.registerDefaults({ { QStringLiteral("int"), 3.0 }, { QStringLiteral("pi"), 0.0 } });
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 3.0);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("unknown")), 0.0);

    ASSERT_TRUE(defaults.setDouble(QStringLiteral("int"), 87.5));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 87.5);
}

TEST_F(UserDefaultsTest, FallbacksAreNeverWritten)
{
    UserDefaults defaults(path());
    defaults.registerDefaults({ { QStringLiteral("lastTime"), 0.0 }, { QStringLiteral("disk"), 0.0 } });
    ASSERT_TRUE(defaults.setDouble(QStringLiteral("int"), 1.0));
    const QByteArray file = readFile();
    EXPECT_TRUE(file.contains("int"));
    EXPECT_FALSE(file.contains("lastTime"));
    EXPECT_FALSE(file.contains("disk"));
}

TEST_F(UserDefaultsTest, DoublesSurviveANewStoreExactly)
{
    const double values[] = { 87.5, 1.0 / 3.0, 1796565600.123456, -12.75, 0.0, 1e-300 };
    {
        UserDefaults defaults(path());
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(defaults.setDouble(QStringLiteral("k%1").arg(i), values[i]));
    }
    UserDefaults reopened(path());
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(reopened.doubleForKey(QStringLiteral("k%1").arg(i)), values[i]) << i;
}

TEST_F(UserDefaultsTest, StoredTextThatIsNotANumberReadsAsZero)
{
    writeFile("[General]\nint=abc\ndouble=\npi=@ByteArray(\\x1)\nmemory=1, 2\ndisk=55.5\nlastTime=nan\n");
    UserDefaults defaults(path());
    defaults.registerDefaults({ { QStringLiteral("int"), 9.0 }, { QStringLiteral("double"), 9.0 } });
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 0.0);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("double")), 0.0);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("pi")), 0.0);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("memory")), 0.0);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("disk")), 55.5);
    // "nan" parses as a number; bounding it is the reader's business.
    EXPECT_TRUE(std::isnan(defaults.doubleForKey(QStringLiteral("lastTime"))));
}

TEST_F(UserDefaultsTest, AGarbledFileNeverStopsTheProgram)
{
    writeFile(QByteArray("\x00\xff[[[=\n==\nint\n", 14) + QByteArray(5000, '\xfe'));
    UserDefaults defaults(path());
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 0.0);
    EXPECT_TRUE(defaults.setDouble(QStringLiteral("int"), 42.0));
    EXPECT_EQ(UserDefaults(path()).doubleForKey(QStringLiteral("int")), 42.0);
}

// Values QSettings would rebuild with QDataStream, however escaped: Qt would reserve what such a value names (found
// by fuzzing: a list of 3.3 billion entries). The store reads none of the file and leaves it as it is.
TEST_F(UserDefaultsTest, AFileWithAStreamedValueIsNeitherReadNorRewritten)
{
    const struct
    {
        const char* text;
        bool streamed;
    } cases[] = {
        { "int=1e308\nmemory=@Variant(\\0\\0\\0\\x31\\c8\\0\\0)\n", true },
        { "[General]\nint=\"@Variant(\\0\\0\\0\\x31)\"\n", true },
        { "int=\\x40Variant(\\0)\n", true },
        { "int=\\100\\x56\\141riant(\\0)\n", true },
        { "[other]\nwhen=@DateTime(\\0)\n", true },
        { "int=82.5\ndisk=@ByteArray(abc)\nnote=\"a, b\"\nlastTime=1796707200\n", false },
        { "int=\\x40\\x40Variant\n", false },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::holdsStreamedValue(c.text), c.streamed) << c.text;
        if (!c.streamed)
            continue;
        writeFile(c.text);
        UserDefaults defaults(path());
        defaults.registerDefaults({ { QStringLiteral("int"), 7.0 } });
        EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 7.0) << c.text;
        EXPECT_EQ(defaults.readProblem(), QStringLiteral("文件格式有误")) << c.text;
        EXPECT_FALSE(defaults.setDouble(QStringLiteral("int"), 1.0)) << c.text;
        EXPECT_EQ(platform::errorText(defaults.lastWriteError()), QStringLiteral("文件格式有误"));
        EXPECT_EQ(readFile(), QByteArray(c.text));
    }
}

TEST_F(UserDefaultsTest, ReportsAWriteThatCannotReachTheDisk)
{
    // A folder that cannot exist: its parent is a regular file.
    writeFile("[General]\n");
    UserDefaults defaults(path() + QStringLiteral("/inside/store.conf"));
    EXPECT_FALSE(defaults.setDouble(QStringLiteral("int"), 1.0));
    EXPECT_EQ(defaults.lastWriteError(), ENOTDIR);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 0.0);
    // The file where the store's folder should be: the same reason.
    UserDefaults besideFile(path() + QStringLiteral("/store.conf"));
    EXPECT_FALSE(besideFile.setDouble(QStringLiteral("int"), 1.0));
    EXPECT_EQ(besideFile.lastWriteError(), ENOTDIR);

    UserDefaults writable(path());
    EXPECT_TRUE(writable.setDouble(QStringLiteral("int"), 1.0));
    EXPECT_EQ(writable.lastWriteError(), 0);
}

TEST_F(UserDefaultsTest, KeysTheStoreDoesNotKnowSurviveAWrite)
{
    writeFile("[General]\nnote=\"a, b\"\nint=1\nlist=x, y\n\n[other]\nwhen=\"2024-01-01 \"\n");
    UserDefaults defaults(path());
    ASSERT_TRUE(defaults.setDouble(QStringLiteral("int"), 2.5));
    const QSettings settings(path(), QSettings::IniFormat);
    EXPECT_EQ(settings.value(QStringLiteral("int")).toDouble(), 2.5);
    EXPECT_EQ(settings.value(QStringLiteral("note")), QStringLiteral("a, b"));
    EXPECT_EQ(settings.value(QStringLiteral("list")), (QStringList { "x", "y" }));
    EXPECT_EQ(settings.value(QStringLiteral("other/when")), QStringLiteral("2024-01-01 "));
}

TEST_F(UserDefaultsTest, SaysWhyStoredValuesCannotBeRead)
{
    EXPECT_EQ(UserDefaults(path()).readProblem(), QString()) << "nothing stored yet is no problem";
    writeFile("[General]\nint=3\n");
    EXPECT_EQ(UserDefaults(path()).readProblem(), QString());
    EXPECT_EQ(UserDefaults(path() + QStringLiteral("/x.conf")).readProblem(), platform::errorText(ENOTDIR));
    QFile::remove(path());
    QDir().mkpath(path());
    UserDefaults folder(path());
    EXPECT_EQ(folder.readProblem(), platform::errorText(EISDIR));
    EXPECT_EQ(folder.doubleForKey(QStringLiteral("int")), 0.0) << "read as no results";

    // Neither waited on nor read without end: named, and read as no results; nothing is written through them.
    QDir().rmdir(path());
    for (const auto& [make, words] :
         { std::pair {
               std::function<bool()>([&] { return ::mkfifo(QFile::encodeName(path()).constData(), 0600) == 0; }),
               QStringLiteral("命名管道") },
           std::pair { std::function<bool()>([&] { return QFile::link(QStringLiteral("/dev/zero"), path()); }),
                       QStringLiteral("设备文件") } }) {
        ASSERT_TRUE(make());
        UserDefaults store(path());
        EXPECT_TRUE(store.readProblem().contains(words)) << qPrintable(store.readProblem());
        EXPECT_EQ(store.doubleForKey(QStringLiteral("int")), 0.0);
        EXPECT_FALSE(store.setDouble(QStringLiteral("int"), 1.0));
        ASSERT_TRUE(QFile::remove(path()));
    }
}

TEST_F(UserDefaultsTest, PathIsPerUserAndPerApplication)
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty());
    EXPECT_EQ(UserDefaults::pathFor(QStringLiteral("ostrel")), config + QStringLiteral("/ostrel/ostrel.conf"));
}

TEST_F(UserDefaultsTest, AValueIsOnDiskBeforeTheWriterIsKilled)
{
    UserDefaults defaults(path());
    ASSERT_TRUE(defaults.setDouble(QStringLiteral("double"), 61.25));

    QProcess child;
    child.start(QStringLiteral(DEFAULTS_WRITER),
                { path(), QStringLiteral("set"), QStringLiteral("int"), QStringLiteral("87.5") });
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(child.waitForReadyRead(30000));
    EXPECT_EQ(child.readAll().trimmed(), QByteArray("written"));
    child.kill(); // SIGKILL: nothing is flushed on the way out
    ASSERT_TRUE(child.waitForFinished());

    UserDefaults after(path());
    EXPECT_EQ(after.doubleForKey(QStringLiteral("int")), 87.5);
    EXPECT_EQ(after.doubleForKey(QStringLiteral("double")), 61.25);
}

// Another process's store object decides from the file's size and
// modification time (to the millisecond) whether to read it again, so two
// versions of the file must never share both.
TEST_F(UserDefaultsTest, EachWriteLeavesALaterModificationTime)
{
    UserDefaults defaults(path());
    ASSERT_TRUE(defaults.setDouble(QStringLiteral("int"), 11.5));
    // As if the last write came from a clock ahead of this one.
    const QDateTime ahead = QDateTime::currentDateTimeUtc().addSecs(60);
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(ahead, QFileDevice::FileModificationTime));
    }
    ASSERT_TRUE(defaults.setDouble(QStringLiteral("int"), 22.5)); // same size
    const QDateTime after = QFileInfo(path()).lastModified().toUTC();
    EXPECT_GT(after, ahead);
    EXPECT_LE(after, ahead.addMSecs(1));
    EXPECT_EQ(UserDefaults(path()).doubleForKey(QStringLiteral("int")), 22.5);
}

TEST_F(UserDefaultsTest, ProcessesWritingAtOnceLoseNoKey)
{
    constexpr int kPerWriter = 40;
    QProcess a;
    QProcess b;
    a.start(QStringLiteral(DEFAULTS_WRITER),
            { path(), QStringLiteral("many"), QStringLiteral("a"), QString::number(kPerWriter) });
    b.start(QStringLiteral(DEFAULTS_WRITER),
            { path(), QStringLiteral("many"), QStringLiteral("b"), QString::number(kPerWriter) });
    UserDefaults here(path());
    for (int i = 0; i < kPerWriter; ++i)
        ASSERT_TRUE(here.setDouble(QStringLiteral("c%1").arg(i), i + 0.5));
    ASSERT_TRUE(a.waitForFinished(120000));
    ASSERT_TRUE(b.waitForFinished(120000));
    EXPECT_EQ(a.exitCode(), 0);
    EXPECT_EQ(b.exitCode(), 0);

    UserDefaults after(path());
    after.registerDefaults({});
    int missing = 0;
    for (const char* prefix : { "a", "b", "c" }) {
        for (int i = 0; i < kPerWriter; ++i) {
            if (after.doubleForKey(QLatin1String(prefix) + QString::number(i)) != i + 0.5)
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ErrorText.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::writeWholeFile;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Each entry of the folder: its name, its mode, and what it holds or points to.
QStringList snapshot(const QString& folder)
{
    QStringList entries;
    for (const QFileInfo& info :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        struct stat status
        {
        };
        ::lstat(QFile::encodeName(info.filePath()).constData(), &status);
        const QString inside = S_ISLNK(status.st_mode) ? info.symLinkTarget()
            : S_ISDIR(status.st_mode)                  ? snapshot(info.filePath()).join(QLatin1Char(','))
            : S_ISREG(status.st_mode)                  ? QString::fromUtf8(contents(info.filePath()))
                                                       : QString();
        entries << QStringLiteral("%1 %2 %3").arg(info.fileName()).arg(status.st_mode, 0, 8).arg(inside);
    }
    return entries;
}

} // namespace

TEST(WholeFile, WritesANewFileAndReplacesAnOldOneKeepingItsMode)
{
    QTemporaryDir dir;
    const mode_t umaskBefore = ::umask(027);
    const QString created = dir.filePath(QStringLiteral("new.prom"));
    const platform::Status<platform::FileWriteError> first = writeWholeFile(created, "first\n");
    ::umask(umaskBefore);
    ASSERT_TRUE(first) << first.error().reason.toStdString();
    EXPECT_EQ(contents(created), "first\n");
    struct stat status
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(created).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u) << "0666 less the umask, as any new file";

    const QString old = dir.filePath(QStringLiteral("old.prom"));
    put(old, QByteArray(100000, 'o'));
    ASSERT_EQ(::chmod(QFile::encodeName(old).constData(), 0604), 0);
    const QByteArray bytes(300000, 'n');
    ASSERT_TRUE(writeWholeFile(old, bytes));
    EXPECT_EQ(contents(old), bytes);
    ASSERT_EQ(::stat(QFile::encodeName(old).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0604u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList { "new.prom", "old.prom" }))
        << "no temporary file left";
}

// Whatever stops a write, the folder is left exactly as it was: the old file whole, no temporary file, and nothing
// a link at the path points to created or changed.
TEST(WholeFile, AFailedOrRefusedWriteChangesNothing)
{
    const struct
    {
        const char* name;
        std::function<void(const QDir&)> setUp;
        const char* target; // in the folder; absolute for a path outside it
        int error;
        const char* reason; // part of the reason; errorText(error) when empty
        rlim_t fileSizeLimit = RLIM_INFINITY;
        bool needsPermissions = false;
    } cases[] = {
        { "full disk", [](const QDir& d) { put(d.filePath("ostrel.prom"), "old metrics\n"); }, "ostrel.prom", EFBIG, "",
          4096 },
        { "link to another file",
          [](const QDir& d) {
              put(d.filePath("other.txt"), "precious\n");
              QFile::link("other.txt", d.filePath("link.prom"));
          },
          "link.prom", ELOOP, "符号链接" },
        { "dangling link", [](const QDir& d) { QFile::link("nowhere.txt", d.filePath("dangling.prom")); },
          "dangling.prom", ELOOP, "符号链接" },
        { "FIFO", [](const QDir& d) { ::mkfifo(QFile::encodeName(d.filePath("fifo.prom")).constData(), 0644); },
          "fifo.prom", EINVAL, "命名管道" },
        { "folder",
          [](const QDir& d) {
              d.mkdir("folder.prom");
              put(d.filePath("folder.prom/inside"), "kept\n");
          },
          "folder.prom", EISDIR, "文件夹" },
        { "folder by its trailing slash", [](const QDir& d) { d.mkdir("sub"); }, "sub/", EISDIR, "文件夹" },
        { "device", [](const QDir&) {}, "/dev/null", EINVAL, "设备文件" },
        { "missing folder", [](const QDir&) {}, "missing/ostrel.prom", ENOENT, "" },
        { "unwritable folder",
          [](const QDir& d) {
              put(d.filePath("ostrel.prom"), "old metrics\n");
              ::chmod(QFile::encodeName(d.path()).constData(), 0555);
          },
          "ostrel.prom", EACCES, "", RLIM_INFINITY, true },
    };
    std::signal(SIGXFSZ, SIG_IGN);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsPermissions && ::geteuid() == 0)
            continue; // root writes into any folder
        QTemporaryDir dir;
        c.setUp(QDir(dir.path()));
        const QString target = QString::fromUtf8(c.target);
        const QString path = target.startsWith(QLatin1Char('/')) ? target : dir.filePath(target);
        const QStringList before = snapshot(dir.path());
        struct stat device
        {
        };
        ::lstat("/dev/null", &device);

        // RLIMIT_FSIZE: a write past it fails with EFBIG, as one on a full disk fails with ENOSPC.
        rlimit usual {};
        ::getrlimit(RLIMIT_FSIZE, &usual);
        const rlimit limited { std::min(c.fileSizeLimit, usual.rlim_max), usual.rlim_max };
        ::setrlimit(RLIMIT_FSIZE, &limited);
        const platform::Status<platform::FileWriteError> written = writeWholeFile(path, QByteArray(64 * 1024, 'n'));
        ::setrlimit(RLIMIT_FSIZE, &usual);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().error, c.error) << written.error().reason.toStdString();
        const QString reason = *c.reason ? QString::fromUtf8(c.reason) : platform::errorText(c.error);
        EXPECT_TRUE(written.error().reason.contains(reason)) << written.error().reason.toStdString();
        EXPECT_EQ(snapshot(dir.path()), before);
        struct stat deviceAfter
        {
        };
        ::lstat("/dev/null", &deviceAfter);
        EXPECT_TRUE(S_ISCHR(deviceAfter.st_mode) && deviceAfter.st_ino == device.st_ino);
    }
}

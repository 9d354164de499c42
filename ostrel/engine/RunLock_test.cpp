// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/RunLock.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using ostrel::RunLock;

namespace {

QString ownHolder()
{
    return QStringLiteral("%1 (PID %2)").arg(QString::fromLocal8Bit(program_invocation_short_name)).arg(::getpid());
}

} // namespace

TEST(RunLock, OneHolderAtATimeNamedWhileItHolds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/ostrel-run.lock"));
    {
        RunLock first(path);
        const platform::Status<ostrel::RunLockError> taken = first.tryLock();
        ASSERT_TRUE(taken) << qPrintable(taken.error().message);
        EXPECT_TRUE(first.tryLock());

        // A second open of the file is a second holder, even in this process.
        RunLock second(path);
        const platform::Status<ostrel::RunLockError> refused = second.tryLock();
        ASSERT_FALSE(refused);
        EXPECT_FALSE(second.isLocked());
        EXPECT_EQ(refused.error().kind, ostrel::RunLockError::Kind::Busy);
        EXPECT_TRUE(refused.error().message.isEmpty());
        EXPECT_EQ(second.holder(), ownHolder());

        first.unlock();
        EXPECT_TRUE(second.tryLock());
        EXPECT_FALSE(first.tryLock());
    }
    // Released by the destructor.
    RunLock again(path);
    EXPECT_TRUE(again.tryLock());
}

TEST(RunLock, AKilledHolderReleasesIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ostrel-run.lock"));
    QProcess child;
    child.start(QStringLiteral(RUN_LOCK_HOLDER), { path });
    ASSERT_TRUE(child.waitForReadyRead(30000));
    ASSERT_EQ(child.readLine(), QByteArray("locked\n"));

    RunLock lock(path);
    EXPECT_FALSE(lock.tryLock());
    EXPECT_EQ(lock.holder(), QStringLiteral("run_lock_holder (PID %1)").arg(child.processId()));

    ::kill(pid_t(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_TRUE(lock.tryLock());
}

TEST(RunLock, TheHolderIsNamedOnlyWhenTheFileSaysSoTruly)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ostrel-run.lock"));
    const struct
    {
        QByteArray content;
        QString holder;
    } cases[] = {
        // Left by a process that is gone (PIDs stop far below this).
        { "999999999 ostrel-cli\n", {} },
        { "", {} },
        { "ostrel-cli\n", {} },
        { "-5 ostrel\n", {} },
        { "12x ostrel\n", {} },
        { QByteArray::number(::getpid()) + " " + program_invocation_short_name + "\n", ownHolder() },
        // The kernel's name of the process (15 bytes at most) wins over a wrong one.
        { QByteArray::number(::getpid()) + " ostrel\x1b[2J\n",
          QStringLiteral("%1 (PID %2)")
              .arg(QString::fromLocal8Bit(program_invocation_short_name).left(15))
              .arg(::getpid()) },
    };
    for (const auto& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.content);
        file.close();
        EXPECT_EQ(RunLock(path).holder(), c.holder) << c.content.constData();
    }
}

TEST(RunLock, AFileThatCannotBeMadeSaysWhy)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    RunLock lock(dir.filePath(QStringLiteral("file/ostrel-run.lock")));
    const platform::Status<ostrel::RunLockError> refused = lock.tryLock();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().kind, ostrel::RunLockError::Kind::CannotMake);
    EXPECT_TRUE(refused.error().message.startsWith(dir.filePath(QStringLiteral("file/ostrel-run.lock"))))
        << qPrintable(refused.error().message);
}

TEST(RunLock, InTheRuntimeFolderElseTheCache)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    QTemporaryDir dir;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    EXPECT_EQ(RunLock::defaultPath(), dir.filePath(QStringLiteral("ostrel-run.lock")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("missing"))));
    EXPECT_EQ(RunLock::defaultPath(),
              qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/ostrel/ostrel-run.lock"));
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(RunLock::defaultPath(),
              qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/ostrel/ostrel-run.lock"));
    if (hadRuntime)
        qputenv("XDG_RUNTIME_DIR", runtime);
}

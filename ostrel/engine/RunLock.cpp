// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/engine/RunLock.h"

#include "platform/ErrorText.h"
#include "platform/OutsideFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

const QString kLockFileName = QStringLiteral("ostrel-run.lock");

// Empty when it cannot be read or holds more than a holder's line.
QByteArray readSmallFile(const QString& path)
{
    return platform::readOutsideFile(path, 256).value_or(QByteArray());
}

// Only what a program name can hold, so a damaged file cannot put control
// characters on a terminal or into an alert.
QString programName(const QByteArray& bytes)
{
    QString name = QString::fromUtf8(bytes.trimmed()).left(64);
    name.removeIf([](QChar c) { return !c.isPrint(); });
    return name;
}

} // namespace

QString RunLock::defaultPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(kLockFileName);
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/ostrel/")
        + kLockFileName;
}

RunLock::RunLock(QString path)
    : m_path(std::move(path))
{
}

RunLock::~RunLock()
{
    unlock();
}

platform::Status<RunLockError> RunLock::tryLock()
{
    if (isLocked())
        return platform::Done {};
    const auto cannotMake = [this](int error) {
        return RunLockError { RunLockError::Kind::CannotMake,
                              QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(m_path),
                                                           platform::errorText(error)) };
    };
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Close-on-exec: a program the run starts must not keep the lock alive
    // after this process has gone.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return cannotMake(errno);
    // A FIFO or a device in its place is no lock of ours.
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        ::close(fd);
        return RunLockError { RunLockError::Kind::CannotMake,
                              QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(m_path),
                                                           S_ISREG(info.st_mode)
                                                               ? platform::errorText(error)
                                                               : platform::notRegularFileReason(info.st_mode)) };
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK)
            return cannotMake(error);
        return RunLockError { RunLockError::Kind::Busy, {} };
    }
    m_fd = fd;
    m_lockedAt = std::chrono::system_clock::now();
    const QByteArray who = QByteArray::number(qint64(::getpid())) + ' ' + program_invocation_short_name + '\n';
    // Naming the holder is a courtesy: the lock holds without it.
    if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
        const ssize_t written = ::pwrite(fd, who.constData(), size_t(who.size()), 0);
    return platform::Done {};
}

void RunLock::unlock()
{
    if (!isLocked())
        return;
    [[maybe_unused]] const int emptied = ::ftruncate(m_fd, 0);
    ::close(m_fd);
    m_fd = -1;
}

QString RunLock::holder() const
{
    return holderFrom(readSmallFile(m_path));
}

QString RunLock::holderFrom(const QByteArray& content)
{
    const qsizetype gap = content.indexOf(' ');
    bool isNumber = false;
    const qint64 pid = content.left(gap).toLongLong(&isNumber);
    if (gap <= 0 || !isNumber || pid <= 0)
        return {};
    QString name = programName(content.mid(gap + 1));
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    if (QFileInfo::exists(QStringLiteral("/proc/self"))) {
        // A holder that died leaves its name behind until the next one
        // writes its own.
        if (!QFileInfo::exists(proc))
            return {};
        // The kernel's name (at most 15 bytes) wins over a file that
        // disagrees with it.
        const QString comm = programName(readSmallFile(proc + QStringLiteral("/comm")));
        if (!comm.isEmpty() && !name.startsWith(comm))
            name = comm;
    }
    if (name.isEmpty())
        return QStringLiteral("PID %1").arg(pid);
    return QStringLiteral("%1 (PID %2)").arg(name).arg(pid);
}

} // namespace ostrel

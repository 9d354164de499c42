// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/OutsideFile.h"

#include "platform/ErrorText.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

FileReadError failed(int error)
{
    return { error, errorText(error) };
}

FileReadError tooLarge()
{
    return { EFBIG, QStringLiteral("文件太大") };
}

} // namespace

QString notRegularFileReason(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISLNK(mode))
        return QStringLiteral("这是一个符号链接，不是普通文件");
    if (S_ISDIR(mode))
        return QStringLiteral("这是一个文件夹，不是普通文件");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("这是一个设备文件，不是普通文件");
    if (S_ISFIFO(mode))
        return QStringLiteral("这是一个命名管道，不是普通文件");
    if (S_ISSOCK(mode))
        return QStringLiteral("这是一个套接字，不是普通文件");
    return QStringLiteral("这不是普通文件");
}

Result<FileDescriptor, FileReadError> openOutsideFile(const QString& path, FileKinds kinds)
{
    if (path.isEmpty())
        return failed(ENOENT);
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer, and a device may wait too.
    FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.isOpen())
        return failed(errno);
    struct stat info = {};
    if (::fstat(file.get(), &info) != 0)
        return failed(errno);
    const bool accepted = S_ISREG(info.st_mode) || (kinds == FileKinds::RegularFileOrFifo && S_ISFIFO(info.st_mode));
    if (!accepted)
        return FileReadError { S_ISDIR(info.st_mode) ? EISDIR : EINVAL, notRegularFileReason(info.st_mode) };
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        return failed(errno);
    return file;
}

Result<QByteArray, FileReadError> readBounded(int fd, qint64 bound)
{
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > bound)
        return tooLarge();
    // A FIFO that no writer has opened yet reads as ended; poll() waits for the first one.
    if (S_ISFIFO(info.st_mode)) {
        pollfd input { fd, POLLIN, 0 };
        while (::poll(&input, 1, -1) < 0) {
            if (errno != EINTR)
                return failed(errno);
        }
    }
    // The size a file system tells may be wrong (/proc says 0): read one byte past the bound to know.
    QByteArray bytes;
    constexpr qint64 kStep = 64 * 1024;
    for (;;) {
        const qint64 wanted = std::min(kStep, bound + 1 - bytes.size());
        if (wanted <= 0)
            return tooLarge();
        const qsizetype start = bytes.size();
        bytes.resize(start + wanted);
        const ssize_t got = ::read(fd, bytes.data() + start, std::size_t(wanted));
        if (got < 0 && errno == EINTR) {
            bytes.resize(start);
            continue;
        }
        if (got < 0)
            return failed(errno);
        bytes.resize(start + got);
        if (got == 0)
            return bytes;
    }
}

Result<QByteArray, FileReadError> readOutsideFile(const QString& path, qint64 bound)
{
    const Result<FileDescriptor, FileReadError> file = openOutsideFile(path);
    if (!file)
        return file.error();
    return readBounded(file->get(), bound);
}

} // namespace platform

// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/WholeFile.h"

#include "platform/ErrorText.h"
#include "platform/FileDescriptor.h"
#include "platform/OutsideFile.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

FileWriteError failed(int error)
{
    return { error, errorText(error) };
}

// What stands at the path when it is not a regular file; nothing for a regular file.
std::optional<FileWriteError> refusal(mode_t mode)
{
    if (S_ISREG(mode))
        return std::nullopt;
    return FileWriteError { S_ISLNK(mode) ? ELOOP : S_ISDIR(mode) ? EISDIR : EINVAL, notRegularFileReason(mode) };
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

bool syncFile(int fd)
{
    int result;
    do {
        result = ::fsync(fd);
    } while (result < 0 && errno == EINTR);
    return result == 0;
}

// A name for the temporary file that no one else could have chosen: hidden, so that a reader of the folder that
// takes files by their ending (node_exporter takes *.prom) never sees a half-written one, and short enough for
// NAME_MAX however long the file's own name is.
QByteArray temporaryName(const QByteArray& name)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray temporary = '.' + name.left(200) + '.';
    for (int i = 0; i < 8; ++i)
        temporary += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return temporary;
}

} // namespace

Status<FileWriteError> writeWholeFile(const QString& path, const QByteArray& bytes)
{
    if (path.isEmpty())
        return failed(ENOENT);
    const QByteArray encoded = QFile::encodeName(path);
    const qsizetype slash = encoded.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : encoded.left(slash);
    const QByteArray name = encoded.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return *refusal(S_IFDIR);

    // Every step works in this folder, so one that another process renames meanwhile cannot send the file
    // elsewhere. The folder itself may be a link: only the last component is the file.
    const FileDescriptor folder(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return failed(errno);

    struct stat old
    {
    };
    bool replacing = true;
    if (::fstatat(folder.get(), name.constData(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            return failed(errno);
        replacing = false;
    } else if (std::optional<FileWriteError> refused = refusal(old.st_mode)) {
        return *std::move(refused);
    }

    QByteArray temporary;
    FileDescriptor file;
    for (int attempt = 0; attempt < 100 && file.get() < 0; ++attempt) {
        temporary = temporaryName(name);
        // A new file gets what any new file gets; a replaced one its old permissions, set below.
        file.reset(::openat(folder.get(), temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            replacing ? 0600 : 0666));
        if (file.get() < 0 && errno != EEXIST)
            return failed(errno);
    }
    if (file.get() < 0)
        return failed(EEXIST);

    std::optional<FileWriteError> problem;
    // Without set-user-ID, set-group-ID and sticky bits: they were given to what the old file held.
    if (replacing && ::fchmod(file.get(), old.st_mode & 0777) != 0)
        problem = failed(errno);
    // A full disk shows in write() or, when the file system allocates late, only in fsync().
    else if (!writeAll(file.get(), bytes) || !syncFile(file.get()))
        problem = failed(errno);
    if (file.close() != 0 && !problem)
        problem = failed(errno);
    // Whatever came to the path meanwhile is checked again; rename() itself never follows a link.
    if (!problem) {
        struct stat now
        {
        };
        if (::fstatat(folder.get(), name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0)
            problem = refusal(now.st_mode);
        else if (errno != ENOENT)
            problem = failed(errno);
    }
    if (!problem && ::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0)
        problem = failed(errno);
    if (problem) {
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return *std::move(problem);
    }
    // The rename reaches the disk only once the folder holding it is synced; some file systems cannot sync a
    // folder (EINVAL), and there the rename is as safe as they make it. Any other failure is reported, though the
    // new file is in place by now: it may not survive a crash.
    if (!syncFile(folder.get()) && errno != EINVAL)
        return failed(errno);
    return Done {};
}

} // namespace platform

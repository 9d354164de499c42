// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileDescriptor.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace platform {

// Why a file from outside (settings, a kernel file, a database, a list, a document) cannot be read.
struct FileReadError
{
    // The error number: ENOENT when nothing is at the path, EFBIG when it holds more than the reader's bound,
    // EISDIR or EINVAL for what stands at the path instead of a file.
    int error = 0;
    // Why, for a user, without the path.
    QString reason;
};

// What may stand at the path besides a regular file.
enum class FileKinds {
    RegularFile,
    // A regular file, or a FIFO read as it comes (a list of lines); a socket cannot be opened by name.
    RegularFileOrFifo,
};

// The words for what stands at a path instead of a regular file (a folder, a device, a FIFO, a socket, a link);
// empty for a regular file.
QString notRegularFileReason(mode_t mode);

// The file at path opened for reading, or why not. The open never waits: a FIFO without a writer or a device that
// blocks in open() cannot hold the program up, and anything but the kinds asked for is refused before a byte is
// read. The descriptor returned reads in the ordinary, blocking way; a FIFO's reader polls it first.
Result<FileDescriptor, FileReadError> openOutsideFile(const QString& path, FileKinds kinds = FileKinds::RegularFile);

// The whole regular file at path, read no further than one byte past `bound`: EFBIG when it holds more (also a
// /proc file whose size the kernel does not tell).
Result<QByteArray, FileReadError> readOutsideFile(const QString& path, qint64 bound);

// The same for a descriptor already open, from where it stands; a FIFO is read once its first writer came, until
// the last one closes it.
Result<QByteArray, FileReadError> readBounded(int fd, qint64 bound);

} // namespace platform

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QString>

namespace platform {

// Why a whole file was not written.
struct FileWriteError
{
    // The error number (errno) of the step that failed.
    int error = 0;
    // Why, for a user, without the path: errorText(error), or what stands at the path instead of a file.
    QString reason;
};

// Puts bytes in the file at path, whole or not at all: they go to a new temporary file in the same folder, are
// written and synced (every error checked), and only then renamed over the path, the folder synced after. On any
// failure before the rename the old file stays as it was and no temporary file is left; a failure to sync the folder
// after it is reported too.
//
// Only a regular file is replaced: a symbolic link (dangling or not), a device, a FIFO, a socket or a folder at the
// path is refused, and no link is followed at the path's last component, so nothing but that path ever changes.
// A replaced file keeps its permissions (read, write, execute); a new one gets 0666 less the umask.
Status<FileWriteError> writeWholeFile(const QString& path, const QByteArray& bytes);

} // namespace platform

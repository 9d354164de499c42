// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::testing {

// Writes a fuzz input into one file per process, named after `stem`, each input with a later modification time
// than the one before: QSettings rereads a file whose time has changed, and a cache that does not grow keeps
// libFuzzer's leak check quiet. Returns the file's path, or an empty text when it cannot be written.
inline QString writeFuzzedFile(const char* stem, const std::uint8_t* data, std::size_t size)
{
    static long long version = 0;
    const QString path = QDir::temp().filePath(QStringLiteral("%1-%2.conf").arg(QLatin1String(stem)).arg(::getpid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        return {};
    file.close();
    ++version;
    const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t(1000000000 + version), 0 } };
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    return path;
}

} // namespace platform::testing

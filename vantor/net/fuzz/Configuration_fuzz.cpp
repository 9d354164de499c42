// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as Vantor's configuration file: read and resolved into services as a launch does.
#include "vantor/net/Configuration.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One file for every input, each written with a later modification time than the one before: QSettings
    // rereads a file whose time has changed, and a cache that does not grow keeps libFuzzer's leak check quiet.
    static const QString path = QDir::temp().filePath(QStringLiteral("vantor-fuzz-%1.conf").arg(::getpid()));
    static long long version = 0;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    ++version;
    const struct timespec times[2] = { { 0, UTIME_OMIT }, { time_t(1000000000 + version), 0 } };
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    QStringList warnings;
    const vantor::ServiceSettings settings = vantor::readConfigurationFile(path, &warnings);
    const vantor::ResolvedServices resolved = vantor::resolveServices({}, settings, path);
    // The file alone never makes a command-line error.
    if (!resolved.error.isEmpty())
        __builtin_trap();
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as Vantor's configuration file: read and resolved into services as a launch does.
#include "vantor/net/Configuration.h"

#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A new name for every input: QSettings keeps what it read of a file by name for the process's lifetime.
    static int counter = 0;
    const QString path = QDir::temp().filePath(QStringLiteral("vantor-fuzz-%1-%2.conf").arg(::getpid()).arg(++counter));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    QStringList warnings;
    const vantor::ServiceSettings settings = vantor::readConfigurationFile(path, &warnings);
    const vantor::ResolvedServices resolved = vantor::resolveServices({}, settings, path);
    // The file alone never makes a command-line error.
    if (!resolved.error.isEmpty())
        __builtin_trap();
    QFile::remove(path);
    return 0;
}

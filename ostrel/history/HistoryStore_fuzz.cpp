// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the history database: opened, migrated when old, and every run read back, as the history window
// and ostrel-cli --history do.
#include "ostrel/history/HistoryStore.h"

#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = QDir::temp().filePath(QStringLiteral("ostrel-fuzz-%1.sqlite").arg(::getpid()));
    for (const char* suffix : { "", "-wal", "-shm" })
        QFile::remove(path + QLatin1String(suffix));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    {
        // No waiting: nothing else holds this file.
        ostrel::history::HistoryStore store(path, { std::chrono::milliseconds(0) });
        (void)store.runs();
    }
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For tests: what was printed into a temporary file standing in for a stream.

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace ostrel::cli::testing {

// Everything written to `file` so far, as UTF-8 text.
inline QString readAll(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, qsizetype(n));
    return QString::fromUtf8(bytes);
}

} // namespace ostrel::cli::testing

// SPDX-License-Identifier: GPL-3.0-or-later
// Any command line of vantor and vantor-cli: the bytes are the arguments, separated by NUL bytes.
#include "vantor/CommandLine.h"
#include "vantor/cli/CommandLine.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList arguments { QStringLiteral("vantor") };
    for (const QByteArray& argument : QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    // No configuration file: only the command line is read.
    const QString noFile = QStringLiteral("/nonexistent/vantor.conf");
    (void)vantor::parseWindowCommandLine(arguments, noFile);
    (void)vantor::cli::parseCliCommandLine(arguments, noFile);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Any command line of ostrel-cli: the bytes are the arguments, separated by NUL bytes.
#include "ostrel/cli/CommandLine.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList arguments { QStringLiteral("ostrel-cli") };
    for (const QByteArray& argument : QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    const auto parsed = ostrel::cli::parseArguments(arguments);
    // Arguments that were refused leave nothing to act on but the reason.
    if (!parsed && parsed.error().text.trimmed().isEmpty())
        __builtin_trap();
    return 0;
}

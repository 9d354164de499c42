// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as Vantor's configuration file: read and resolved into services as a launch does.
#include "vantor/net/Configuration.h"

#include "platform/testing/FuzzedFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = platform::testing::writeFuzzedFile("vantor-fuzz", data, size);
    if (path.isEmpty())
        return 0;
    QStringList warnings;
    const vantor::ServiceSettings settings = vantor::readConfigurationFile(path, &warnings);
    const vantor::ResolvedServices resolved = vantor::resolveServices({}, settings, path);
    // The file alone never makes a command-line error.
    if (!resolved.error.isEmpty())
        __builtin_trap();
    return 0;
}

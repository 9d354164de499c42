// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as Vantor's configuration file: read and resolved into services as a launch does.
#include "platform/testing/FuzzedFile.h"
#include "vantor/net/Configuration.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = platform::testing::writeFuzzedFile("vantor-fuzz", data, size);
    if (path.isEmpty())
        return 0;
    QStringList warnings;
    const vantor::ServiceSettings settings = vantor::readConfigurationFile(path, &warnings);
    const auto resolved
        = vantor::resolveServices({}, settings, path, [](vantor::ServiceSetting) { return QStringLiteral("option"); });
    // The file alone never makes a command-line error.
    if (!resolved)
        __builtin_trap();
    return 0;
}

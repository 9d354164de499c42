// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/BundledDatabases.h"

#include <QStandardPaths>

namespace vantor {

BundledDatabases bundledDatabases()
{
    const auto find = [](const char* name) {
        return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString::fromLatin1(name));
    };
    return { find(kBundledCountryDatabase), find(kBundledAsnDatabase) };
}

} // namespace vantor

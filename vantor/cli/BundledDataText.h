// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/BundledDatabases.h"

#include <QString>

namespace vantor::cli {

// What --version says after the version about the databases the vantor-ip-data package installs: when each found
// was built (its build_epoch, as YYYY-MM-DD in UTC) and whose data they hold, under which licences; or that none is
// installed. No path: the manual page is made from this text on the build machine.
QString bundledDataText(const BundledDatabases& found);

} // namespace vantor::cli

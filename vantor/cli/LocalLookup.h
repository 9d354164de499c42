// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/IpDatabase.h"

namespace vantor::cli {

struct Run;

// A local database needs no network and answers at once: the entries are read in batches and looked up on as many
// threads as the CPUs this process may run on, the answers written in the input's order; nothing is kept but the
// few batches under way. Input that is not at hand yet never holds back the answers before it.
int lookUpLocally(const IpDatabases& databases, Run& run);

} // namespace vantor::cli

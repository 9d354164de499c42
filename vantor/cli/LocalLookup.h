// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"

namespace vantor::cli {

struct Run;

// A local database needs no network and answers at once: each entry is looked up as it is read, nothing is kept.
int lookUpLocally(const ServiceConfig& services, Run& run);

} // namespace vantor::cli

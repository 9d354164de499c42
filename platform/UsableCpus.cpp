// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UsableCpus.h"

#include <algorithm>
#include <sched.h>

namespace platform {

int usableCpuCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

} // namespace platform

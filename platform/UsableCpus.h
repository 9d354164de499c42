// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// The number of CPUs the calling thread may run on (its affinity, not the machine's count), at least 1: the
// benchmark's multicore threads and vantor-cli's lookup threads.
int usableCpuCount();

} // namespace platform

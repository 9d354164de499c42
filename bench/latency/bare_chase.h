// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// A pointer chase the way a plain C program writes it: a buffer of `bytes` aligned to 2 MiB with MADV_HUGEPAGE,
// written first, one pointer per 64-byte line in one random cycle (Sattolo's shuffle) or, when `sequential`, in
// address order; 16 dependent loads a loop step; a first pass of 8192 loads that tells how many loads fill
// `pass_seconds` (within least_loads and most_loads), then `passes` timed passes, the best counting; the thread on
// the CPU it runs on meanwhile. Returns nanoseconds a load, or -1 when the memory cannot be had; *on_cpu_share is
// the thread's CPU time over the wall time of the timed passes.
double bare_chase_ns(size_t bytes, int sequential, double pass_seconds, long least_loads, long most_loads, int passes,
                     double* on_cpu_share);

#ifdef __cplusplus
}
#endif

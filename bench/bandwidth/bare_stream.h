// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// STREAM's copy and triad over three arrays of n doubles on `threads` OpenMP threads, the way a plain C program
// writes them: first touch, one untimed pass of each, then `passes` rounds of both, each kernel's best pass giving
// its rate in 10^9 bytes a second. Returns 0, or -1 when the arrays could not be had or the results are wrong.
int bare_stream(long n, int threads, int passes, double* copy_gbps, double* triad_gbps);

#ifdef __cplusplus
}
#endif

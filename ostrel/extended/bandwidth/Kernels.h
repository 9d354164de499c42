// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

namespace ostrel::bandwidth {

// STREAM's loops on `threads` OpenMP threads. Every loop splits the indices the same way (a static schedule of
// equal contiguous parts), so each thread works on the pages it touched first in fillArrays().

// a[i] = 0, b[i] = bValue, c[i] = cValue.
void fillArrays(double* a, double* b, double* c, std::ptrdiff_t n, double bValue, double cValue, int threads);
// a[i] = b[i]
void copyKernel(double* a, const double* b, std::ptrdiff_t n, int threads);
// a[i] = b[i] + q * c[i]
void triadKernel(double* a, const double* b, const double* c, double q, std::ptrdiff_t n, int threads);

} // namespace ostrel::bandwidth

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ostrel/extended/bandwidth/Kernels.h"

namespace ostrel::bandwidth {

void fillArrays(double* a, double* b, double* c, std::ptrdiff_t n, double bValue, double cValue, int threads)
{
#pragma omp parallel for schedule(static) num_threads(threads)
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        a[i] = 0.0;
        b[i] = bValue;
        c[i] = cValue;
    }
}

void copyKernel(double* a, const double* b, std::ptrdiff_t n, int threads)
{
#pragma omp parallel for schedule(static) num_threads(threads)
    for (std::ptrdiff_t i = 0; i < n; ++i)
        a[i] = b[i];
}

void triadKernel(double* a, const double* b, const double* c, double q, std::ptrdiff_t n, int threads)
{
#pragma omp parallel for schedule(static) num_threads(threads)
    for (std::ptrdiff_t i = 0; i < n; ++i)
        a[i] = b[i] + q * c[i];
}

} // namespace ostrel::bandwidth

// SPDX-License-Identifier: GPL-3.0-or-later
#include "bare_stream.h"

#include <math.h>
#include <stdlib.h>
#include <time.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int bare_stream(long n, int threads, int passes, double* copy_gbps, double* triad_gbps)
{
    const size_t bytes = ((size_t)n * sizeof(double) + 63) / 64 * 64;
    double* a = aligned_alloc(64, bytes);
    double* b = aligned_alloc(64, bytes);
    double* c = aligned_alloc(64, bytes);
    const double q = 3.0;
    double copy_best = INFINITY;
    double triad_best = INFINITY;
    int ok = a && b && c;
    if (ok) {
#pragma omp parallel for schedule(static) num_threads(threads)
        for (long i = 0; i < n; ++i) {
            a[i] = 0.0;
            b[i] = 1.0;
            c[i] = 2.0;
        }
        for (int pass = -1; pass < passes; ++pass) {
            double start = now();
#pragma omp parallel for schedule(static) num_threads(threads)
            for (long i = 0; i < n; ++i)
                a[i] = b[i];
            const double copy_time = now() - start;
            start = now();
#pragma omp parallel for schedule(static) num_threads(threads)
            for (long i = 0; i < n; ++i)
                a[i] = b[i] + q * c[i];
            const double triad_time = now() - start;
            // Pass -1 warms up.
            if (pass >= 0) {
                copy_best = fmin(copy_best, copy_time);
                triad_best = fmin(triad_best, triad_time);
            }
        }
        ok = a[0] == 7.0 && a[n / 2] == 7.0 && a[n - 1] == 7.0;
        *copy_gbps = 2.0 * sizeof(double) * (double)n / copy_best / 1e9;
        *triad_gbps = 3.0 * sizeof(double) * (double)n / triad_best / 1e9;
    }
    free(a);
    free(b);
    free(c);
    return ok ? 0 : -1;
}

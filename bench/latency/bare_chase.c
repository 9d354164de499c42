// SPDX-License-Identifier: GPL-3.0-or-later
#define _GNU_SOURCE
#include "bare_chase.h"

#include <math.h>
#include <sched.h>
#include <stdint.h>
#include <sys/mman.h>
#include <time.h>

#define LINE 64
#define HUGE_PAGE ((size_t)2 << 20)

struct line
{
    struct line* next;
    char padding[LINE - sizeof(struct line*)];
};

static double seconds(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static double now(void)
{
    return seconds(CLOCK_MONOTONIC);
}

static uint64_t splitmix(uint64_t* state)
{
    uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

static struct line* walk(struct line* p, long loads)
{
    for (long i = 0; i < loads; i += 16) {
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
        p = p->next;
    }
    return p;
}

static struct line* volatile sink;

double bare_chase_ns(size_t bytes, int sequential, double pass_seconds, long least_loads, long most_loads, int passes,
                     double* on_cpu_share)
{
    const size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    char* mapping = mmap(NULL, rounded + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return -1.0;
    struct line* lines = (struct line*)(((uintptr_t)mapping + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE);
    madvise(lines, rounded, MADV_HUGEPAGE);
    for (size_t i = 0; i < rounded / LINE; ++i)
        lines[i].next = &lines[i];

    cpu_set_t before, one;
    const int pinned = sched_getaffinity(0, sizeof before, &before) == 0 && sched_getcpu() >= 0;
    if (pinned) {
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
    }

    const size_t count = bytes / LINE;
    if (sequential) {
        for (size_t i = 0; i < count; ++i)
            lines[i].next = &lines[(i + 1) % count];
    } else {
        uint64_t state = bytes;
        for (size_t i = count - 1; i > 0; --i) {
            const size_t j = (size_t)(((unsigned __int128)splitmix(&state) * i) >> 64);
            struct line* swap = lines[i].next;
            lines[i].next = lines[j].next;
            lines[j].next = swap;
        }
    }

    struct line* p = lines;
    double start = now();
    p = walk(p, 8192);
    const double per_load = fmax(1e-12, (now() - start) / 8192.0);
    long loads = (long)fmin(pass_seconds / per_load, (double)most_loads);
    loads = (loads + 15) / 16 * 16;
    if (loads < least_loads)
        loads = least_loads;
    double best = INFINITY;
    double wall = 0.0;
    double cpu = 0.0;
    for (int pass = 0; pass < passes; ++pass) {
        const double cpu_start = seconds(CLOCK_THREAD_CPUTIME_ID);
        start = now();
        p = walk(p, loads);
        const double took = now() - start;
        cpu += seconds(CLOCK_THREAD_CPUTIME_ID) - cpu_start;
        wall += took;
        best = fmin(best, took);
    }
    *on_cpu_share = wall > 0.0 ? fmin(1.0, cpu / wall) : 1.0;
    sink = p;

    if (pinned)
        sched_setaffinity(0, sizeof before, &before);
    munmap(mapping, rounded + HUGE_PAGE);
    return best / (double)loads * 1e9;
}

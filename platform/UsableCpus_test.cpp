// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/UsableCpus.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <thread>

namespace {

// The count follows the thread's affinity, not the machine: a thread held to one CPU counts one.
TEST(UsableCpus, FollowsTheAffinity)
{
    cpu_set_t all;
    CPU_ZERO(&all);
    ASSERT_EQ(::sched_getaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(platform::usableCpuCount(), CPU_COUNT(&all));

    int heldToOne = 0;
    std::thread([&] {
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &all)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        if (::sched_setaffinity(0, sizeof one, &one) == 0)
            heldToOne = platform::usableCpuCount();
    }).join();
    EXPECT_EQ(heldToOne, 1);
}

} // namespace

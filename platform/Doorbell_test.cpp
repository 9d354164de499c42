// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Doorbell.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using platform::Doorbell;

namespace {

// Handles events until done() or a generous deadline; returns done().
template <class Done>
bool processEventsUntil(Done done)
{
    QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

} // namespace

TEST(Doorbell, RingsFromAnotherThreadCoalesceIntoOneAnswer)
{
    int answers = 0;
    Doorbell bell([&] { ++answers; });
    std::thread ringer([&] {
        for (int i = 0; i < 1000; ++i)
            bell.ring();
    });
    ringer.join();
    EXPECT_TRUE(processEventsUntil([&] { return answers > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(answers, 1);

    // Answered rings leave the bell ready for the next one.
    std::thread again([&] { bell.ring(); });
    again.join();
    EXPECT_TRUE(processEventsUntil([&] { return answers == 2; }));
}

TEST(Doorbell, WhilePollingRingsAreAnsweredOnTheTimer)
{
    std::atomic<int> value { 0 };
    int seen = -1;
    Doorbell bell([&] { seen = value.load(); }, std::chrono::milliseconds(5));
    bell.beginPolling();
    EXPECT_TRUE(bell.isPolling());

    std::thread writer([&] {
        for (int i = 1; i <= 50; ++i) {
            value = i;
            bell.ring();
        }
    });
    writer.join();
    EXPECT_TRUE(processEventsUntil([&] { return seen == 50; }));

    // The last ring before the polling ends is answered all the same.
    std::thread ender([&] {
        value = 51;
        bell.ring();
        bell.endPolling();
    });
    ender.join();
    EXPECT_FALSE(bell.isPolling());
    EXPECT_TRUE(processEventsUntil([&] { return seen == 51; }));

    // And rings after it wake the thread again.
    std::thread later([&] {
        value = 52;
        bell.ring();
    });
    later.join();
    EXPECT_TRUE(processEventsUntil([&] { return seen == 52; }));
}

TEST(Doorbell, PollingEndsOnlyWhenEveryPollerHasEnded)
{
    int answers = 0;
    Doorbell bell([&] { ++answers; }, std::chrono::milliseconds(5));
    bell.beginPolling();
    bell.beginPolling();
    bell.endPolling();
    EXPECT_TRUE(bell.isPolling());
    bell.endPolling();
    EXPECT_FALSE(bell.isPolling());
}

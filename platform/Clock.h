// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// A source of seconds. The benchmark times its stages on a monotonic clock,
// so that a step of the wall clock (NTP, the user) cannot bend a score, and
// keeps the wall clock for the time of a run.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

// Seconds since an arbitrary start; never steps backwards.
class MonotonicClock final : public Clock
{
public:
    double now() const override;
};

// Seconds since 1970-01-01 00:00:00 UTC, with their fraction.
class WallClock final : public Clock
{
public:
    double now() const override;
};

} // namespace platform

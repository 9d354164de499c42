// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Fetch.h"
#include "vantor/net/IpInfo.h"

#include <QString>
#include <cstdint>

namespace vantor::cli {

// Every way a lookup can fail; None for an address that got its rows.
enum class FailureKind : std::uint8_t {
    None,
    Rejected,
    RateLimited,
    Unreadable,
    TokenRefused,
    NotFound,
    TimedOut,
    Refused,
    Reset,
    HostNotFound,
    Insecure,
};

// How a failure shows: its name in the JSON report and the CSV's status, its text on standard error (the window's
// alert as one line) and the exit status it gives.
struct Failure
{
    const char* error;
    const char16_t* message;
    int exitStatus;
};

const Failure& failure(FailureKind kind);
FailureKind failureOf(IpInfoAnswer::Kind kind);
// The failure of a request that got no answer at all.
FailureKind failureOf(FetchFailure::Kind kind);

// What became of one address: rows, or why there are none.
struct Outcome
{
    FailureKind failure = FailureKind::None;
    IpInfoAnswer answer = {};
    QString reason = {}; // follows the failure's text, e.g. why a certificate was refused
    bool reported = false; // nothing more to say on standard error about it
};

} // namespace vantor::cli

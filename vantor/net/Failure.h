// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Fetch.h"
#include "vantor/net/IpInfo.h"

#include <QString>
#include <cstdint>

namespace vantor {

// The exit statuses of vantor-cli that a lookup's failure gives.
inline constexpr int kExitAnswered = 0;
inline constexpr int kExitNotAnswered = 1; // rejected, unreadable, rate-limited or not in the database
inline constexpr int kExitNoNetwork = 3; // wins over kExitNotAnswered

// Every way a lookup can fail; None for an address that got its rows.
enum class FailureKind : std::uint8_t {
    None,
    Rejected,
    Unreadable,
    RateLimited,
    TokenRefused,
    NotFound,
    Unavailable, // the local database cannot be used
    TimedOut,
    Refused,
    Reset,
    HostNotFound,
    Insecure,
};

// How a failure shows, one row per kind in FailureKind's order: the window's alert, vantor-cli's line on standard
// error, its name in the JSON report and the CSV's status, and vantor-cli's exit status. The line on standard error is
// the alert's title and text joined by ": ", unless the row words it otherwise for the terminal.
struct Failure
{
    FailureKind kind;
    const char16_t* title; // the alert's
    const char16_t* text; // the alert's; null when the failure's reason is the text
    const char16_t* terminalTitle; // null: the alert's
    const char16_t* terminalText; // null: the alert's
    const char* error;
    int exitStatus;
    const char* errorNote = nullptr; // what vantor-cli's help says of the error's name
};

// The rows' error names for a sentence, each once and with its note: "rejected, unreadable, …, network or insecure
// (…)".
QString errorNameList();

const Failure& failure(FailureKind kind);
FailureKind failureOf(IpInfoAnswer::Kind kind);
// The failure of a request that got no answer at all.
FailureKind failureOf(FetchFailure::Kind kind);

// The alert's text: the row's, or the reason when the row has none.
QString alertText(const Failure& failure, const QString& reason);
// vantor-cli's line on standard error without the program's name and the address; a reason follows it.
QString terminalMessage(const Failure& failure);

} // namespace vantor

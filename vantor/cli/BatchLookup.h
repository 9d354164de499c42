// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"

#include <QStringList>
#include <chrono>
#include <functional>

class QIODevice;

namespace vantor::cli {

inline constexpr int kExitAnswered = 0;
inline constexpr int kExitNotAnswered = 1; // rejected, unreadable or rate-limited
inline constexpr int kExitNoNetwork = 3; // wins over kExitNotAnswered

// ip-api's limit counts requests per minute, so its reset is never further away than this; a longer or missing
// X-Ttl is read as this.
inline constexpr std::chrono::seconds kLongestRateLimitWait { 60 };

using Wait = std::function<void(std::chrono::seconds)>;

// Looks up each address in turn, or this machine's own addresses (IPv4 first) when there is none, and writes the
// answers to `out`: five "Key<TAB>Value" lines per address with a blank line between, or with `json` one JSON array.
// What went wrong goes to `err`, one line each. When an answer says no requests are left, `wait` is given the time until the
// service's limit resets before the next request. Returns the exit status.
int lookUpAll(const ServiceConfig& services, const QStringList& addresses, bool json, QIODevice& out, QIODevice& err,
              const Wait& wait);

// vantor-cli --own: this machine's public addresses on `out`, IPv4 first, one a line, or with `json` one object
// {"ipv4": …, "ipv6": …} with null for a family not found. When neither is found, the reason goes to `err` and the
// exit status is kExitNoNetwork.
int printOwnAddresses(const ServiceConfig& services, bool json, QIODevice& out, QIODevice& err);

} // namespace vantor::cli

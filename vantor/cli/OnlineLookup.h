// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"

#include <chrono>
#include <functional>

namespace vantor::cli {

struct Run;

// After this many requests in a row that got no answer at all, the remaining addresses are not sent.
inline constexpr int kLongestNoAnswerStreak = 3;

// ip-api's limit counts requests per minute, so its reset is never further away than this; a longer or missing
// X-Ttl is read as this.
inline constexpr std::chrono::seconds kLongestRateLimitWait { 60 };

using Wait = std::function<void(std::chrono::seconds)>;

// Looks the run's entries up with an online service: each distinct address once, in the order the addresses first
// appear, a batch of them a request with ip-api's batch endpoint. When an answer says no requests are left, `wait`
// is given the time until the service's limit resets before the next request. After kLongestNoAnswerStreak requests
// in a row without an answer, the remaining addresses fail without a request. Of the answers, those of distinct
// addresses are kept up to `keptAnswersBudget` bytes; past it a repeated address is asked again.
int lookUpOnline(const ServiceConfig& services, Run& run, const Wait& wait, qsizetype keptAnswersBudget);

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/CheckedOutput.h"
#include "vantor/net/Failure.h"
#include "vantor/options/ServiceOptions.h"

namespace vantor::cli {

// vantor-cli's exit statuses; those a lookup's failure gives come with the failure table.
using vantor::kExitAnswered;
using vantor::kExitNoNetwork; // wins over kExitNotAnswered
using vantor::kExitNotAnswered;
inline constexpr int kExitBadUsage = options::kExitBadUsage; // also a list or a database that cannot be read
inline constexpr int kExitStopped = 130; // Ctrl-C or SIGTERM: what was written is complete, a JSON array closed
inline constexpr int kExitOutputClosed = platform::kExitOutputClosed; // standard output could not be written

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Failure.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/ReservedBlocks.h"

#include <QString>
#include <optional>

namespace vantor::cli {

using vantor::FailureKind;

// What became of one address: rows, or why there are none.
struct Outcome
{
    FailureKind failure = FailureKind::None;
    IpInfoAnswer answer = {};
    QString reason = {}; // follows the failure's text, e.g. why a certificate was refused
    bool reported = false; // nothing more to say on standard error about it
    // An address of a special-purpose block, answered without being looked up; no failure.
    std::optional<SpecialPurposeBlock> special = {};
    bool notAddress = false; // a list's line that is not an address, rejected as it was read
};

} // namespace vantor::cli

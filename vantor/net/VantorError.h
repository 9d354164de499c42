// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QString>

namespace vantor {

// Why a Vantor operation did not happen. The message is a complete sentence (or clause) for the user.
struct VantorError
{
    enum class Kind {
        // A setting's value that cannot be used: not a URL, an unknown format, a token that cannot be sent.
        BadSetting,
        // A format that needs another setting which was not given (a database file, a service's URL).
        MissingSetting,
        // A database file that cannot be opened or read.
        CannotOpen,
        // A database file that changed while it was read.
        Changed,
        // A file that is not a MaxMind DB.
        NotADatabase,
    };

    Kind kind = Kind::BadSetting;
    QString message;
};

template <typename T> using Result = platform::Result<T, VantorError>;
using platform::Done;
using Status = platform::Status<VantorError>;

} // namespace vantor

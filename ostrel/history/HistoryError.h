// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QString>

namespace ostrel::history {

// Why a history operation did not happen. The message is a complete sentence for the user.
struct HistoryError
{
    enum class Kind {
        // The file or its folder cannot be opened or created.
        CannotOpen,
        // The file is not an SQLite database or is damaged.
        Corrupt,
        // Another program held the database past the busy timeout.
        Locked,
        // The database or document was written by a newer version of Ostrel.
        NewerVersion,
        // A file that is not an Ostrel results document.
        BadDocument,
        // Anything else SQLite or the file system reported.
        Failed,
    };

    Kind kind = Kind::Failed;
    QString message;
};

// A history operation's value, or why there is none. Nothing in the history library throws.
template <typename T> using Result = platform::Result<T, HistoryError>;
using platform::Done;
using Status = platform::Status<HistoryError>;

} // namespace ostrel::history

// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of both programs' command lines share: what a command line came to, and a case of their tables.
#pragma once

#include "platform/Result.h"
#include "vantor/options/ServiceOptions.h"

#include <QStringList>
#include <ostream>

namespace vantor::options::testing {

enum class Action { Run, Help, Version, BadUsage };

template <typename Options> Action actionOf(const platform::Result<Options, Exit>& parsed)
{
    if (parsed)
        return Action::Run;
    if (parsed.error().status == kExitBadUsage)
        return Action::BadUsage;
    return parsed.error().text.startsWith(QLatin1String("Usage:")) ? Action::Help : Action::Version;
}

struct CommandLineCase
{
    const char* name;
    QStringList arguments; // after the program's name
    Action action;
    QStringList inText; // each found in the text
};

inline void PrintTo(const CommandLineCase& c, std::ostream* os)
{
    *os << c.name;
}

} // namespace vantor::options::testing

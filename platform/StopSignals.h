// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// Ctrl-C and SIGTERM for a terminal program: the first one sets a flag and makes a socket readable, so an event
// loop (QSocketNotifier) or a poll() wakes up and the program stops where stopping is safe; a second one ends
// the process at once, as the signal's default does.
//
// watch() installs the handlers once per process; afterwards requested() and descriptor() are safe from any
// thread.
class StopSignals
{
public:
    // False, with errno set, when the socket or a handler could not be made.
    static bool watch();
    // Whether a stop signal has come.
    static bool requested();
    // Readable once a stop signal has come; -1 before watch().
    static int descriptor();
};

} // namespace platform

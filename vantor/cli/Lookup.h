// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/cli/CommandLine.h"
#include "vantor/cli/ExitStatus.h"
#include "vantor/cli/OnlineLookup.h"
#include "vantor/net/Services.h"

#include <QStringList>
#include <functional>
#include <optional>

class QIODevice;

namespace vantor::cli {

class ProgressLine;

struct LookupOptions
{
    OutputFormat format = OutputFormat::Text;
    QIODevice* standardInput = nullptr; // for the list "-"
    // Readable once a stop is asked (StopSignals::descriptor()): a FIFO named with -f waiting for its writer gives
    // way, as standard input's reader does.
    int interruption = -1;
    ProgressLine* progress = nullptr;
    bool extract = false; // EntryReader::extractAddresses()
    // Asked after each entry and as a list is read: once it says yes, no more is read or asked, what is complete is
    // written (a JSON array closed) and the status is kExitStopped.
    std::function<bool()> stopRequested = {};
    // How much memory the distinct answers of an online format may keep; past it a repeated address is asked again.
    qsizetype keptAnswersBudget = 8 * 1024 * 1024;
    // --summary: the run's counts and its top this many of each kind in place of the answers.
    std::optional<std::size_t> summaryTop;
};

// Looks up every address of the sources in their order, or this machine's own addresses (IPv4 first) when there
// are none, and writes the answers to `out` as they come; what went wrong goes to `err`, one line each, naming the
// address. A list's line that is not an address (or is longer than kLongestListLine) is named with its line number
// and counts as rejected. Each distinct address is looked up once, and a repeated one repeats its answer: with a
// local database at once (lookUpLocally()), else with the service (lookUpOnline()). A write to `out` that fails
// stops everything with kExitOutputClosed. Returns the exit status.
int lookUp(const ServiceConfig& services, const QList<AddressSource>& sources, const LookupOptions& options,
           QIODevice& out, QIODevice& err, const Wait& wait);

// lookUp() for the addresses as given, as text or with `json` one JSON array.
int lookUpAll(const ServiceConfig& services, const QStringList& addresses, bool json, QIODevice& out, QIODevice& err,
              const Wait& wait);

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Configuration.h"
#include "vantor/net/Services.h"

#include <QElapsedTimer>
#include <QStringList>
#include <chrono>
#include <functional>

class QIODevice;

namespace vantor::cli {

inline constexpr int kExitAnswered = 0;
inline constexpr int kExitNotAnswered = 1; // rejected, unreadable, rate-limited or not in the database
inline constexpr int kExitBadUsage = vantor::kExitBadUsage; // also a list or a database that cannot be read
inline constexpr int kExitNoNetwork = 3; // wins over kExitNotAnswered
inline constexpr int kExitStopped = 130; // Ctrl-C or SIGTERM: what was written is complete, a JSON array closed
inline constexpr int kExitOutputClosed = 141; // standard output could not be written: the shell's status for SIGPIPE

// After this many requests in a row that got no answer at all, the remaining addresses are not sent.
inline constexpr int kLongestNoAnswerStreak = 3;

// ip-api's limit counts requests per minute, so its reset is never further away than this; a longer or missing
// X-Ttl is read as this.
inline constexpr std::chrono::seconds kLongestRateLimitWait { 60 };

using Wait = std::function<void(std::chrono::seconds)>;

enum class OutputFormat {
    Text, // five "Key<TAB>Value" lines per address, a blank line between
    Json, // one array
    Csv, // ip,country,region,city,isp,status
};

// The line on a terminal's standard error that says how far a long list has come: done / total, and while
// vantor-cli waits for a rate limit to reset, the seconds left. It writes nothing when it is not shown, so
// standard error stays the same when it is not a terminal.
class ProgressLine
{
public:
    ProgressLine(QIODevice& err, bool shown);

    void update(qsizetype done, std::optional<qsizetype> total);
    void waiting(std::chrono::seconds left);
    // Takes the line away, so that a message can be written in its place; the next update brings it back.
    void clear();
    bool shown() const { return m_shown; }

private:
    void show(const QString& text);

    QIODevice& m_err;
    bool m_shown;
    bool m_visible = false;
    qsizetype m_done = 0;
    std::optional<qsizetype> m_total;
    QElapsedTimer m_sinceShown;
};

struct LookupOptions
{
    OutputFormat format = OutputFormat::Text;
    QIODevice* standardInput = nullptr; // for the list "-"
    ProgressLine* progress = nullptr;
    // Asked after each entry: once it says yes, no more is read or asked, what is complete is written (a JSON
    // array closed) and the status is kExitStopped.
    std::function<bool()> stopRequested = {};
    // How much memory the distinct answers of an online format may keep; past it a repeated address is asked again.
    qsizetype keptAnswersBudget = 8 * 1024 * 1024;
};

// Looks up every address of the sources in their order, or this machine's own addresses (IPv4 first) when there
// are none, and writes the answers to `out` as they come; what went wrong goes to `err`, one line each, naming the
// address. A list's line that is not an address (or is longer than kLongestListLine) is named with its line number
// and counts as rejected. Each distinct address is looked up once, and a repeated one repeats its answer. With
// ip-api and more than one address the addresses go to its batch endpoint, a hundred a request. When an answer says
// no requests are left, `wait` is given the time until the service's limit resets before the next request. After
// kLongestNoAnswerStreak requests in a row without an answer, the remaining addresses fail without a request. A
// write to `out` that fails stops everything with kExitOutputClosed. Returns the exit status.
int lookUp(const ServiceConfig& services, const QList<Invocation::AddressSource>& sources, const LookupOptions& options,
           QIODevice& out, QIODevice& err, const Wait& wait);

// lookUp() for the addresses as given, as text or with `json` one JSON array.
int lookUpAll(const ServiceConfig& services, const QStringList& addresses, bool json, QIODevice& out, QIODevice& err,
              const Wait& wait);

// vantor-cli --own: this machine's public addresses on `out`, IPv4 first, one a line, or with `json` one object
// {"ipv4": …, "ipv6": …} with null for a family not found. When neither is found, the reason goes to `err` and the
// exit status is kExitNoNetwork.
int printOwnAddresses(const ServiceConfig& services, bool json, QIODevice& out, QIODevice& err);

} // namespace vantor::cli

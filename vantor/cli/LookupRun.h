// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/cli/AnswerWriter.h"
#include "vantor/cli/EntryReader.h"
#include "vantor/cli/ExitStatus.h"
#include "vantor/cli/Outcome.h"
#include "vantor/cli/ProgressLine.h"

#include <functional>
#include <optional>

namespace vantor::cli {

// A list's line that is not an address, its line said on standard error already.
inline Outcome rejectedLine()
{
    return { .failure = FailureKind::Rejected, .reported = true, .notAddress = true };
}

// One run of lookups, as both ways of looking up drive it: the entries in, the answers out in the same order, and
// how far the run has come.
struct Run
{
    EntryReader& reader;
    AnswerWriter& writer;
    ProgressLine* progress;
    std::optional<qsizetype> total;
    const std::function<bool()>& stopRequested;
    qsizetype written = 0;

    bool stopped() const { return stopRequested && stopRequested(); }

    void add(const QString& query, const Outcome& outcome)
    {
        writer.add(query, outcome);
        if (progress)
            progress->update(++written, total);
    }

    // An answer as the format's element made it.
    void addElement(std::string_view element)
    {
        writer.addElement(element);
        if (progress)
            progress->update(++written, total);
    }

    // A local database's answer, for the summary.
    void addRecord(const std::array<std::uint8_t, 16>& address, const DatabaseRecord& record)
    {
        writer.addRecord(address, record);
        if (progress)
            progress->update(++written, total);
    }

    int finish()
    {
        const int status = writer.finish();
        return status == kExitOutputClosed || !stopped() ? status : kExitStopped;
    }
};

} // namespace vantor::cli

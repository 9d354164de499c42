// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/cli/CommandLine.h"
#include "vantor/cli/ExitStatus.h"
#include "vantor/cli/Outcome.h"
#include "vantor/net/Failure.h"
#include "vantor/net/IpDatabase.h"
#include "vantor/net/ReservedBlocks.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <string>
#include <string_view>

class QIODevice;

namespace vantor::cli {

class ProgressLine;
class Summary;

// The columns of --csv: the address asked, the answer's fields but the service's "ip", the status, the network and
// the name of a special-purpose block.
QStringList csvColumns();

// One answer as the formats write it, every text UTF-8: the address asked and what became of it.
struct AnswerText
{
    std::string_view query;
    // In kInfoFields order (the first is the address the answer is for), and the network the address lies in;
    // empty where the answer does not say.
    std::array<std::string_view, kInfoFieldCount> values = {};
    std::string_view network = {};
    const SpecialPurposeBlock* special = nullptr; // answered without a lookup
    const Failure* failure = nullptr; // no answer, for this reason
};

// A local database's answer for the address `query`, its texts as the database holds them; none when one of them
// is not valid UTF-8, as a format writes only UTF-8 (answerOf() makes texts of such bytes).
std::optional<AnswerText> foundText(std::string_view query, const DatabaseRecord& record);
// The answer for an address of a special-purpose block: the block as its network, no country, region, city or
// carrier.
AnswerText specialText(std::string_view query, const SpecialPurposeBlock& special);

// How a format writes the answers: `header` at once (CSV's columns go out before the first request), `opening`
// with the first answer (JSON's "[" never goes out alone), each answer as `element` appends it with `between`
// between two, and `footer` at the end, after the opening when no answer came. An answer the format leaves to
// standard error (text's failures) has no element: `element` appends nothing and says false. `element` may run on
// any thread. --summary writes `summary` in place of all of it.
struct AnswerFormat
{
    OutputFormat format;
    std::string header;
    std::string_view opening;
    bool (*element)(std::string& to, const AnswerText& answer);
    std::string_view between;
    std::string_view footer;
    QByteArray (Summary::*summary)() const;
    // In place of the answers, before the header, when not a single address was found to look up (and no summary).
    std::string_view withoutAddresses;
};

// The format's row of the table of formats.
const AnswerFormat& answerFormat(OutputFormat format);

// Writes the answers in the input's order, in the chosen format, as they come: held back only while more input is
// already at hand. A failure also goes to standard error, naming its address, unless it was reported already. With
// a summary, the answers are counted in it instead and finish() writes it.
class AnswerWriter
{
public:
    AnswerWriter(OutputFormat format, QIODevice& out, QIODevice& err, ProgressLine* progress,
                 Summary* summary = nullptr);

    // A line on standard error, in place of the progress line.
    void message(const QString& line);
    void add(const QString& query, const Outcome& outcome);
    // An answer as the format's element made it.
    void addElement(std::string_view element);
    // A local database's answer, for the summary.
    void addRecord(const std::array<std::uint8_t, 16>& address, const DatabaseRecord& record);
    const AnswerFormat& format() const { return m_format; }
    Summary* summary() const { return m_summary; }
    void flush();

    // Holds text back until this much is gathered, or until no more input is at hand.
    bool full() const { return m_pending.size() >= 64 * 1024; }

    // Once standard output cannot be written, nothing more is looked up for it.
    bool outputFailed() const { return m_outputFailed; }

    // Writes the footer (or the summary) and what is left; the exit status of what was written.
    int finish();

    // In place of the answers when not a single address was found to look up: the summary of none, else the
    // format's withoutAddresses and its header; written as it is, whether or not standard output takes it.
    void finishWithoutAddresses();

private:
    void addText(const AnswerText& answer);

    const AnswerFormat& m_format;
    QIODevice& m_out;
    QIODevice& m_err;
    ProgressLine* m_progress;
    Summary* m_summary;
    std::string m_pending;
    qsizetype m_elements = 0;
    bool m_outputFailed = false;
    int m_exitStatus = kExitAnswered;
};

} // namespace vantor::cli

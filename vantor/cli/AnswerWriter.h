// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/cli/CommandLine.h"
#include "vantor/cli/ExitStatus.h"
#include "vantor/cli/Outcome.h"
#include "vantor/net/IpDatabase.h"
#include "vantor/net/ReservedBlocks.h"

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

class QIODevice;

namespace vantor::cli {

class ProgressLine;
class Summary;

// The columns of --csv: the address asked, the answer's fields but the service's "ip", the status, the network and
// the name of a special-purpose block.
QStringList csvColumns();
// The header line of --csv.
QByteArray csvHeader();

// A local database's answer for the address `query` (UTF-8) as AnswerWriter::add() writes it, but for what goes
// between answers, appended to `to`: the same bytes with no text made on the way. False, and nothing appended, when
// a text is not valid UTF-8; add() writes that one. Safe from any thread.
bool appendFound(OutputFormat format, std::string& to, std::string_view query, const DatabaseRecord& record);

// The answer for an address of a special-purpose block, as appendFound() makes one: the block as its network, no
// country, region, city or carrier; in text, its name, block and RFC in place of the four. False, and nothing
// appended, when `query` is not valid UTF-8.
bool appendSpecial(OutputFormat format, std::string& to, std::string_view query, const SpecialPurposeBlock& special);

// Writes the answers in the input's order, in the chosen format, as they come: held back only while more input is
// already at hand. JSON is one array, opened with the first element and closed by finish(). A failure also goes to
// standard error, naming its address, unless it was reported already. With a summary, the answers are counted in it
// instead and finish() writes it.
class AnswerWriter
{
public:
    AnswerWriter(OutputFormat format, QIODevice& out, QIODevice& err, ProgressLine* progress,
                 Summary* summary = nullptr);

    // A line on standard error, in place of the progress line.
    void message(const QString& line);
    void add(const QString& query, const Outcome& outcome);
    // An answer as appendFound() made it.
    void addFound(QByteArrayView answer);
    // A local database's answer, for the summary.
    void addRecord(const std::array<std::uint8_t, 16>& address, const DatabaseRecord& record);
    OutputFormat format() const { return m_format; }
    Summary* summary() const { return m_summary; }
    void flush();

    // Holds text back until this much is gathered, or until no more input is at hand.
    bool full() const { return m_pending.size() >= 64 * 1024; }

    // Once standard output cannot be written, nothing more is looked up for it.
    bool outputFailed() const { return m_outputFailed; }

    // Closes the JSON array and writes what is left; the exit status of what was written.
    int finish();

private:
    OutputFormat m_format;
    QIODevice& m_out;
    QIODevice& m_err;
    ProgressLine* m_progress;
    Summary* m_summary;
    QByteArray m_pending;
    qsizetype m_elements = 0;
    bool m_rowsWritten = false;
    bool m_outputFailed = false;
    int m_exitStatus = kExitAnswered;
};

} // namespace vantor::cli

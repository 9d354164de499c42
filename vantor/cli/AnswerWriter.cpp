// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AnswerWriter.h"

#include "platform/CheckedOutput.h"
#include "platform/Csv.h"
#include "platform/PrintableText.h"
#include "vantor/cli/Output.h"
#include "vantor/cli/ProgressLine.h"
#include "vantor/cli/Summary.h"

#include <QIODevice>
#include <algorithm>

namespace vantor::cli {

namespace {

// A valid UTF-8 text as a JSON string: as it is but for the quote, the backslash and the control characters,
// escaped as QJsonDocument escapes them.
void appendJsonString(std::string& to, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const auto escaped = [](char c) { return uchar(c) < 0x20 || c == '"' || c == '\\'; };
    to += '"';
    for (auto plain = text.begin(); plain != text.end();) {
        const auto next = std::find_if(plain, text.end(), escaped);
        to.append(plain, next);
        if (next == text.end())
            break;
        to += '\\';
        switch (const uchar c = uchar(*next)) {
        case '"':
            to += '"';
            break;
        case '\\':
            to += '\\';
            break;
        case '\b':
            to += 'b';
            break;
        case '\f':
            to += 'f';
            break;
        case '\n':
            to += 'n';
            break;
        case '\r':
            to += 'r';
            break;
        case '\t':
            to += 't';
            break;
        default:
            to += "u00";
            to += kHex[c >> 4];
            to += kHex[c & 0xf];
        }
        plain = next + 1;
    }
    to += '"';
}

// `start` is the member's indented name and colon; an empty text is null.
void appendJsonMember(std::string& to, std::string_view start, std::string_view text, bool last = false)
{
    to += start;
    if (text.empty())
        to += "null";
    else
        appendJsonString(to, text);
    to += last ? std::string_view("\n") : std::string_view(",\n");
}

// One object of the array, on lines of its own, indented as QJsonDocument indents the whole array, its members in
// QJsonDocument's order: sorted by name.
bool jsonElement(std::string& to, const AnswerText& answer)
{
    to += "\n    {\n";
    if (answer.failure) {
        appendJsonMember(to, "        \"error\": ", answer.failure->error);
        to += "        \"ok\": false,\n";
        appendJsonMember(to, "        \"query\": ", answer.query, true);
    } else {
        appendJsonMember(to, "        \"city\": ", answer.values[3]);
        appendJsonMember(to, "        \"country\": ", answer.values[1]);
        appendJsonMember(to, "        \"ip\": ", answer.values[0]);
        appendJsonMember(to, "        \"isp\": ", answer.values[4]);
        appendJsonMember(to, "        \"network\": ", answer.network);
        to += "        \"ok\": true,\n";
        appendJsonMember(to, "        \"query\": ", answer.query);
        appendJsonMember(to, "        \"region\": ", answer.values[2], !answer.special);
        if (answer.special) {
            to += "        \"special\": {\n";
            appendJsonMember(to, "            \"block\": ", answer.special->block);
            appendJsonMember(to, "            \"name\": ", answer.special->name);
            appendJsonMember(to, "            \"rfc\": ", answer.special->rfc, true);
            to += "        }\n";
        }
    }
    to += "    }";
    return true;
}

// One row of csvColumns().
bool csvElement(std::string& to, const AnswerText& answer)
{
    platform::appendCsvField(to, answer.query);
    for (std::size_t field = 1; field < kInfoFieldCount; ++field) {
        to += ',';
        platform::appendCsvField(to, answer.values[field]);
    }
    to += ',';
    to += answer.failure ? std::string_view(answer.failure->error) : std::string_view("ok");
    to += ',';
    platform::appendCsvField(to, answer.network);
    to += ',';
    if (answer.special)
        platform::appendCsvField(to, answer.special->name);
    to += "\r\n";
    return true;
}

// "Key<TAB>Value" lines, "未知" where the answer does not say; for a special-purpose block, its name, block and RFC
// in place of the four after the address. A failure is said on standard error only.
bool textElement(std::string& to, const AnswerText& answer)
{
    if (answer.failure)
        return false;
    static const std::array<std::string, kInfoFieldCount> keys = [] {
        std::array<std::string, kInfoFieldCount> keys;
        for (std::size_t i = 0; i < kInfoFieldCount; ++i)
            keys[i] = (QString::fromUtf16(kInfoFields[i].key) + QLatin1Char('\t')).toStdString();
        return keys;
    }();
    if (answer.special) {
        to += keys[0];
        to += answer.query;
        to += "\n特殊地址\t";
        to += answer.special->name;
        to += "（";
        to += answer.special->block;
        to += "，";
        to += answer.special->rfc;
        to += "）\n";
        return true;
    }
    for (std::size_t field = 0; field < kInfoFieldCount; ++field) {
        to += keys[field];
        to += answer.values[field].empty() ? std::string_view("未知") : answer.values[field];
        to += '\n';
    }
    return true;
}

} // namespace

QStringList csvColumns()
{
    QStringList columns;
    for (const InfoField& field : kInfoFields)
        columns << QLatin1String(field.name);
    return columns << QStringLiteral("status") << QStringLiteral("network") << QStringLiteral("special");
}

const AnswerFormat& answerFormat(OutputFormat format)
{
    static const AnswerFormat kFormats[] = {
        { .format = OutputFormat::Text,
          .header = {},
          .opening = {},
          .element = textElement,
          .between = "\n",
          .footer = {},
          .summary = &Summary::asText,
          .withoutAddresses = {} },
        // One array; what QJsonDocument writes for it, "[]" on one line when there is not a single address.
        { .format = OutputFormat::Json,
          .header = {},
          .opening = "[",
          .element = jsonElement,
          .between = ",",
          .footer = "\n]\n",
          .summary = &Summary::asJson,
          .withoutAddresses = "[]\n" },
        { .format = OutputFormat::Csv,
          .header = platform::csvRecord(csvColumns(), platform::CsvLineEnd::CrLf).toStdString(),
          .opening = {},
          .element = csvElement,
          .between = {},
          .footer = {},
          .summary = &Summary::asCsv,
          .withoutAddresses = {} },
    };
    return *std::find_if(std::begin(kFormats), std::end(kFormats),
                         [format](const AnswerFormat& row) { return row.format == format; });
}

std::optional<AnswerText> foundText(std::string_view query, const DatabaseRecord& record)
{
    const auto valid = [](std::string_view text) { return QByteArrayView(text).isValidUtf8(); };
    if (!valid(query) || !std::all_of(record.texts.begin(), record.texts.end(), valid))
        return std::nullopt;
    const auto& [country, region, city, isp] = record.texts;
    return AnswerText { .query = query,
                        .values = { query, country, region, city, isp },
                        .network = std::string_view(record.network.data()) };
}

AnswerText specialText(std::string_view query, const SpecialPurposeBlock& special)
{
    return { .query = query, .values = { query }, .network = special.block, .special = &special };
}

AnswerWriter::AnswerWriter(OutputFormat format, QIODevice& out, QIODevice& err, ProgressLine* progress,
                           Summary* summary)
    : m_format(answerFormat(format))
    , m_out(out)
    , m_err(err)
    , m_progress(progress)
    , m_summary(summary)
{
    if (!m_summary)
        m_pending = m_format.header;
}

void AnswerWriter::message(const QString& line)
{
    if (m_progress)
        m_progress->clear();
    write(m_err, line + QLatin1Char('\n'));
}

void AnswerWriter::add(const QString& query, const Outcome& outcome)
{
    if (outcome.special && !m_summary) {
        if (!m_outputFailed)
            addText(specialText(query.toStdString(), *outcome.special));
        return;
    }
    const Failure* failed = outcome.failure == FailureKind::None ? nullptr : &failure(outcome.failure);
    m_exitStatus = std::max(m_exitStatus, failed ? failed->exitStatus : kExitAnswered);
    // A summary counts failures by kind: a log's thousands of addresses no database holds are not listed one by one.
    if (failed && !outcome.reported && !m_summary) {
        QString line = QStringLiteral("vantor-cli: %1: %2").arg(platform::printable(query), terminalMessage(*failed));
        if (!outcome.reason.isEmpty())
            line += QStringLiteral(": ") + platform::printable(outcome.reason, kLongestShownName);
        message(line);
    }
    if (m_summary) {
        m_summary->add(query, outcome);
        return;
    }
    if (m_outputFailed)
        return;
    const std::string utf8 = query.toStdString();
    if (failed) {
        addText({ .query = utf8, .failure = failed });
        return;
    }
    std::array<std::string, kInfoFieldCount> values;
    AnswerText text { .query = utf8 };
    for (std::size_t i = 0; i < kInfoFieldCount; ++i) {
        values[i] = outcome.answer.values[i].value_or(QString()).toStdString();
        text.values[i] = values[i];
    }
    const std::string network = outcome.answer.network.value_or(QString()).toStdString();
    text.network = network;
    addText(text);
}

void AnswerWriter::addText(const AnswerText& answer)
{
    const std::size_t start = m_pending.size();
    m_pending += m_elements == 0 ? m_format.opening : m_format.between;
    if (m_format.element(m_pending, answer))
        ++m_elements;
    else
        m_pending.resize(start);
}

void AnswerWriter::addElement(std::string_view element)
{
    if (m_outputFailed)
        return;
    m_pending += m_elements++ == 0 ? m_format.opening : m_format.between;
    m_pending += element;
}

void AnswerWriter::addRecord(const std::array<std::uint8_t, 16>& address, const DatabaseRecord& record)
{
    m_summary->addFound(address, record);
}

void AnswerWriter::flush()
{
    if (m_pending.empty() || m_outputFailed)
        return;
    if (const int error = write(m_out, QByteArray::fromRawData(m_pending.data(), qsizetype(m_pending.size())))) {
        m_outputFailed = true;
        message(platform::outputFailureLine(QStringLiteral("vantor-cli"), error) + QStringLiteral("; stopping"));
    }
    // Keeps the buffer's memory: freeing it gave its pages back to the system at every flush, and taking them again
    // cost a tenth of a fast run's time.
    m_pending.clear();
}

int AnswerWriter::finish()
{
    if (m_summary) {
        const QByteArray summary = (m_summary->*m_format.summary)();
        m_pending.assign(summary.constData(), std::size_t(summary.size()));
    } else {
        if (m_elements == 0)
            m_pending += m_format.opening;
        m_pending += m_format.footer;
    }
    flush();
    return m_outputFailed ? kExitOutputClosed : m_exitStatus;
}

void AnswerWriter::finishWithoutAddresses()
{
    // A summary is a document of its own: the answers' header has no place after it.
    const QByteArray written = m_summary
        ? (m_summary->*m_format.summary)()
        : QByteArray(m_format.withoutAddresses.data(), qsizetype(m_format.withoutAddresses.size()))
            + QByteArray::fromStdString(m_format.header);
    write(m_out, written);
}

} // namespace vantor::cli

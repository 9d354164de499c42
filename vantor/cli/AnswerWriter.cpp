// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AnswerWriter.h"

#include "platform/CheckedOutput.h"
#include "platform/Csv.h"
#include "platform/PrintableText.h"
#include "vantor/cli/Output.h"
#include "vantor/cli/ProgressLine.h"
#include "vantor/cli/Summary.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vantor::cli {

namespace {

QByteArray csvLine(const QStringList& fields)
{
    return platform::csvRecord(fields, platform::CsvLineEnd::CrLf).toUtf8();
}

QJsonObject answeredReport(const QString& query, const IpInfoAnswer& answer)
{
    QJsonObject report { { QStringLiteral("query"), query }, { QStringLiteral("ok"), true } };
    for (std::size_t i = 0; i < kInfoFieldCount; ++i) {
        const std::optional<QString>& value = answer.values[i];
        report.insert(QLatin1String(kInfoFields[i].name), value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null));
    }
    report.insert(QStringLiteral("network"),
                  answer.network ? QJsonValue(*answer.network) : QJsonValue(QJsonValue::Null));
    return report;
}

QJsonObject failedReport(const QString& query, const Failure& failure)
{
    return { { QStringLiteral("query"), query },
             { QStringLiteral("ok"), false },
             { QStringLiteral("error"), QLatin1String(failure.error) } };
}

// One element of a JSON array exactly as QJsonDocument writes it inside the whole array: indented one step. Texts
// hold their line breaks as escapes, so every line break is one of the layout's.
QByteArray jsonArrayElement(const QJsonObject& object)
{
    QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    text.chop(1);
    text.replace('\n', "\n    ");
    return "    " + text;
}

// What a row's text is in the formats, as bytes: a valid UTF-8 text goes out as it is (JSON escaping only the ASCII
// characters QJsonDocument escapes), so only texts that are not valid UTF-8 need the way through QString.
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

// `start` is the member's indented name and colon.
void appendJsonMember(std::string& to, std::string_view start, std::string_view text, bool last = false)
{
    to += start;
    if (text.empty())
        to += "null";
    else
        appendJsonString(to, text);
    to += last ? std::string_view("\n") : std::string_view(",\n");
}

} // namespace

bool appendFound(OutputFormat format, std::string& to, std::string_view query, const DatabaseRecord& record)
{
    if (!QByteArrayView(query).isValidUtf8()
        || !std::all_of(record.texts.begin(), record.texts.end(),
                        [](std::string_view text) { return QByteArrayView(text).isValidUtf8(); }))
        return false;
    const std::string_view network(record.network.data());
    const auto text = [&](std::size_t field) { return record.texts[field - 1]; };
    switch (format) {
    case OutputFormat::Json:
        // QJsonDocument's order: the members sorted by name.
        to += "    {\n";
        appendJsonMember(to, "        \"city\": ", text(3));
        appendJsonMember(to, "        \"country\": ", text(1));
        appendJsonMember(to, "        \"ip\": ", query);
        appendJsonMember(to, "        \"isp\": ", text(4));
        appendJsonMember(to, "        \"network\": ", network);
        to += "        \"ok\": true,\n";
        appendJsonMember(to, "        \"query\": ", query);
        appendJsonMember(to, "        \"region\": ", text(2), true);
        to += "    }";
        break;
    case OutputFormat::Csv:
        platform::appendCsvField(to, query);
        for (std::size_t field = 1; field < kInfoFieldCount; ++field) {
            to += ',';
            platform::appendCsvField(to, text(field));
        }
        to += ",ok,";
        platform::appendCsvField(to, network);
        to += ",\r\n";
        break;
    case OutputFormat::Text: {
        static const std::array<std::string, kInfoFieldCount> keys = [] {
            std::array<std::string, kInfoFieldCount> keys;
            for (std::size_t i = 0; i < kInfoFieldCount; ++i)
                keys[i] = (QString::fromUtf16(kInfoFields[i].key) + QLatin1Char('\t')).toStdString();
            return keys;
        }();
        for (std::size_t field = 0; field < kInfoFieldCount; ++field) {
            to += keys[field];
            const std::string_view value = field == 0 ? query : text(field);
            to += value.empty() ? std::string_view("未知") : value;
            to += '\n';
        }
        break;
    }
    }
    return true;
}

bool appendSpecial(OutputFormat format, std::string& to, std::string_view query, const SpecialPurposeBlock& special)
{
    if (!QByteArrayView(query).isValidUtf8())
        return false;
    switch (format) {
    case OutputFormat::Json:
        to += "    {\n";
        appendJsonMember(to, "        \"city\": ", {});
        appendJsonMember(to, "        \"country\": ", {});
        appendJsonMember(to, "        \"ip\": ", query);
        appendJsonMember(to, "        \"isp\": ", {});
        appendJsonMember(to, "        \"network\": ", special.block);
        to += "        \"ok\": true,\n";
        appendJsonMember(to, "        \"query\": ", query);
        appendJsonMember(to, "        \"region\": ", {});
        to += "        \"special\": {\n";
        appendJsonMember(to, "            \"block\": ", special.block);
        appendJsonMember(to, "            \"name\": ", special.name);
        appendJsonMember(to, "            \"rfc\": ", special.rfc, true);
        to += "        }\n    }";
        break;
    case OutputFormat::Csv:
        platform::appendCsvField(to, query);
        to += ",,,,,ok,";
        to += special.block;
        to += ',';
        platform::appendCsvField(to, special.name);
        to += "\r\n";
        break;
    case OutputFormat::Text:
        to += "IP\t";
        to += query;
        to += "\n特殊地址\t";
        to += special.name;
        to += "（";
        to += special.block;
        to += "，";
        to += special.rfc;
        to += "）\n";
        break;
    }
    return true;
}

QStringList csvColumns()
{
    QStringList columns;
    for (const InfoField& field : kInfoFields)
        columns << QLatin1String(field.name);
    return columns << QStringLiteral("status") << QStringLiteral("network") << QStringLiteral("special");
}

QByteArray csvHeader()
{
    return csvLine(csvColumns());
}

AnswerWriter::AnswerWriter(OutputFormat format, QIODevice& out, QIODevice& err, ProgressLine* progress,
                           Summary* summary)
    : m_format(format)
    , m_out(out)
    , m_err(err)
    , m_progress(progress)
    , m_summary(summary)
{
    if (m_format == OutputFormat::Csv && !m_summary)
        m_pending = csvHeader();
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
        std::string answer;
        appendSpecial(m_format, answer, query.toStdString(), *outcome.special);
        addFound(QByteArrayView(answer.data(), qsizetype(answer.size())));
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
    switch (m_format) {
    case OutputFormat::Json:
        m_pending += m_elements++ == 0 ? "[\n" : ",\n";
        m_pending += jsonArrayElement(failed ? failedReport(query, *failed) : answeredReport(query, outcome.answer));
        break;
    case OutputFormat::Csv: {
        const auto value = [&](std::size_t i) { return outcome.answer.values[i].value_or(QString()); };
        if (failed)
            m_pending += csvLine({ query, {}, {}, {}, {}, QLatin1String(failed->error), {}, {} });
        else
            m_pending += csvLine({ query,
                                   value(1),
                                   value(2),
                                   value(3),
                                   value(4),
                                   QStringLiteral("ok"),
                                   outcome.answer.network.value_or(QString()),
                                   {} });
        break;
    }
    case OutputFormat::Text:
        if (!failed) {
            if (m_rowsWritten)
                m_pending += '\n';
            m_pending += rowsAsText(outcome.answer.rows()).toUtf8();
            m_rowsWritten = true;
        }
        break;
    }
}

void AnswerWriter::addFound(QByteArrayView answer)
{
    if (m_outputFailed)
        return;
    switch (m_format) {
    case OutputFormat::Json:
        m_pending += m_elements++ == 0 ? "[\n" : ",\n";
        break;
    case OutputFormat::Csv:
        break;
    case OutputFormat::Text:
        if (m_rowsWritten)
            m_pending += '\n';
        m_rowsWritten = true;
        break;
    }
    m_pending += answer;
}

void AnswerWriter::addRecord(const std::array<std::uint8_t, 16>& address, const DatabaseRecord& record)
{
    m_summary->addFound(address, record);
}

void AnswerWriter::flush()
{
    if (m_pending.isEmpty() || m_outputFailed)
        return;
    if (const int error = write(m_out, m_pending)) {
        m_outputFailed = true;
        message(platform::outputFailureLine(QStringLiteral("vantor-cli"), error) + QStringLiteral("; stopping"));
    }
    // Keeps the buffer: freeing it gave its pages back to the system at every flush, and taking them again cost a
    // tenth of a fast run's time.
    m_pending.resize(0);
}

int AnswerWriter::finish()
{
    if (m_summary)
        m_pending = m_summary->written(m_format);
    else if (m_format == OutputFormat::Json)
        m_pending += m_elements == 0 ? "[\n]\n" : "\n]\n";
    flush();
    return m_outputFailed ? kExitOutputClosed : m_exitStatus;
}

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AnswerWriter.h"

#include "platform/Csv.h"
#include "platform/PrintableText.h"
#include "vantor/cli/Output.h"
#include "vantor/cli/ProgressLine.h"

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

} // namespace

QStringList csvColumns()
{
    QStringList columns;
    for (const InfoField& field : kInfoFields)
        columns << QLatin1String(field.name);
    return columns << QStringLiteral("status");
}

QByteArray csvHeader()
{
    return csvLine(csvColumns());
}

AnswerWriter::AnswerWriter(OutputFormat format, QIODevice& out, QIODevice& err, ProgressLine* progress)
    : m_format(format)
    , m_out(out)
    , m_err(err)
    , m_progress(progress)
{
    if (m_format == OutputFormat::Csv)
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
    const Failure* failed = outcome.failure == FailureKind::None ? nullptr : &failure(outcome.failure);
    m_exitStatus = std::max(m_exitStatus, failed ? failed->exitStatus : kExitAnswered);
    if (failed && !outcome.reported) {
        QString line = QStringLiteral("vantor-cli: %1: %2").arg(platform::printable(query), terminalMessage(*failed));
        if (!outcome.reason.isEmpty())
            line += QStringLiteral(": ") + platform::printable(outcome.reason, kLongestShownName);
        message(line);
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
            m_pending += csvLine({ query, {}, {}, {}, {}, QLatin1String(failed->error) });
        else
            m_pending += csvLine({ query, value(1), value(2), value(3), value(4), QStringLiteral("ok") });
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

void AnswerWriter::flush()
{
    if (m_pending.isEmpty() || m_outputFailed)
        return;
    if (const int error = write(m_out, m_pending)) {
        m_outputFailed = true;
        message(error == EPIPE ? QStringLiteral("vantor-cli: standard output was closed; stopping")
                               : QStringLiteral("vantor-cli: standard output cannot be written: %1; stopping")
                                     .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    m_pending.clear();
}

int AnswerWriter::finish()
{
    if (m_format == OutputFormat::Json)
        m_pending += m_elements == 0 ? "[\n]\n" : "\n]\n";
    flush();
    return m_outputFailed ? kExitOutputClosed : m_exitStatus;
}

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/EntryReader.h"

#include "platform/PrintableText.h"
#include "vantor/cli/AnswerWriter.h"
#include "vantor/cli/Output.h"

namespace vantor::cli {

EntryReader::EntryReader(const QList<AddressSource>& sources, QIODevice* standardInput, AnswerWriter& writer)
    : m_sources(sources)
    , m_standardInput(standardInput)
    , m_writer(writer)
{
}

bool EntryReader::open()
{
    for (const AddressSource& source : m_sources) {
        if (source.kind != AddressSource::Kind::File)
            continue;
        if (source.text == QLatin1String("-")) {
            if (!m_standardInput) {
                m_writer.message(QStringLiteral("vantor-cli: -: standard input cannot be read"));
                return false;
            }
            continue;
        }
        auto file = std::make_shared<QFile>(source.text);
        if (!file->open(QIODevice::ReadOnly)) {
            m_writer.message(QStringLiteral("vantor-cli: %1: cannot be read: %2")
                                 .arg(platform::printable(source.text, kLongestShownName), file->errorString()));
            return false;
        }
        m_files.insert(source.text, file);
    }
    return true;
}

std::optional<qsizetype> EntryReader::count()
{
    qsizetype total = 0;
    for (const AddressSource& source : m_sources) {
        if (source.kind == AddressSource::Kind::Address) {
            ++total;
            continue;
        }
        QFile* file = m_files.value(source.text).get();
        if (!file || file->isSequential())
            return std::nullopt;
        AddressListReader list(*file);
        while (list.next())
            ++total;
        if (!file->seek(0))
            return std::nullopt;
    }
    return total;
}

std::optional<Entry> EntryReader::next()
{
    for (;;) {
        if (m_list) {
            if (const std::optional<ListedLine> line = m_list->next()) {
                Entry entry { line->text, line->isAddress, {} };
                if (!line->isAddress) {
                    entry.rejection = rejection(*line);
                    if (!m_deferRejections)
                        m_writer.message(entry.rejection);
                }
                return entry;
            }
            m_list.reset();
            m_device = nullptr;
        }
        if (m_index >= m_sources.size())
            return std::nullopt;
        const AddressSource& source = m_sources[m_index++];
        if (source.kind == AddressSource::Kind::Address)
            return Entry { source.text, true, {} };
        m_device = source.text == QLatin1String("-") ? m_standardInput : m_files.value(source.text).get();
        m_list = std::make_unique<AddressListReader>(*m_device);
    }
}

bool EntryReader::moreAtHand() const
{
    // A pipe's next bytes may be there already, beyond what the device has read ahead.
    if (m_device && (m_device->bytesAvailable() > 0 || !m_device->isSequential() || m_device->waitForReadyRead(0)))
        return true;
    if (m_device || m_index >= m_sources.size())
        return false;
    const AddressSource& source = m_sources[m_index];
    return source.kind == AddressSource::Kind::Address || source.text != QLatin1String("-");
}

std::optional<QStringList> EntryReader::rest() const
{
    if (!listRead())
        return std::nullopt;
    QStringList addresses;
    for (qsizetype i = m_index; i < m_sources.size(); ++i) {
        if (m_sources[i].kind != AddressSource::Kind::Address)
            return std::nullopt;
        addresses << m_sources[i].text;
    }
    return addresses;
}

QString EntryReader::rejection(const ListedLine& line) const
{
    const QString longer = line.overlong ? QStringLiteral("longer than %1 bytes, ").arg(kLongestListLine) : QString();
    // In one pass, so that a "%" in the file's name or the line is taken as it is.
    return QStringLiteral("%1:%2: %3not an address: %4")
        .arg(platform::printable(m_sources[m_index - 1].text, kLongestShownName), QString::number(line.lineNumber),
             longer, platform::printable(line.text));
}

} // namespace vantor::cli

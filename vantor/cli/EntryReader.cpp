// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/EntryReader.h"

#include "platform/ErrorText.h"
#include "platform/OutsideFile.h"
#include "platform/PrintableText.h"
#include "vantor/cli/AddressesInText.h"
#include "vantor/cli/Output.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace vantor::cli {

EntryReader::EntryReader(const QList<AddressSource>& sources, QIODevice* standardInput, int interruption,
                         std::function<bool()> stopRequested)
    : m_sources(sources)
    , m_standardInput(standardInput)
    , m_interruption(interruption)
    , m_stopRequested(std::move(stopRequested))
{
}

platform::Status<QString> EntryReader::open()
{
    for (const AddressSource& source : m_sources) {
        if (source.kind != AddressSource::Kind::File)
            continue;
        if (source.text == QLatin1String("-")) {
            if (!m_standardInput)
                return QStringLiteral("vantor-cli: -: standard input cannot be read");
            continue;
        }
        const auto refuse = [&](const QString& reason) {
            return QStringLiteral("vantor-cli: %1: cannot be read: %2")
                .arg(platform::printable(source.text, kLongestShownName), reason);
        };
        platform::Result<platform::FileDescriptor, platform::FileReadError> opened
            = platform::openOutsideFile(source.text, platform::FileKinds::RegularFileOrFifo);
        if (!opened)
            return refuse(opened.error().reason);
        struct stat info = {};
        if (::fstat(opened->get(), &info) != 0)
            return refuse(platform::errorText(errno));
        auto file = std::make_shared<ListFile>();
        file->descriptor = std::move(*opened);
        if (S_ISREG(info.st_mode)) {
            auto regular = std::make_unique<QFile>();
            if (!regular->open(file->descriptor.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
                return refuse(regular->errorString());
            file->device = std::move(regular);
        } else {
            file->device = std::make_unique<DescriptorReader>(file->descriptor.get(), m_interruption);
        }
        m_files.insert(source.text, file);
    }
    return platform::Done {};
}

QIODevice* EntryReader::fileDevice(const QString& name) const
{
    const std::shared_ptr<ListFile> file = m_files.value(name);
    return file ? file->device.get() : nullptr;
}

std::optional<qsizetype> EntryReader::count()
{
    qsizetype total = 0;
    for (const AddressSource& source : m_sources) {
        if (source.kind == AddressSource::Kind::Address) {
            total += m_extract ? addressesInText(source.text.toUtf8()).size() : 1;
            continue;
        }
        QIODevice* file = fileDevice(source.text);
        if (!file || file->isSequential())
            return std::nullopt;
        AddressListReader list(*file, m_stopRequested, listKind());
        while (const std::optional<ListedLine> line = list.next())
            total += line->found.isEmpty() ? 1 : line->found.size();
        if (!file->seek(0))
            return std::nullopt;
    }
    return total;
}

std::optional<Entry> EntryReader::next()
{
    for (;;) {
        if (m_nextFound < m_found.size())
            return Entry { m_found[m_nextFound++] };
        if (m_list) {
            if (std::optional<ListedLine> line = m_list->next()) {
                if (!line->found.isEmpty()) {
                    m_found = std::move(line->found);
                    m_nextFound = 0;
                    continue;
                }
                if (line->isAddress)
                    return Entry { line->text };
                return Entry { line->text, Entry::Kind::Rejected, rejection(*line) };
            }
            m_list.reset();
            m_device = nullptr;
        }
        if (m_index >= m_sources.size())
            return std::nullopt;
        const AddressSource& source = m_sources[m_index++];
        if (source.kind == AddressSource::Kind::Address) {
            if (!m_extract)
                return Entry { source.text };
            m_found = addressesInText(source.text.toUtf8());
            m_nextFound = 0;
            continue;
        }
        m_device = source.text == QLatin1String("-") ? m_standardInput : fileDevice(source.text);
        m_list = std::make_unique<AddressListReader>(*m_device, m_stopRequested, listKind());
    }
}

bool EntryReader::moreAtHand() const
{
    if (m_nextFound < m_found.size())
        return true;
    // A pipe's next bytes may be there already, beyond what the device has read ahead.
    if (m_device && (m_device->bytesAvailable() > 0 || !m_device->isSequential() || m_device->waitForReadyRead(0)))
        return true;
    if (m_device || m_index >= m_sources.size())
        return false;
    // A FIFO's writer, like standard input's, may keep the next list waiting.
    const AddressSource& source = m_sources[m_index];
    if (source.kind == AddressSource::Kind::Address)
        return true;
    const QIODevice* file = source.text == QLatin1String("-") ? nullptr : fileDevice(source.text);
    return file && !file->isSequential();
}

std::optional<QStringList> EntryReader::rest() const
{
    if (!listRead())
        return std::nullopt;
    QStringList addresses = m_found.sliced(m_nextFound);
    for (qsizetype i = m_index; i < m_sources.size(); ++i) {
        if (m_sources[i].kind != AddressSource::Kind::Address)
            return std::nullopt;
        if (m_extract)
            addresses << addressesInText(m_sources[i].text.toUtf8());
        else
            addresses << m_sources[i].text;
    }
    return addresses;
}

QString EntryReader::rejection(const ListedLine& line) const
{
    const QString longer = line.overlong ? QStringLiteral("longer than %1 bytes, ").arg(kLongestListLine) : QString();
    // Text is only rejected for its length, unread.
    const QString what = m_extract ? QStringLiteral("not searched") : QStringLiteral("not an address");
    // In one pass, so that a "%" in the file's name or the line is taken as it is.
    return QStringLiteral("%1:%2: %3%4: %5")
        .arg(platform::printable(m_sources[m_index - 1].text, kLongestShownName), QString::number(line.lineNumber),
             longer, what, platform::printable(line.text));
}

} // namespace vantor::cli

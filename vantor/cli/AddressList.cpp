// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/AddressList.h"

#include "vantor/cli/AddressesInText.h"

#include <QHostAddress>
#include <QIODevice>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace vantor::cli {

AddressListReader::AddressListReader(QIODevice& device, std::function<bool()> stopped, ListKind kind)
    : m_device(device)
    , m_stopped(std::move(stopped))
    , m_kind(kind)
{
}

namespace {

// The line's first bytes as text, without a character cut in two at the end.
QString overlongText(QByteArrayView start)
{
    qsizetype end = start.size();
    qsizetype lead = end;
    while (lead > 0 && (uchar(start[lead - 1]) & 0xc0) == 0x80)
        --lead;
    if (lead > 0 && uchar(start[lead - 1]) >= 0xc0) {
        const uchar first = uchar(start[lead - 1]);
        const qsizetype length = first >= 0xf0 ? 4 : first >= 0xe0 ? 3 : 2;
        if (end - (lead - 1) < length)
            end = lead - 1;
    }
    return QString::fromUtf8(start.first(end).trimmed()) + QChar(0x2026);
}

} // namespace

std::optional<ListedLine> AddressListReader::next()
{
    // The longest line, a CR LF and the zero readLine() ends with: whatever does not fit is too long.
    char buffer[kLongestListLine + 3];
    for (;;) {
        if (stopped())
            return std::nullopt;
        // Blocks on a pipe until its writer sends a line or closes it; even a blank line has its line break.
        const qint64 got = m_device.readLine(buffer, sizeof buffer);
        if (got <= 0)
            return std::nullopt;
        ++m_lineNumber;
        QByteArrayView line(buffer, got);
        const bool complete = line.endsWith('\n');
        if (complete)
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > kLongestListLine || (!complete && got == qint64(sizeof buffer) - 1)) {
            ListedLine overlong {
                overlongText(line.first(std::min(line.size(), kLongestListLine))), m_lineNumber, false, true, {}
            };
            // The rest of the line is passed over a buffer at a time, up to a stop: /dev/zero has no end.
            for (bool end = complete; !end && !stopped();) {
                const qint64 more = m_device.readLine(buffer, sizeof buffer);
                end = more <= 0 || buffer[more - 1] == '\n';
            }
            return overlong;
        }
        if (m_kind == ListKind::Text) {
            ListedLine text;
            text.found = addressesInText(line);
            if (text.found.isEmpty())
                continue;
            text.lineNumber = m_lineNumber;
            return text;
        }
        if (const qsizetype comment = line.indexOf('#'); comment >= 0)
            line.truncate(comment);
        const QByteArrayView trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        ListedLine listed;
        listed.text = QString::fromUtf8(trimmed);
        listed.lineNumber = m_lineNumber;
        listed.isAddress = isIpAddress(listed.text);
        return listed;
    }
}

DescriptorReader::DescriptorReader(int descriptor, int interruption)
    : m_descriptor(descriptor)
    , m_interruption(interruption)
{
    open(QIODevice::ReadOnly);
}

bool DescriptorReader::poll(int msecs) const
{
    pollfd descriptors[] = { { m_descriptor, POLLIN, 0 }, { m_interruption, POLLIN, 0 } };
    for (;;) {
        const int ready = ::poll(descriptors, m_interruption >= 0 ? 2 : 1, msecs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (m_interruption >= 0 && descriptors[1].revents != 0))
            return false;
        return descriptors[0].revents != 0;
    }
}

bool DescriptorReader::waitForReadyRead(int msecs)
{
    return bytesAvailable() > 0 || poll(msecs);
}

qint64 DescriptorReader::readData(char* data, qint64 maxSize)
{
    // QIODevice asks for nothing after a line to see whether more is there: that must not wait for the writer.
    if (maxSize <= 0)
        return 0;
    if (!poll(-1))
        return -1;
    for (;;) {
        const ssize_t got = ::read(m_descriptor, data, size_t(maxSize));
        if (got >= 0 || errno != EINTR)
            return got > 0 ? got : -1; // 0 is the end of the input
    }
}

bool isIpAddress(const QString& text)
{
    if (text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); }))
        return false;
    // Dotted decimal as inet_pton() takes it is exactly what QHostAddress writes back unchanged (four numbers up to
    // 255, no leading zeros), and much cheaper to check, line after line.
    if (text.size() <= 15 && !text.contains(QLatin1Char(':'))) {
        char latin1[16] = {};
        for (qsizetype i = 0; i < text.size(); ++i)
            latin1[i] = text[i].unicode() < 0x80 ? char(text[i].unicode()) : '?';
        in_addr ipv4 {};
        return ::inet_pton(AF_INET, latin1, &ipv4) == 1;
    }
    const QHostAddress address(text);
    switch (address.protocol()) {
    case QAbstractSocket::IPv4Protocol:
        return address.toString() == text;
    case QAbstractSocket::IPv6Protocol:
        return true;
    default:
        return false;
    }
}

} // namespace vantor::cli

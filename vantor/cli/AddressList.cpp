// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddressList.h"

#include <QHostAddress>
#include <QIODevice>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace vantor::cli {

AddressListReader::AddressListReader(QIODevice& device)
    : m_device(device)
{
}

std::optional<ListedLine> AddressListReader::next()
{
    for (;;) {
        // Blocks on a pipe until its writer sends a line or closes it; even a blank line has its line break.
        QByteArray line = m_device.readLine();
        if (line.isEmpty())
            return std::nullopt;
        ++m_lineNumber;
        const qsizetype comment = line.indexOf('#');
        if (comment >= 0)
            line.truncate(comment);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        ListedLine listed;
        listed.text = QString::fromUtf8(trimmed);
        listed.lineNumber = m_lineNumber;
        listed.isAddress = isIpAddress(listed.text);
        return listed;
    }
}

DescriptorReader::DescriptorReader(int descriptor)
    : m_descriptor(descriptor)
{
    open(QIODevice::ReadOnly);
}

qint64 DescriptorReader::readData(char* data, qint64 maxSize)
{
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

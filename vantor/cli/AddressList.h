// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class QIODevice;

namespace vantor::cli {

// One address a line: blank lines and everything from '#' on are ignored and the spaces around an address are
// trimmed.
struct ListedLine
{
    QString text; // trimmed, without its comment
    int lineNumber = 0; // from 1
    bool isAddress = false; // an IPv4 address in dotted decimal or an IPv6 address
};

// Reads the list line by line as it comes, so a pipe is looked up while it is still being written and a long list
// is never held whole.
class AddressListReader
{
public:
    explicit AddressListReader(QIODevice& device);

    // The next line that is not blank, or nothing at the end of the list.
    std::optional<ListedLine> next();

private:
    QIODevice& m_device;
    int m_lineNumber = 0;
};

// What a line of the list must be; also QHostAddress's looser forms ("127.1", "0x7f.1") are not addresses here.
bool isIpAddress(const QString& text);

} // namespace vantor::cli

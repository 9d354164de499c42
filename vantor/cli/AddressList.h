// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace vantor::cli {

// The longest line a list may have, its line break not counted. A longer one is rejected and never held whole: a
// list of addresses has no business with it, and a crafted one could otherwise take all the memory there is.
inline constexpr qsizetype kLongestListLine = 1024;

// How a list's lines are read: one address a line, or text that addresses stand in (a log, -x).
enum class ListKind { Addresses, Text };

// One address a line: blank lines and everything from '#' on are ignored and the spaces around an address are
// trimmed. Of text, the lines that hold an address (addressesInText()), '#' and all.
struct ListedLine
{
    QString text; // trimmed, without its comment; of an overlong line its first bytes and "…"; empty of text
    int lineNumber = 0; // from 1
    bool isAddress = false; // an IPv4 address in dotted decimal or an IPv6 address
    bool overlong = false; // longer than kLongestListLine, so not read to its end
    QStringList found; // of text: the addresses in the line, in order, never none (but for an overlong line)
};

// Reads the list line by line as it comes, so a pipe is looked up while it is still being written and a long list
// is never held whole, nor a long line.
class AddressListReader
{
public:
    // Once `stopped` (when given) says yes, the list ends there, even within a line that never ends: a file of
    // zeros or a huge one is not read on after Ctrl-C.
    explicit AddressListReader(QIODevice& device, std::function<bool()> stopped = {},
                               ListKind kind = ListKind::Addresses);

    // The next line that is not blank (of text: that holds an address, or is overlong), or nothing at the end of
    // the list.
    std::optional<ListedLine> next();

private:
    bool stopped() const { return m_stopped && m_stopped(); }

    QIODevice& m_device;
    std::function<bool()> m_stopped;
    ListKind m_kind;
    int m_lineNumber = 0;
};

// Standard input or a FIFO for reading, taking what a pipe has at hand instead of waiting to fill a buffer: QFile
// would wait for a whole block, holding back answers to a slow writer, would not say how much input is already read
// ahead, and its read would go on through Ctrl-C. Once `interruption` (when given) is readable, the input ends there:
// a read blocked on a silent pipe gives way to Ctrl-C. Every read waits in poll() first, so a FIFO that has not had
// a writer yet waits for one (a read() would find its end at once).
class DescriptorReader : public QIODevice
{
public:
    explicit DescriptorReader(int descriptor, int interruption = -1);
    bool isSequential() const override { return true; }
    bool waitForReadyRead(int msecs) override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    // Until the descriptor has input (true) or the time passed or the interruption came (false); -1 waits as long
    // as it takes.
    bool poll(int msecs) const;

    int m_descriptor;
    int m_interruption;
};

// What a line of the list must be; also QHostAddress's looser forms ("127.1", "0x7f.1") are not addresses here.
bool isIpAddress(const QString& text);

} // namespace vantor::cli

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/FileDescriptor.h"
#include "platform/Result.h"
#include "vantor/cli/AddressList.h"
#include "vantor/cli/CommandLine.h"

#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace vantor::cli {

// One entry of the input: an address to look up, or a list's line that is none.
struct Entry
{
    enum class Kind { Address, Rejected };
    QString query; // the address, or the line as it was read
    Kind kind = Kind::Address;
    QString rejection = {}; // for a rejected line: what standard error says of it, naming the list and the line
};

// The sources one after another: addresses as they are, lists line by line. It only reads: what is to be said of
// an entry or of a list that cannot be read is said by its caller.
class EntryReader
{
public:
    // A FIFO's read gives way once `interruption` is readable, and a list is read no further once `stopRequested`
    // says yes; standard input comes as its caller made it.
    EntryReader(const QList<AddressSource>& sources, QIODevice* standardInput, int interruption = -1,
                std::function<bool()> stopRequested = {});

    // Opens every list first, so a list that cannot be read stops everything before the first lookup. A list is a
    // regular file or a FIFO: a device (/dev/zero), a folder or a socket is refused, and a FIFO without a writer
    // is not waited for here. Fails with the line for standard error.
    platform::Status<QString> open();

    // How many entries the input has, when that can be known without keeping it: the command line's addresses and
    // the lines of lists in regular files, read through once before the lookups. Nothing for a pipe.
    std::optional<qsizetype> count();

    std::optional<Entry> next();

    // Every line, of a list or the command line, read as text (-x): each address standing in it is an entry of its
    // own, in order, and a line without one is none.
    void extractAddresses() { m_extract = true; }

    // Whether the next entry can be had without waiting for a writer at the other end of a pipe.
    bool moreAtHand() const;

    // Whether more input came within that time.
    bool waitForMore(int msecs) const { return moreAtHand() || (m_device && m_device->waitForReadyRead(msecs)); }

    // Whether nothing more will come. A pipe may always have more.
    bool atEnd() const { return m_nextFound >= m_found.size() && m_index >= m_sources.size() && listRead(); }

    // The addresses still to be read, when they are all the command line's.
    std::optional<QStringList> rest() const;

private:
    ListKind listKind() const { return m_extract ? ListKind::Text : ListKind::Addresses; }
    bool listRead() const { return !m_device || (!m_device->isSequential() && m_device->atEnd()); }

    QString rejection(const ListedLine& line) const;

    // A list named with -f: a regular file read through QFile (it can be counted and is all there) or a FIFO read
    // as standard input is.
    struct ListFile
    {
        platform::FileDescriptor descriptor;
        std::unique_ptr<QIODevice> device; // reads the descriptor, which outlives it
    };

    QIODevice* fileDevice(const QString& name) const;

    const QList<AddressSource>& m_sources;
    QIODevice* m_standardInput;
    int m_interruption;
    std::function<bool()> m_stopRequested;
    QHash<QString, std::shared_ptr<ListFile>> m_files;
    qsizetype m_index = 0;
    bool m_extract = false;
    QStringList m_found; // of the line at hand, with extractAddresses()
    qsizetype m_nextFound = 0;
    QIODevice* m_device = nullptr;
    std::unique_ptr<AddressListReader> m_list;
};

} // namespace vantor::cli

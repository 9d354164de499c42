// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as lines of text given with -x: every address found is one a list would take, and stands in its line,
// in order, as a word of its own; the reader of text finds the same in each line.
#include "vantor/cli/AddressList.h"
#include "vantor/cli/AddressesInText.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool wordByte(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Where the address stands in the line from `from` on as a whole word (a colon may come before an IPv4 address, a
// full stop or a colon after any), or -1.
qsizetype standing(QByteArrayView line, const QByteArray& address, qsizetype from)
{
    for (qsizetype at = line.indexOf(address, from); at >= 0; at = line.indexOf(address, at + 1)) {
        const qsizetype end = at + address.size();
        const bool before = at == 0
            || (!wordByte(line[at - 1]) && line[at - 1] != '.' && (line[at - 1] != ':' || !address.contains(':')));
        if (before && (end == line.size() || !wordByte(line[end])))
            return at;
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<QByteArray> lines = bytes.split('\n');
    QList<QStringList> found;
    for (QByteArrayView line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        found << vantor::cli::addressesInText(line);
        qsizetype from = 0;
        for (const QString& address : found.back()) {
            if (!vantor::cli::isIpAddress(address) || address == QLatin1String("::"))
                std::abort();
            const qsizetype at = standing(line, address.toLatin1(), from);
            if (at < 0)
                std::abort();
            from = at + address.size();
        }
    }

    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    vantor::cli::AddressListReader reader(device, {}, vantor::cli::ListKind::Text);
    int previous = 0;
    while (const std::optional<vantor::cli::ListedLine> line = reader.next()) {
        if (line->lineNumber <= previous || line->lineNumber > lines.size()
            || (!line->overlong && line->found != found[line->lineNumber - 1])
            || (line->overlong && !line->found.isEmpty()))
            std::abort();
        previous = line->lineNumber;
    }
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a list given with -f or piped in, read to its end.
#include "vantor/cli/AddressList.h"

#include <QBuffer>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    vantor::cli::AddressListReader reader(device);
    int previous = 0;
    while (const std::optional<vantor::cli::ListedLine> line = reader.next()) {
        // Lines come in order, never blank, never with their comment, never longer than the bound.
        if (line->lineNumber <= previous || line->text.isEmpty()
            || line->text.size() > vantor::cli::kLongestListLine + 1
            || (!line->overlong && line->text.contains(QLatin1Char('#'))) || (line->overlong && line->isAddress))
            std::abort();
        previous = line->lineNumber;
    }
    return 0;
}

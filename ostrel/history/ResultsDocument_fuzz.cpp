// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a results document, the way --compare and the history window's import read a file; a document
// that reads is written back out, as an export of it would be.
#include "ostrel/history/ResultsDocument.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto document = ostrel::history::readResultsDocument(bytes);
    if (document)
        (void)ostrel::history::writeResultsDocument(*document);
    return 0;
}

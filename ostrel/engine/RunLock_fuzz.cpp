// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the run lock file's content, the way a refused run reads who holds the lock.
#include "ostrel/engine/RunLock.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)ostrel::RunLock::holderFrom(bytes);
    return 0;
}

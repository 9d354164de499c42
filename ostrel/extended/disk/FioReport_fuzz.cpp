// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as fio's standard output, the way the disk test reads it after each job.
#include "ostrel/extended/disk/FioReport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto reading = ostrel::disk::readFioReport(bytes);
    // A report always has a job; a reading without one says why.
    if (reading ? reading->jobs.isEmpty() : reading.error().reason.isEmpty())
        __builtin_trap();
    return 0;
}

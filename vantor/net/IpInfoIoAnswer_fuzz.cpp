// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as an answer of the ipinfo format, under each status that reader tells apart, and its rows.
#include "vantor/net/IpInfo.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    for (int status : { 200, 401, 404, 429 }) {
        const vantor::WebAnswer web { status, bytes, {} };
        (void)vantor::ipInfoFormat(vantor::IpInfoFormat::IpInfo).readAnswer(web).rows();
    }
    return 0;
}

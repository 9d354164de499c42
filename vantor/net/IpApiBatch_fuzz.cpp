// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the batch endpoint's answer to a request for three addresses, with and without a 429.
#include "vantor/net/IpApiBatch.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QStringList addresses { QStringLiteral("142.250.7.7"), QStringLiteral("2001:67c::1"),
                                         QStringLiteral("9.9.9.10") };
    vantor::WebAnswer web;
    web.status = size > 0 && data[0] == '!' ? 429 : 200;
    web.body = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
    web.headers = { { "X-Rl", web.body.left(3) }, { "X-Ttl", web.body.mid(3, 3) } };
    const vantor::IpApiBatchAnswer answer = vantor::readIpApiBatchAnswer(web, addresses);
    if (answer.answers.size() != addresses.size())
        std::abort();
    for (const vantor::IpInfoAnswer& entry : answer.answers)
        (void)entry.rows();
    return 0;
}

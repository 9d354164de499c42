// SPDX-License-Identifier: GPL-3.0-or-later
// Any answer of the IP-information service, read by the format this target is built for (FUZZED_FORMAT), as the
// window and vantor-cli read it: its kind, its rows and its rate-limit headers.
#include "vantor/net/IpInfo.h"
#include "vantor/testing/FuzzedAnswer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const vantor::IpInfoAnswer answer
        = vantor::ipInfoFormat(vantor::IpInfoFormat::FUZZED_FORMAT).readAnswer(vantor::fuzz::answerFrom(data, size));
    const QList<vantor::InfoRow> rows = answer.rows();
    if (answer.kind == vantor::IpInfoAnswer::Kind::Rows && rows.size() != qsizetype(vantor::kInfoFieldCount))
        __builtin_trap();
    (void)vantor::rowsAsText(rows);
    return 0;
}

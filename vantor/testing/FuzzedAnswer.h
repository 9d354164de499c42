// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Fetch.h"

#include <cstddef>
#include <cstdint>

namespace vantor::fuzz {

// A web answer made of fuzzed bytes laid out as the wire has them: a first line with the status ("200"), header
// lines ("X-Rl: 44") up to an empty line, then the body. Bytes without that shape are all body, status 200.
inline WebAnswer answerFrom(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    WebAnswer answer { 200, bytes, {} };
    const qsizetype headEnd = bytes.indexOf("\n\n");
    if (headEnd < 0)
        return answer;
    const QList<QByteArray> lines = bytes.left(headEnd).split('\n');
    bool isNumber = false;
    const int status = lines.constFirst().trimmed().toInt(&isNumber);
    if (!isNumber)
        return answer;
    answer.status = status;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            answer.headers.append({ lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed() });
    }
    answer.body = bytes.mid(headEnd + 2);
    return answer;
}

} // namespace vantor::fuzz

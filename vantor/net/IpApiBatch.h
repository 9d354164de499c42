// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Fetch.h"
#include "vantor/net/IpInfo.h"
#include "vantor/net/Services.h"

#include <QList>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>

namespace vantor {

// ip-api's batch endpoint: a POST of a JSON array of up to this many addresses, answered by an array of the
// single lookup's objects. Its free service allows 15 such requests a minute, with X-Rl and X-Ttl on every answer.
inline constexpr qsizetype kIpApiBatchLimit = 100;

// Its limit counts requests per minute, so its reset is never further away than this.
inline constexpr std::chrono::seconds kIpApiLongestWait { 60 };

// X-Ttl as a wait: the seconds it says, at most kIpApiLongestWait, which is also the wait when it says nothing.
std::chrono::seconds ipApiWait(std::optional<int> secondsUntilReset);

QString ipApiBatchRequestUrl(const QString& batchUrl);
QByteArray ipApiBatchBody(const QStringList& addresses);

struct IpApiBatchAnswer
{
    QList<IpInfoAnswer> answers; // one for each address, in the order of the addresses
    std::optional<int> requestsLeft;
    std::optional<int> secondsUntilReset;
};

// Each entry of the answer goes to the address its "query" names, whatever the order; an address without one is
// unreadable, and so is every address when the answer is not an array of objects. A 429 is rate-limited for all.
IpApiBatchAnswer readIpApiBatchAnswer(const WebAnswer& web, const QStringList& addresses);

// One request for up to kIpApiBatchLimit addresses. After a 429 it waits for the limit to reset and asks once
// more. The failure says why the service did not answer at all.
platform::Result<IpApiBatchAnswer, FetchFailure>
lookUpIpApiBatch(const ServiceConfig& services, const QStringList& addresses,
                 const std::function<void(std::chrono::seconds)>& wait);

} // namespace vantor

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <chrono>

namespace vantor {

// How the IP-information service is asked and how its answers read; each has an adapter in IpInfo.cpp.
enum class IpInfoFormat {
    IpApi, // ip-api.com's JSON: the address in the path, "status" and flat members
    GetIpInfo, // a prefix ending in "/service/getIpInfo.php?ip=", answers with "code" and "data"
    Mmdb, // a local MaxMind DB file, no network at all
};

// The public services Vantor talks to when nothing else is configured. Nothing else in the program names them.
// ip-api.com offers its free service over plain HTTP only.
inline constexpr char kIpApiServicePrefix[] = "http://ip-api.com/json/";
inline constexpr char kMyAddressServiceUrl[] = "http://icanhazip.com/";
// ip-api's batch endpoint: up to 100 addresses a request, 15 requests a minute.
inline constexpr char kIpApiBatchServiceUrl[] = "http://ip-api.com/batch";

// How long a whole exchange may take, from the call until the answer is in hand.
inline constexpr std::chrono::milliseconds kInternetDataTimeout { 5000 };
inline constexpr std::chrono::milliseconds kInternetStringTimeout { 3000 };

// Where the lookups send their requests and how long they wait. The defaults are the public services; the
// configuration file and the command line change them, tests and benchmarks point them at a server of their own.
struct ServiceConfig
{
    IpInfoFormat ipInfoFormat = IpInfoFormat::IpApi;
    QString ipInfoPrefix = QString::fromLatin1(kIpApiServicePrefix);
    QString myAddressUrl = QString::fromLatin1(kMyAddressServiceUrl);
    std::chrono::milliseconds ipInfoTimeout = kInternetDataTimeout;
    std::chrono::milliseconds myAddressTimeout = kInternetStringTimeout;
    QString ipApiBatchUrl = QString::fromLatin1(kIpApiBatchServiceUrl); // empty: one request per address
    // The mmdb format's City database and, for the carrier, an optional ASN database.
    QString ipInfoDatabase;
    QString asnDatabase;
};

} // namespace vantor

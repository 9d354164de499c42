// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>

namespace vantor {

// How the IP-information service is asked and how its answers read; each has an adapter in IpInfo.cpp.
enum class IpInfoFormat {
    IpApi, // ip-api.com's JSON: the address in the path, "status" and flat members
    GetIpInfo, // a prefix ending in "/service/getIpInfo.php?ip=", answers with "code" and "data"
    IpWhois, // ipwho.is: the address in the path, "success" and flat members, the carrier under "connection"
    IpInfo, // ipinfo.io: PREFIX + ADDRESS + "/json", an optional access token, "bogon" for private ranges
    Mmdb, // a local MaxMind DB file, no network at all
};

// The public services Vantor talks to when nothing else is configured. Nothing else in the program names them.
// ip-api.com offers its free service over plain HTTP only.
inline constexpr char kIpApiServicePrefix[] = "http://ip-api.com/json/";
inline constexpr char kIpWhoisServicePrefix[] = "https://ipwho.is/";
inline constexpr char kIpInfoServicePrefix[] = "https://ipinfo.io/";

// The my-address services, all asked at once. A URL ending in #ipv4 or #ipv6 is for that family only: its answer
// must be an address of it. Without a fragment, whichever family the answer has. The fragment is never sent.
inline constexpr const char* kMyAddressServiceUrls[] = {
    "https://ipv4.icanhazip.com/#ipv4",    "https://api.ipify.org/#ipv4",      "https://v4.ident.me/#ipv4",
    "https://checkip.amazonaws.com/#ipv4", "https://ipv6.icanhazip.com/#ipv6", "https://api6.ipify.org/#ipv6",
    "https://v6.ident.me/#ipv6",
};

inline QStringList defaultMyAddressUrls()
{
    QStringList urls;
    for (const char* url : kMyAddressServiceUrls)
        urls << QString::fromLatin1(url);
    return urls;
}

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
    // Sent as "Authorization: Bearer" to the ipinfo format's service only; empty for none.
    QString ipInfoToken;
    QStringList myAddressUrls = defaultMyAddressUrls();
    std::chrono::milliseconds ipInfoTimeout = kInternetDataTimeout;
    // For the whole search of the own addresses, both families, from the first request to the last abort.
    std::chrono::milliseconds myAddressTimeout = kInternetStringTimeout;
    QString ipApiBatchUrl = QString::fromLatin1(kIpApiBatchServiceUrl); // empty: one request per address
    // The mmdb format's City databases (an address is looked up in the first that holds its family) and, for the
    // carrier, an optional ASN database.
    QStringList ipInfoDatabases;
    QString asnDatabase;
};

} // namespace vantor

#pragma once

#include <QString>
#include <chrono>

namespace vantor {

// The two public services Vantor talks to. Nothing else in the program names them.
inline constexpr char kIpInfoServicePrefix[] = "http://ip.taobao.com/service/getIpInfo.php?ip=";
inline constexpr char kMyAddressServiceUrl[] = "http://icanhazip.com/";

// How long a whole exchange may take, from the call until the answer is in hand.
inline constexpr std::chrono::milliseconds kInternetDataTimeout { 5000 };
inline constexpr std::chrono::milliseconds kInternetStringTimeout { 3000 };

// Where the window controller sends its requests and how long it waits. The defaults are the real services;
// tests and benchmarks point it at a server of their own.
struct ServiceConfig
{
    QString ipInfoPrefix = QString::fromLatin1(kIpInfoServicePrefix);
    QString myAddressUrl = QString::fromLatin1(kMyAddressServiceUrl);
    std::chrono::milliseconds ipInfoTimeout = kInternetDataTimeout;
    std::chrono::milliseconds myAddressTimeout = kInternetStringTimeout;
};

} // namespace vantor

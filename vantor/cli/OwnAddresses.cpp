// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/cli/OwnAddresses.h"

#include "platform/PrintableText.h"
#include "vantor/cli/ExitStatus.h"
#include "vantor/cli/Output.h"
#include "vantor/net/OwnAddress.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>

namespace vantor::cli {

namespace {

// This machine's addresses, IPv4 first; when neither was found, the reason goes to `err`.
OwnAddresses findOwn(const ServiceConfig& services, QIODevice& err)
{
    const OwnAddresses found = findOwnAddresses(services.myAddressUrls, services.myAddressTimeout);
    if (!found.ipv4 && !found.ipv6)
        write(err,
              QStringLiteral("vantor-cli: 没有得到本机的公网地址：%1\n")
                  .arg(platform::printable(found.lastFailure, kLongestShownName)));
    return found;
}

} // namespace

// The search for this machine's addresses, IPv4 first; none (and the reason on `err`) when both failed.
QStringList findOwnAddressList(const ServiceConfig& services, QIODevice& err)
{
    const OwnAddresses found = findOwn(services, err);
    QStringList addresses;
    for (const std::optional<QString>& address : { found.ipv4, found.ipv6 }) {
        if (address)
            addresses << *address;
    }
    return addresses;
}

int printOwnAddresses(const ServiceConfig& services, bool json, QIODevice& out, QIODevice& err)
{
    const OwnAddresses found = findOwn(services, err);
    const bool none = !found.ipv4 && !found.ipv6;
    if (json) {
        const auto value = [](const std::optional<QString>& address) {
            return address ? QJsonValue(*address) : QJsonValue(QJsonValue::Null);
        };
        const QJsonObject report { { QStringLiteral("ipv4"), value(found.ipv4) },
                                   { QStringLiteral("ipv6"), value(found.ipv6) } };
        write(out, QString::fromUtf8(QJsonDocument(report).toJson()));
    } else {
        for (const std::optional<QString>& address : { found.ipv4, found.ipv6 }) {
            if (address)
                write(out, *address + QLatin1Char('\n'));
        }
    }
    return none ? kExitNoNetwork : kExitAnswered;
}

} // namespace vantor::cli

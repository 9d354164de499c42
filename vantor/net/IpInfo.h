// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Fetch.h"
#include "vantor/net/InfoRow.h"
#include "vantor/net/Services.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <array>
#include <optional>
#include <span>

namespace vantor {

// The five things a lookup tells, in the order the table and vantor-cli show them.
struct InfoField
{
    const char16_t* key; // the row's "Key"
    const char* name; // its name in vantor-cli's JSON
};

inline constexpr InfoField kInfoFields[] = {
    { u"IP", "ip" }, { u"国家", "country" }, { u"地区", "region" }, { u"城市", "city" }, { u"运营商", "isp" },
};
inline constexpr std::size_t kInfoFieldCount = std::size(kInfoFields);

// What an answer of the IP-information service means, whatever its format.
struct IpInfoAnswer
{
    enum class Kind {
        Rows, // five values to show
        Rejected, // the service refused the address
        RateLimited, // the service refused to answer now: too many requests
        TokenRefused, // the service did not accept the access token (or wants one)
        Unreadable, // not an answer of the configured format
        NotFound, // the local database has no entry for the address
        Unavailable, // the local database cannot be used; `problem` says why
    };

    Kind kind = Kind::Unreadable;
    // In kInfoFields order, for Rows; absent where the service gave no text or an empty one.
    std::array<std::optional<QString>, kInfoFieldCount> values;
    // The service's rate limit as the answer reports it: requests left and seconds until the limit resets.
    std::optional<int> requestsLeft;
    std::optional<int> secondsUntilReset;
    // For Kind::Unavailable: what is wrong, naming the file.
    QString problem;
    // For Rows of a local database: the network it holds the address in ("142.250.7.0/24"). Services do not say.
    std::optional<QString> network;

    // An answer of that kind and nothing else.
    static IpInfoAnswer ofKind(Kind kind);

    // The table's rows, "未知" where a value is absent; none unless Kind::Rows.
    QList<InfoRow> rows() const;
};

// One IP-information format: how a request for an address is made and how its answer reads, or, for a format
// without a service, how the address is looked up on this machine.
struct IpInfoFormatAdapter
{
    IpInfoFormat format;
    const char* name; // as the configuration spells it
    const char* defaultPrefix; // empty when there is no public service of this format
    QString (*requestUrl)(const QString& prefix, const QString& address);
    IpInfoAnswer (*readAnswer)(const WebAnswer& answer);
    // Headers the request carries besides Qt's own; none when null.
    HeaderList (*requestHeaders)(const ServiceConfig& services) = nullptr;
    // Set for a local format, whose lookups need no network; requestUrl and readAnswer are unset then.
    IpInfoAnswer (*lookUpLocally)(const ServiceConfig& services, const QString& address) = nullptr;
};

std::span<const IpInfoFormatAdapter> ipInfoFormats();
const IpInfoFormatAdapter& ipInfoFormat(IpInfoFormat format);
// Null for a name no format has.
const IpInfoFormatAdapter* ipInfoFormatNamed(const QString& name);

// The request for the address, which is appended as it is: no trimming, no escaping, no check of its form.
QString ipInfoRequestUrl(const ServiceConfig& services, const QString& address);

// The whole request for the address: ipInfoRequestUrl() and the format's headers.
WebRequest ipInfoRequest(const ServiceConfig& services, const QString& address);

// One ip-api answer object, whose "status" is "success" or "fail": the single lookup's answer and each entry of a
// batch answer. Anything else is unreadable.
IpInfoAnswer readIpApiObject(const QJsonObject& object);

// Rows as "Key<TAB>Value" lines, each ending in a line break.
QString rowsAsText(const QList<InfoRow>& rows);

} // namespace vantor

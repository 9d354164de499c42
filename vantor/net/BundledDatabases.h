// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/IpInfo.h"
#include "vantor/net/Services.h"

#include <QDate>
#include <QString>
#include <optional>

namespace vantor {

// Where the vantor-ip-data package puts its MaxMind DB files, under a data folder of the XDG base directories
// (/usr/share, /usr/local/share, or what XDG_DATA_DIRS names).
inline constexpr char kBundledCountryDatabase[] = "vantor/country.mmdb";
inline constexpr char kBundledAsnDatabase[] = "vantor/asn.mmdb";

// A database the vantor-ip-data package installs older than this many days is said to be old.
inline constexpr int kBundledDataFreshDays = 180;

// The bundled databases found, in the first data folder that holds each; an empty path for one not found.
struct BundledDatabases
{
    QString country; // a country record per network: {"country_code": "US"}
    QString asn; // autonomous_system_number and autonomous_system_organization per network
    bool any() const { return !country.isEmpty() || !asn.isEmpty(); }
};

// Looked for at each call: XDG_DATA_DIRS is read then.
BundledDatabases bundledDatabases();

struct DatabaseAge;

// What the bundled databases answer for an address, and when the one that gives the country was built.
struct BundledAnswer
{
    IpInfoAnswer answer;
    QDate built; // in UTC
    bool stale = false; // built more than kBundledDataFreshDays days ago
};

// Nothing when no bundled country database is installed or it cannot be opened.
std::optional<BundledAnswer> lookUpInBundledDatabases(const QString& address);

// The date a database was built, from its metadata's build_epoch (UTC).
QDate buildDate(std::uint64_t buildEpoch);

// "来源：本地数据库（2026-06-17）", and when `stale`, that its answers may be out of date.
QString localSourceLine(QDate built, bool stale);

// What the version and about texts say of the bundled databases: when each found was built (its build_epoch, as
// YYYY-MM-DD in UTC) and whose data they hold, under which licences; or that none is installed. No path: the manual
// page is made from this text on the build machine.
QString bundledDataText(const BundledDatabases& found);

} // namespace vantor

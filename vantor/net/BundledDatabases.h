// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

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

} // namespace vantor

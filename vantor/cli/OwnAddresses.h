// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Services.h"

#include <QStringList>

class QIODevice;

namespace vantor::cli {

// This machine's public addresses, IPv4 first; none (and the reason on `err`) when both searches failed.
QStringList findOwnAddressList(const ServiceConfig& services, QIODevice& err);

// vantor-cli --own: this machine's public addresses on `out`, IPv4 first, one a line, or with `json` one object
// {"ipv4": …, "ipv6": …} with null for a family not found. When neither is found, the reason goes to `err` and the
// exit status is kExitNoNetwork.
int printOwnAddresses(const ServiceConfig& services, bool json, QIODevice& out, QIODevice& err);

} // namespace vantor::cli

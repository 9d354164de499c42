// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

namespace vantor {

// The address in the my-address service's answer: the answer without its one trailing line break ("\n" or
// "\r\n"), when that is an IPv4 address in dotted decimal or an IPv6 address. Anything else (a page of a
// captive portal, an empty answer, stray spaces) is no address.
std::optional<QString> ownAddressFromAnswer(const QString& answer);

} // namespace vantor

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QStringList>

namespace vantor::cli {

// The IPv4 and IPv6 addresses that stand in a line of text (a log's) as words of their own, in order, each as
// isIpAddress() takes a list's line. A word runs over ASCII letters, digits, '_', '.' and ':', so a version
// ("1.2.3.4.5", "v1.2.3.4"), a time ("10:32:01"), a MAC address or a name ("ns::abc::def") holds none; any other
// character parts words, Chinese ones too ("来自1.2.3.4"). A full stop or colon after the address ends it
// ("from 1.2.3.4."), and so does a port after a colon
// ("1.2.3.4:8080") or an IPv6 zone ("fe80::1%eth0"); "::" alone is no address here.
QStringList addressesInText(QByteArrayView line);

} // namespace vantor::cli

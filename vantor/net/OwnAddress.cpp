// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/OwnAddress.h"

#include <QHostAddress>
#include <algorithm>

namespace vantor {

std::optional<QString> ownAddressFromAnswer(const QString& answer)
{
    QString text = answer;
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    else if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);

    // QHostAddress forgives surrounding spaces and short forms such as "127.1"; what is printed and looked up must
    // be the address exactly as the service wrote it.
    if (text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); }))
        return std::nullopt;
    const QHostAddress address(text);
    switch (address.protocol()) {
    case QAbstractSocket::IPv4Protocol:
        if (address.toString() != text)
            return std::nullopt;
        return text;
    case QAbstractSocket::IPv6Protocol:
        return text;
    default:
        return std::nullopt;
    }
}

} // namespace vantor

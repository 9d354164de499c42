#pragma once

#include "vantor/InfoRow.h"

#include <QByteArray>
#include <QList>

namespace vantor {

// What an answer of the IP-information service means for the table.
struct IpInfoAnswer
{
    enum class Kind {
        Rows, // five rows to show
        Rejected, // the service refused the address ("code" 1)
        Unreadable, // not a JSON object with a numeric "code" and, unless rejected, a "data" object
    };

    Kind kind = Kind::Unreadable;
    QList<InfoRow> rows;
};

// Reads the service's JSON answer. The rows come in a fixed order whatever the order of the members; a member
// that is empty, missing or not a text shows as "未知".
IpInfoAnswer readIpInfoAnswer(const QByteArray& body);

} // namespace vantor

// SPDX-License-Identifier: GPL-3.0-or-later
#include "Csv.h"

namespace vantor::cli {

QByteArray csvRecord(std::initializer_list<QString> fields)
{
    QByteArray record;
    bool first = true;
    for (const QString& field : fields) {
        if (!first)
            record += ',';
        first = false;
        QByteArray bytes = field.toUtf8();
        if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r')) {
            bytes.replace("\"", "\"\"");
            bytes = '"' + bytes + '"';
        }
        record += bytes;
    }
    record += "\r\n";
    return record;
}

} // namespace vantor::cli

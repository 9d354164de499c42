// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Csv.h"

namespace platform {

QString csvField(const QString& text)
{
    QString field;
    appendCsvField(field, text);
    return field;
}

QString csvRecord(const QStringList& fields, CsvLineEnd end)
{
    QString record;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            record += QLatin1Char(',');
        appendCsvField(record, fields[i]);
    }
    record += end == CsvLineEnd::CrLf ? QLatin1String("\r\n") : QLatin1String("\n");
    return record;
}

} // namespace platform

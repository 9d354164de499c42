// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Csv.h"

namespace platform {

QString csvField(const QString& text)
{
    const bool quoted = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quoted)
        return text;
    QString field = text;
    field.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QString csvRecord(const QStringList& fields, CsvLineEnd end)
{
    QString record;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            record += QLatin1Char(',');
        record += csvField(fields[i]);
    }
    record += end == CsvLineEnd::CrLf ? QLatin1String("\r\n") : QLatin1String("\n");
    return record;
}

} // namespace platform

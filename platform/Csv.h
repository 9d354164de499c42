// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// How a CSV record ends: RFC 4180 asks for CRLF; files written for spreadsheets and scripts on Linux often use LF.
enum class CsvLineEnd { Lf, CrLf };

// One field as RFC 4180 writes it: in double quotes, with its quotes doubled, when it holds a comma, a double quote
// or a line break; as it is otherwise.
QString csvField(const QString& text);

// The fields joined by commas, each written by csvField(), and the line end.
QString csvRecord(const QStringList& fields, CsvLineEnd end);

} // namespace platform

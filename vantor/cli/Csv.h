// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <initializer_list>

namespace vantor::cli {

// One CSV record as RFC 4180 writes it, in UTF-8 without a byte-order mark: fields joined by commas, a field with a
// comma, a double quote or a line break in double quotes with its quotes doubled, and CRLF at the end.
QByteArray csvRecord(std::initializer_list<QString> fields);

} // namespace vantor::cli

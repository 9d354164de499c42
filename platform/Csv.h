// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <algorithm>
#include <iterator>
#include <type_traits>

namespace platform {

// How a CSV record ends: RFC 4180 asks for CRLF; files written for spreadsheets and scripts on Linux often use LF.
enum class CsvLineEnd { Lf, CrLf };

// One field as RFC 4180 writes it, appended to `to`: in double quotes, with its quotes doubled, when it holds a
// comma, a double quote or a line break; as it is otherwise. For texts (QString, QStringView) and for bytes
// (std::string, std::string_view), so that rows written straight as UTF-8 bytes and rows written as texts quote
// alike.
template <typename Out, typename Text> void appendCsvField(Out& to, const Text& text)
{
    using Char = std::remove_cvref_t<decltype(*std::begin(text))>;
    const Char quote = Char(u'"');
    const bool quoted = std::any_of(std::begin(text), std::end(text), [](Char c) {
        return c == Char(u',') || c == Char(u'"') || c == Char(u'\n') || c == Char(u'\r');
    });
    if (!quoted) {
        to.append(text);
        return;
    }
    to += quote;
    for (const Char c : text) {
        if (c == quote)
            to += quote;
        to += c;
    }
    to += quote;
}

// One field, written by appendCsvField().
QString csvField(const QString& text);

// The fields joined by commas, each written by csvField(), and the line end.
QString csvRecord(const QStringList& fields, CsvLineEnd end);

} // namespace platform

#pragma once

#include "vantor/Services.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>

namespace vantor {

// A longer answer is treated as a failed fetch, so a misbehaving service cannot exhaust memory.
inline constexpr qsizetype kMaxBodySize = 1024 * 1024;

// Plain GET of the URL text as given (not trimmed, not escaped), blocking the caller until the answer is in or
// the time-out has passed; the window keeps repainting meanwhile but no user input is handled. The body of any
// HTTP status is the result; nothing comes back when there is no body at all: no connection, time-out, a text
// that is not a URL, or a body over kMaxBodySize.
std::optional<QByteArray> fetchBody(const QString& urlText, std::chrono::milliseconds timeout);

// The body as bytes. A failed fetch shows the network alert and gives empty bytes; *ok tells it apart from a
// service that answered with an empty body.
QByteArray internetData(const QString& urlText, bool* ok = nullptr,
                        std::chrono::milliseconds timeout = kInternetDataTimeout);

// The body as UTF-8 text, silently: empty after a failed fetch, absent when the body is not valid UTF-8.
std::optional<QString> initWithInternetString(const QString& urlText,
                                              std::chrono::milliseconds timeout = kInternetStringTimeout);

} // namespace vantor

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/Fetch.h"
#include "vantor/net/Services.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>

namespace vantor {

// The window's two fetches, over fetchAnswer(): the window keeps repainting while one waits, but no user input is
// handled until it returns.

// The whole answer. When none came, the network alert is shown and nothing is returned.
std::optional<WebAnswer> internetAnswer(const QString& urlText,
                                        std::chrono::milliseconds timeout = kInternetDataTimeout);
// The same with the request's headers. A service that fails the TLS check gets its own alert, naming the reason.
std::optional<WebAnswer> internetAnswer(const WebRequest& request,
                                        std::chrono::milliseconds timeout = kInternetDataTimeout);

// The body as bytes, empty when the service answered with an empty body. A failed fetch shows the network alert
// and gives none.
std::optional<QByteArray> internetData(const QString& urlText,
                                       std::chrono::milliseconds timeout = kInternetDataTimeout);

// The body as UTF-8 text, silently: empty after a failed fetch, absent when the body is not valid UTF-8.
std::optional<QString> initWithInternetString(const QString& urlText,
                                              std::chrono::milliseconds timeout = kInternetStringTimeout);

} // namespace vantor

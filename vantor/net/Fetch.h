// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <chrono>
#include <optional>

namespace vantor {

// A longer answer is treated as a failed fetch, so a misbehaving service cannot exhaust memory.
inline constexpr qsizetype kMaxBodySize = 1024 * 1024;

// What a web service answered: any HTTP status with its headers and body.
struct WebAnswer
{
    int status = 0;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    // The value of the first header of that name (names compare without regard to case); empty when absent.
    QByteArray header(QByteArrayView name) const;
    // That header as a number of zero or more; absent when missing or not one.
    std::optional<int> headerNumber(QByteArrayView name) const;
};

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// A GET of the URL text as given (not trimmed, not escaped), with extra request headers; a POST when it has a body.
struct WebRequest
{
    QString url;
    HeaderList headers = {};
    std::optional<QByteArray> postBody = {};
    QByteArray contentType = {};
};

// Why no answer came. The reason is Qt's text for the failure, never the request's headers.
struct FetchFailure
{
    enum class Kind {
        Network, // any other failure: not a URL, an overlong body, a proxy's error
        TimedOut, // no answer before the time-out
        Refused, // nothing listens at the service's address and port
        Reset, // the service closed or reset the connection before its answer was complete
        HostNotFound, // the service's host name does not resolve
        Insecure, // the TLS handshake failed: a certificate that is not trusted, expired or for another host
        Cancelled, // cancelFetches() was called
    };
    Kind kind = Kind::Network;
    QString reason;
};

// The reason a fetch gives when the time-out passed first.
QString noAnswerWithin(std::chrono::milliseconds timeout);

// The URL a text names, taken as it is: anything that would need escaping (a space, a non-ASCII letter) or a
// relative reference makes it no URL (an invalid QUrl).
QUrl webUrl(const QString& text);

// Plain GET of the URL text as given (not trimmed, not escaped), blocking the caller until the answer is in or
// the time-out has passed, measured from the call. A running event loop keeps serving timers, sockets and paint
// requests meanwhile, but user input waits. The failure says why there is no answer at all: no connection,
// time-out, a text that is not a URL, or a body over kMaxBodySize.
platform::Result<WebAnswer, FetchFailure> fetchAnswer(const QString& urlText, std::chrono::milliseconds timeout);
// The same with the request's headers. HTTPS uses the default TLS configuration, whose trust is the system's
// certificate store; there is no way around a failed check.
platform::Result<WebAnswer, FetchFailure> fetchAnswer(const WebRequest& request, std::chrono::milliseconds timeout);

// As fetchAnswer(), but a POST of `body` with its Content-Type.
platform::Result<WebAnswer, FetchFailure> postAnswer(const QString& urlText, const QByteArray& body,
                                                     const QByteArray& contentType, std::chrono::milliseconds timeout);

// Ends the fetch under way on this thread at once and makes every later one on it fail at once, with
// FetchFailure::Kind::Cancelled: for a program told to stop (Ctrl-C) while it waits for an answer.
void cancelFetches();
// Whether cancelFetches() was called on this thread.
bool fetchesCancelled();

// The body of fetchAnswer(), whatever the status.
platform::Result<QByteArray, FetchFailure> fetchBody(const QString& urlText, std::chrono::milliseconds timeout);

// The body as UTF-8 text: empty after a failed fetch, absent when the body is not valid UTF-8.
std::optional<QString> fetchText(const QString& urlText, std::chrono::milliseconds timeout);

} // namespace vantor

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Fetch.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>

namespace vantor {

namespace {

// Keeps Qt from buffering far past the size bound before we get to look at the data.
constexpr qint64 kReadBufferSize = 64 * 1024;

// Statuses such as 404, 429 or 500 reach Qt as errors, yet they came with a page, and a page is an answer.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

} // namespace

QByteArray WebAnswer::header(QByteArrayView name) const
{
    for (const auto& [headerName, value] : headers) {
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QUrl webUrl(const QString& text)
{
    const bool printableAscii
        = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
    if (!printableAscii)
        return {};
    QUrl url(text, QUrl::StrictMode);
    if (url.isRelative())
        return {};
    return url;
}

namespace {

// A GET, or a POST when there is a body to send.
std::optional<WebAnswer> exchange(const QString& urlText, std::chrono::milliseconds timeout,
                                  const QByteArray* postBody, const QByteArray& contentType)
{
    const QDeadlineTimer deadline(timeout);
    const QUrl url = webUrl(urlText);
    if (!url.isValid())
        return std::nullopt;

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    if (postBody)
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkReply* reply = postBody ? manager.post(request, *postBody) : manager.get(request);
    reply->setReadBufferSize(kReadBufferSize);

    QByteArray body;
    bool tooLong = false;
    bool timedOut = false;
    QEventLoop loop;
    const auto readAvailable = [&] {
        if (tooLong)
            return;
        body += reply->readAll();
        if (body.size() > kMaxBodySize) {
            tooLong = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, readAvailable);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    QTimer deadlineTimer;
    deadlineTimer.setSingleShot(true);
    QObject::connect(&deadlineTimer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    deadlineTimer.start(std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()));

    // Timers, sockets and paint requests go on; clicks and key presses wait until the answer is in.
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadlineTimer.stop();

    // The loop also ends when the application quits under it.
    const bool finishedByItself = reply->isFinished() && !timedOut && !tooLong;
    if (!reply->isFinished())
        reply->abort();
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (finishedByItself)
        readAvailable();
    WebAnswer answer { status.toInt(), std::move(body), reply->rawHeaderPairs() };
    reply->deleteLater();

    if (!finishedByItself || tooLong)
        return std::nullopt;
    if (error != QNetworkReply::NoError && !(status.isValid() && isHttpStatusError(error)))
        return std::nullopt;
    return answer;
}

} // namespace

std::optional<WebAnswer> fetchAnswer(const QString& urlText, std::chrono::milliseconds timeout)
{
    return exchange(urlText, timeout, nullptr, {});
}

std::optional<WebAnswer> postAnswer(const QString& urlText, const QByteArray& body, const QByteArray& contentType,
                                    std::chrono::milliseconds timeout)
{
    return exchange(urlText, timeout, &body, contentType);
}

std::optional<QByteArray> fetchBody(const QString& urlText, std::chrono::milliseconds timeout)
{
    std::optional<WebAnswer> answer = fetchAnswer(urlText, timeout);
    if (!answer)
        return std::nullopt;
    return std::move(answer->body);
}

std::optional<QString> fetchText(const QString& urlText, std::chrono::milliseconds timeout)
{
    const QByteArray bytes = fetchBody(urlText, timeout).value_or(QByteArray());
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace vantor

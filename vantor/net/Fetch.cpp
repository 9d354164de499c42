// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/Fetch.h"

#include "platform/PrintableText.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>
#include <utility>

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

FetchFailure::Kind kindOf(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return FetchFailure::Kind::Refused;
    case QNetworkReply::RemoteHostClosedError:
        return FetchFailure::Kind::Reset;
    case QNetworkReply::HostNotFoundError:
        return FetchFailure::Kind::HostNotFound;
    case QNetworkReply::TimeoutError:
        return FetchFailure::Kind::TimedOut;
    default:
        return FetchFailure::Kind::Network;
    }
}

// The fetch under way on this thread, for cancelFetches().
thread_local QNetworkReply* t_currentReply = nullptr;
thread_local bool t_cancelled = false;

FetchFailure cancelledFetch()
{
    return { FetchFailure::Kind::Cancelled, QStringLiteral("已取消") };
}

} // namespace

void cancelFetches()
{
    t_cancelled = true;
    if (t_currentReply)
        t_currentReply->abort();
}

bool fetchesCancelled()
{
    return t_cancelled;
}

QString noAnswerWithin(std::chrono::milliseconds timeout)
{
    return QStringLiteral("%1 秒内没有回答").arg(double(timeout.count()) / 1000.0);
}

QByteArray WebAnswer::header(QByteArrayView name) const
{
    for (const auto& [headerName, value] : headers) {
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

std::optional<int> WebAnswer::headerNumber(QByteArrayView name) const
{
    bool ok = false;
    const int value = header(name).trimmed().toInt(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
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

platform::Result<WebAnswer, FetchFailure> fetchAnswer(const QString& urlText, std::chrono::milliseconds timeout)
{
    return fetchAnswer(WebRequest { urlText }, timeout);
}

platform::Result<WebAnswer, FetchFailure> fetchAnswer(const WebRequest& request, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    if (t_cancelled)
        return cancelledFetch();
    const QUrl url = webUrl(request.url);
    if (!url.isValid())
        return FetchFailure { FetchFailure::Kind::Network, QStringLiteral("不是有效的网址") };

    QNetworkRequest networkRequest(url);
    for (const auto& [name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    QNetworkAccessManager manager;
    if (request.postBody)
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader, request.contentType);
    QNetworkReply* reply
        = request.postBody ? manager.post(networkRequest, *request.postBody) : manager.get(networkRequest);
    reply->setReadBufferSize(kReadBufferSize);
    QStringList sslErrors;
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [&sslErrors](const QList<QSslError>& errors) {
        // Qt's texts quote the certificate's names, which the server chose.
        for (const QSslError& error : errors)
            sslErrors << platform::printable(error.errorString());
    });

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
    QNetworkReply* const outerReply = std::exchange(t_currentReply, reply);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    t_currentReply = outerReply;
    deadlineTimer.stop();

    // The loop also ends when the application quits under it.
    const bool cancelled = t_cancelled;
    const bool finishedByItself = reply->isFinished() && !timedOut && !tooLong && !cancelled;
    if (!reply->isFinished())
        reply->abort();
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (finishedByItself)
        readAvailable();
    WebAnswer answer { status.toInt(), std::move(body), reply->rawHeaderPairs() };

    // Qt's text may quote the server's own words (the status line's reason).
    const QString errorText = platform::printable(reply->errorString());
    reply->deleteLater();

    if (cancelled)
        return cancelledFetch();
    if (!finishedByItself) {
        return FetchFailure { timedOut ? FetchFailure::Kind::TimedOut : FetchFailure::Kind::Network,
                              tooLong ? QStringLiteral("回答超过 %1 字节").arg(kMaxBodySize)
                                      : noAnswerWithin(timeout) };
    }
    if (error != QNetworkReply::NoError && !(status.isValid() && isHttpStatusError(error))) {
        if (error == QNetworkReply::SslHandshakeFailedError || !sslErrors.isEmpty())
            return FetchFailure { FetchFailure::Kind::Insecure,
                                  sslErrors.isEmpty() ? errorText : sslErrors.join(QLatin1Char('\n')) };
        return FetchFailure { kindOf(error), errorText };
    }
    return answer;
}

platform::Result<WebAnswer, FetchFailure> postAnswer(const QString& urlText, const QByteArray& body,
                                                     const QByteArray& contentType, std::chrono::milliseconds timeout)
{
    return fetchAnswer(WebRequest { urlText, {}, body, contentType }, timeout);
}

platform::Result<QByteArray, FetchFailure> fetchBody(const QString& urlText, std::chrono::milliseconds timeout)
{
    platform::Result<WebAnswer, FetchFailure> answer = fetchAnswer(urlText, timeout);
    if (!answer)
        return answer.error();
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

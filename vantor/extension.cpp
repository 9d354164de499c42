#include "vantor/extension.h"

#include "platform/ui/Alert.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>
#include <algorithm>

namespace vantor {

namespace {

// Keeps Qt from buffering far past the size bound before we get to look at the data.
constexpr qint64 kReadBufferSize = 64 * 1024;

// The text is taken as it is: anything that would need escaping (a space, a non-ASCII letter) makes it no URL.
QUrl urlFromText(const QString& text)
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

// Statuses such as 404 or 500 reach Qt as errors, yet they came with a page, and a page is an answer.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

} // namespace

std::optional<QByteArray> fetchBody(const QString& urlText, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    const QUrl url = urlFromText(urlText);
    if (!url.isValid())
        return std::nullopt;

    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(url));
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
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (finishedByItself)
        readAvailable();
    reply->deleteLater();

    if (!finishedByItself || tooLong)
        return std::nullopt;
    if (error != QNetworkReply::NoError && !(answered && isHttpStatusError(error)))
        return std::nullopt;
    return body;
}

QByteArray internetData(const QString& urlText, bool* ok, std::chrono::milliseconds timeout)
{
    std::optional<QByteArray> body = fetchBody(urlText, timeout);
    if (ok)
        *ok = body.has_value();
    if (!body) {
        platform::ui::showAlert(QStringLiteral("连接超时"), QStringLiteral("您的网络不太给力哦！"));
        return QByteArray();
    }
    return *std::move(body);
}

std::optional<QString> initWithInternetString(const QString& urlText, std::chrono::milliseconds timeout)
{
    const QByteArray bytes = fetchBody(urlText, timeout).value_or(QByteArray());
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace vantor

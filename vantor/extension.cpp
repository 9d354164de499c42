// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/extension.h"

#include "platform/ui/Alert.h"
#include "vantor/net/Failure.h"

namespace vantor {

std::optional<WebAnswer> internetAnswer(const QString& urlText, std::chrono::milliseconds timeout)
{
    return internetAnswer(WebRequest { urlText }, timeout);
}

std::optional<WebAnswer> internetAnswer(const WebRequest& request, std::chrono::milliseconds timeout)
{
    platform::Result<WebAnswer, FetchFailure> answer = fetchAnswer(request, timeout);
    if (answer)
        return std::move(answer).value();
    const Failure& shown = vantor::failure(failureOf(answer.error().kind));
    platform::ui::showAlert(QString::fromUtf16(shown.title), alertText(shown, answer.error().reason));
    return std::nullopt;
}

std::optional<QByteArray> internetData(const QString& urlText, std::chrono::milliseconds timeout)
{
    std::optional<WebAnswer> answer = internetAnswer(urlText, timeout);
    if (!answer)
        return std::nullopt;
    return std::move(answer->body);
}

std::optional<QString> initWithInternetString(const QString& urlText, std::chrono::milliseconds timeout)
{
    return fetchText(urlText, timeout);
}

} // namespace vantor

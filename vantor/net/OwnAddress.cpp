// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/net/OwnAddress.h"

#include "platform/PrintableText.h"
#include "vantor/net/Fetch.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <algorithm>

namespace vantor {

namespace {

// An address with its line break is under 50 bytes; anything much longer is some page, not an answer.
constexpr qsizetype kMaxAddressAnswerSize = 4096;

} // namespace

std::optional<QString> ownAddressFromAnswer(const QString& answer)
{
    QString text = answer;
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    else if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);

    // QHostAddress forgives surrounding spaces and short forms such as "127.1"; what is printed and looked up must
    // be the address exactly as the service wrote it.
    if (text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); }))
        return std::nullopt;
    const QHostAddress address(text);
    switch (address.protocol()) {
    case QAbstractSocket::IPv4Protocol:
        if (address.toString() != text)
            return std::nullopt;
        return text;
    case QAbstractSocket::IPv6Protocol:
        return text;
    default:
        return std::nullopt;
    }
}

QString familyName(AddressFamily family)
{
    return family == AddressFamily::IPv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6");
}

AddressFamily familyOf(const QString& address)
{
    return QHostAddress(address).protocol() == QAbstractSocket::IPv6Protocol ? AddressFamily::IPv6
                                                                             : AddressFamily::IPv4;
}

Result<AddressProvider> addressProvider(const QString& text)
{
    const auto bad = [](const QString& why) -> Result<AddressProvider> {
        return VantorError { VantorError::Kind::BadSetting, why };
    };
    const QUrl url = webUrl(text);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return bad(QStringLiteral("'%1' is not an absolute http or https URL").arg(platform::printable(text)));
    AddressProvider provider;
    const QString fragment = url.fragment();
    if (fragment == QLatin1String("ipv4"))
        provider.family = AddressFamily::IPv4;
    else if (fragment == QLatin1String("ipv6"))
        provider.family = AddressFamily::IPv6;
    else if (url.hasFragment())
        return bad(QStringLiteral("'%1' ends in #%2; only #ipv4 and #ipv6 name a family")
                       .arg(platform::printable(text), platform::printable(fragment)));
    provider.url = url.adjusted(QUrl::RemoveFragment);
    return provider;
}

OwnAddressSearch::OwnAddressSearch(const QStringList& urls, std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_urls(urls)
    , m_timeout(timeout)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &OwnAddressSearch::timedOut);
}

OwnAddressSearch::~OwnAddressSearch()
{
    while (!m_running.isEmpty())
        abort(0);
}

void OwnAddressSearch::start()
{
    if (m_started)
        return;
    m_started = true;
    m_deadline.start(m_timeout);
    for (const QString& text : m_urls) {
        const Result<AddressProvider> provider = addressProvider(text);
        if (!provider) {
            fail(text, provider.error().message);
            continue;
        }
        QNetworkReply* reply = m_manager.get(QNetworkRequest(provider->url));
        reply->setReadBufferSize(kMaxAddressAnswerSize);
        m_running.append({ reply, provider->family, provider->url.host(), {} });
        connect(reply, &QNetworkReply::readyRead, this, [this, reply] { readAvailable(reply); });
        connect(reply, &QNetworkReply::finished, this, [this, reply] { replyFinished(reply); });
    }
    update();
}

void OwnAddressSearch::wait(const std::function<bool()>& done)
{
    if (m_finished || done())
        return;
    QEventLoop loop;
    connect(this, &OwnAddressSearch::settled, &loop, [&] {
        if (done())
            loop.quit();
    });
    connect(this, &OwnAddressSearch::finished, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool OwnAddressSearch::couldStillGive(const Running& running, AddressFamily family) const
{
    return !running.family || *running.family == family;
}

void OwnAddressSearch::readAvailable(QNetworkReply* reply)
{
    const auto found = std::find_if(m_running.begin(), m_running.end(),
                                    [reply](const Running& running) { return running.reply == reply; });
    if (found == m_running.end() || found->tooLong)
        return;
    found->body += reply->readAll();
    if (found->body.size() > kMaxAddressAnswerSize) {
        found->tooLong = true;
        reply->abort(); // finishes it, and replyFinished() tells why
    }
}

void OwnAddressSearch::replyFinished(QNetworkReply* reply)
{
    const auto found = std::find_if(m_running.begin(), m_running.end(),
                                    [reply](const Running& running) { return running.reply == reply; });
    if (found == m_running.end())
        return;
    if (!found->tooLong)
        found->body += reply->readAll();
    const Running running = *found;
    m_running.erase(found);
    reply->deleteLater();

    if (running.tooLong) {
        fail(running.host, QStringLiteral("回答不是IP地址"));
    } else if (reply->error() != QNetworkReply::NoError) {
        fail(running.host, platform::printable(reply->errorString()));
    } else {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(running.body);
        const std::optional<QString> address = decoder.hasError() ? std::nullopt : ownAddressFromAnswer(text);
        if (!address) {
            fail(running.host, QStringLiteral("回答不是IP地址"));
        } else if (running.family && familyOf(*address) != *running.family) {
            // A service for one family that answers with the other went over the wrong connection.
            fail(running.host, QStringLiteral("回答不是%1地址").arg(familyName(*running.family)));
        } else if (!m_found[index(familyOf(*address))]) {
            m_found[index(familyOf(*address))] = *address;
        }
    }
    update();
}

void OwnAddressSearch::timedOut()
{
    while (!m_running.isEmpty()) {
        fail(m_running.constFirst().host, noAnswerWithin(m_timeout));
        abort(0);
    }
    update();
}

void OwnAddressSearch::fail(const QString& host, const QString& reason)
{
    m_lastFailure = QStringLiteral("%1：%2").arg(platform::printable(host), reason);
}

void OwnAddressSearch::abort(qsizetype at)
{
    QNetworkReply* reply = m_running.takeAt(at).reply;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void OwnAddressSearch::update()
{
    std::array<bool, 2> settledNow {};
    for (AddressFamily family : kAddressFamilies) {
        settledNow[index(family)] = m_found[index(family)]
            || std::none_of(m_running.begin(), m_running.end(),
                            [&](const Running& running) { return couldStillGive(running, family); });
    }
    // Those that could only give what is already known are no longer needed.
    for (qsizetype i = m_running.size() - 1; i >= 0; i -= 1) {
        const Running& running = m_running[i];
        const bool needed = std::any_of(std::begin(kAddressFamilies), std::end(kAddressFamilies), [&](auto family) {
            return couldStillGive(running, family) && !settledNow[index(family)];
        });
        if (!needed)
            abort(i);
    }

    const bool newlySettled = settledNow != m_settled;
    m_settled = settledNow;
    const bool newlyFinished = m_running.isEmpty() && !m_finished;
    if (newlyFinished) {
        m_finished = true;
        m_deadline.stop();
    }
    if (newlySettled)
        emit settled();
    if (newlyFinished)
        emit finished();
}

OwnAddresses findOwnAddresses(const QStringList& urls, std::chrono::milliseconds timeout)
{
    OwnAddressSearch search(urls, timeout);
    search.start();
    search.wait([] { return false; });
    return { search.address(AddressFamily::IPv4), search.address(AddressFamily::IPv6), search.lastFailure() };
}

} // namespace vantor

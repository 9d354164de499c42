// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "vantor/net/VantorError.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <array>
#include <chrono>
#include <functional>
#include <optional>

class QNetworkReply;

namespace vantor {

// The address in the my-address service's answer: the answer without its one trailing line break ("\n" or
// "\r\n"), when that is an IPv4 address in dotted decimal or an IPv6 address. Anything else (a page of a
// captive portal, an empty answer, stray spaces) is no address.
std::optional<QString> ownAddressFromAnswer(const QString& answer);

enum class AddressFamily { IPv4, IPv6 };
inline constexpr AddressFamily kAddressFamilies[] = { AddressFamily::IPv4, AddressFamily::IPv6 };

// "IPv4" or "IPv6".
QString familyName(AddressFamily family);
// The family of an address that ownAddressFromAnswer() gave.
AddressFamily familyOf(const QString& address);

// One my-address service: the URL to ask (without its fragment) and the family its answer must have, when its URL
// ends in #ipv4 or #ipv6.
struct AddressProvider
{
    QUrl url;
    std::optional<AddressFamily> family;
};

// The provider a URL text names, or what is wrong with it: not an absolute http or https URL, or a fragment other
// than ipv4 and ipv6.
Result<AddressProvider> addressProvider(const QString& text);

// Asks every provider at once for this machine's public addresses, one of each family. The first answer that
// reads as an address of a provider's family wins that family; the providers that could only give a family
// already won are aborted. The time-out covers the whole search: when it passes, whatever still runs is aborted.
// Runs on the thread's event loop; wait() blocks in a local one, as the web fetch does.
class OwnAddressSearch : public QObject
{
    Q_OBJECT

public:
    OwnAddressSearch(const QStringList& urls, std::chrono::milliseconds timeout, QObject* parent = nullptr);
    ~OwnAddressSearch() override;

    void start();

    // Settled: the family's address is known, or no provider still running can give one.
    bool isSettled(AddressFamily family) const { return m_settled[index(family)]; }
    bool isFinished() const { return m_finished; }
    std::optional<QString> address(AddressFamily family) const { return m_found[index(family)]; }
    // Why the last provider that gave no address gave none, naming its host; empty while none failed.
    QString lastFailure() const { return m_lastFailure; }
    // How many requests are under way.
    qsizetype running() const { return m_running.size(); }

    // Serves timers and sockets, but not user input, until `done` holds or the search is finished.
    void wait(const std::function<bool()>& done);

signals:
    void settled(); // a family has just settled; both may have
    void finished(); // no request is left

private:
    struct Running
    {
        QNetworkReply* reply;
        std::optional<AddressFamily> family;
        QString host;
        QByteArray body;
        bool tooLong = false;
    };

    static std::size_t index(AddressFamily family) { return family == AddressFamily::IPv4 ? 0 : 1; }
    bool couldStillGive(const Running& running, AddressFamily family) const;
    void readAvailable(QNetworkReply* reply);
    void replyFinished(QNetworkReply* reply);
    void timedOut();
    void fail(const QString& host, const QString& reason);
    // Drops the request without hearing from it again.
    void abort(qsizetype at);
    void update();

    QStringList m_urls;
    std::chrono::milliseconds m_timeout;
    QNetworkAccessManager m_manager;
    QTimer m_deadline;
    QList<Running> m_running;
    std::array<std::optional<QString>, 2> m_found;
    std::array<bool, 2> m_settled {};
    bool m_started = false;
    bool m_finished = false;
    QString m_lastFailure;
};

// The search, run to its end: both addresses that were found and why the last failed provider failed.
struct OwnAddresses
{
    std::optional<QString> ipv4;
    std::optional<QString> ipv6;
    QString lastFailure;
};
OwnAddresses findOwnAddresses(const QStringList& urls, std::chrono::milliseconds timeout);

} // namespace vantor

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSslConfiguration>
#include <QTcpServer>
#include <chrono>
#include <functional>

class QTcpSocket;

namespace vantor::testing {

struct HttpRequest
{
    QByteArray method;
    QByteArray target; // as sent: a path, or a whole URL when the client talks to us as its proxy
    QByteArray pathAndQuery; // the target without scheme and host
    QByteArray host; // the Host header
    QList<QPair<QByteArray, QByteArray>> headers; // all of them, as sent
    QByteArray body; // as long as its Content-Length says
    QByteArray contentType;
};

struct HttpResponse
{
    enum class Delivery {
        AtOnce,
        Trickle, // the body one byte at a time, trickleIntervalMs apart
        Never, // keep the connection open and say nothing
        Drop, // close the connection without a word
    };

    int status = 200;
    QByteArray body;
    Delivery delivery = Delivery::AtOnce;
    int trickleIntervalMs = 20;
    QList<QPair<QByteArray, QByteArray>> headers = {}; // sent besides Content-Type, Content-Length and Connection
};

// The time-out a test gives a fetch of `response`: short where the client can only wait for it (no answer, or
// one too slow to finish), so the suite stays quick; generous elsewhere, so that an answer that comes is never
// cut off on a loaded machine under the sanitizers.
inline std::chrono::milliseconds timeoutFor(const HttpResponse& response)
{
    using namespace std::chrono_literals;
    const bool keepsTheClientWaiting
        = response.delivery == HttpResponse::Delivery::Never || response.delivery == HttpResponse::Delivery::Trickle;
    return keepsTheClientWaiting ? 400ms : 20s;
}

// A tiny HTTP/1.1 server on 127.0.0.1 that answers requests (GET, or POST with a body) from a table of canned
// responses, or from a handler that makes each response. It runs on the
// thread that made it, so a client blocking in a local event loop on the same thread is still served.
class MiniHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit MiniHttpServer(QObject* parent = nullptr);

    // "http://127.0.0.1:<port>", or https once TLS is on.
    QString baseUrl() const;

    // From now on every connection is TLS, with a certificate for 127.0.0.1 and localhost issued by the test CA,
    // which nobody trusts unless a TrustTestCa says so.
    void enableTls();

    void setResponse(const QByteArray& pathAndQuery, HttpResponse response);
    // For every path without a response of its own; 404 until set.
    void setDefaultResponse(HttpResponse response);
    // Answers every request the table has no response for, in place of the default response.
    using Handler = std::function<HttpResponse(const HttpRequest& request)>;
    void setHandler(Handler handler);

    const QList<HttpRequest>& requests() const { return m_requests; }

signals:
    void requestReceived(const vantor::testing::HttpRequest& request);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void acceptConnections();
    void readRequest(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const HttpResponse& response);

    QHash<QByteArray, HttpResponse> m_responses;
    HttpResponse m_defaultResponse;
    Handler m_handler;
    QList<HttpRequest> m_requests;
    bool m_tls = false;
};

// While it exists, the default TLS configuration, which every fetch uses, also trusts the test CA.
class TrustTestCa
{
public:
    TrustTestCa();
    ~TrustTestCa();
    TrustTestCa(const TrustTestCa&) = delete;
    TrustTestCa& operator=(const TrustTestCa&) = delete;

private:
    QSslConfiguration m_previous;
};

} // namespace vantor::testing

// SPDX-License-Identifier: GPL-3.0-or-later
#include "vantor/testing/MiniHttpServer.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace vantor::testing {

namespace {

QByteArray resource(const QString& name)
{
    QFile file(QStringLiteral(":/vantor/testing/") + name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QByteArray stripSchemeAndHost(const QByteArray& target)
{
    const qsizetype schemeEnd = target.indexOf("://");
    if (schemeEnd < 0)
        return target;
    const qsizetype pathStart = target.indexOf('/', schemeEnd + 3);
    return pathStart < 0 ? QByteArray("/") : target.mid(pathStart);
}

} // namespace

MiniHttpServer::MiniHttpServer(QObject* parent)
    : QTcpServer(parent)
{
    m_defaultResponse.status = 404;
    m_defaultResponse.body = "<html><body>not found</body></html>";
    connect(this, &QTcpServer::newConnection, this, &MiniHttpServer::acceptConnections);
    listen(QHostAddress::LocalHost, 0);
}

QString MiniHttpServer::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_tls ? QStringLiteral("https") : QStringLiteral("http")).arg(serverPort());
}

void MiniHttpServer::enableTls()
{
    m_tls = true;
}

void MiniHttpServer::incomingConnection(qintptr socketDescriptor)
{
    if (!m_tls) {
        QTcpServer::incomingConnection(socketDescriptor);
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(QSslCertificate(resource(QStringLiteral("test-server.crt"))));
    socket->setPrivateKey(QSslKey(resource(QStringLiteral("test-server.key")), QSsl::Ec));
    // A client that refuses the certificate just goes away.
    connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->abort(); });
    socket->startServerEncryption();
    addPendingConnection(socket);
}

void MiniHttpServer::setResponse(const QByteArray& pathAndQuery, HttpResponse response)
{
    m_responses.insert(pathAndQuery, std::move(response));
}

void MiniHttpServer::setDefaultResponse(HttpResponse response)
{
    m_defaultResponse = std::move(response);
}

void MiniHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

void MiniHttpServer::acceptConnections()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        // The server owns its sockets; a closed one goes away on its own.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
    }
}

void MiniHttpServer::readRequest(QTcpSocket* socket)
{
    if (socket->property("answered").toBool())
        return;
    QByteArray buffered = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffered);
    const qsizetype headerEnd = buffered.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;

    const QList<QByteArray> lines = buffered.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    HttpRequest request;
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    request.pathAndQuery = stripSchemeAndHost(request.target);
    qsizetype contentLength = 0;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({ name, value });
        const QByteArray lowerName = name.toLower();
        if (lowerName == "host")
            request.host = value;
        else if (lowerName == "content-length")
            contentLength = value.toLongLong();
        else if (lowerName == "content-type")
            request.contentType = value;
    }
    // The body may come in later pieces.
    if (buffered.size() - (headerEnd + 4) < contentLength)
        return;
    request.body = buffered.mid(headerEnd + 4, contentLength);
    socket->setProperty("answered", true);
    m_requests.append(request);
    emit requestReceived(request);

    const auto fixed = m_responses.constFind(request.pathAndQuery);
    if (fixed != m_responses.cend())
        answer(socket, *fixed);
    else
        answer(socket, m_handler ? m_handler(request) : m_defaultResponse);
}

void MiniHttpServer::answer(QTcpSocket* socket, const HttpResponse& response)
{
    using Delivery = HttpResponse::Delivery;
    if (response.delivery == Delivery::Never)
        return;
    if (response.delivery == Delivery::Drop) {
        socket->disconnectFromHost();
        return;
    }

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status)
        + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + QByteArray::number(response.body.size())
        + "\r\nConnection: close\r\n";
    for (const auto& [name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";

    if (response.delivery == Delivery::AtOnce) {
        socket->write(head + response.body);
        socket->disconnectFromHost();
        return;
    }

    socket->write(head);
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body = response.body] {
        if (*sent >= body.size()) {
            timer->stop();
            socket->disconnectFromHost();
            return;
        }
        socket->write(body.mid((*sent)++, 1));
    });
    timer->start(response.trickleIntervalMs);
}

TrustTestCa::TrustTestCa()
    : m_previous(QSslConfiguration::defaultConfiguration())
{
    QSslConfiguration trusting = m_previous;
    trusting.addCaCertificates(QSslCertificate::fromData(resource(QStringLiteral("test-ca.crt"))));
    QSslConfiguration::setDefaultConfiguration(trusting);
}

TrustTestCa::~TrustTestCa()
{
    QSslConfiguration::setDefaultConfiguration(m_previous);
}

} // namespace vantor::testing

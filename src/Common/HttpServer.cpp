#include "HttpServer.h"

#include "HttpRequestParser.h"

#include <QDebug>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {
const QByteArray Reply("HTTP/1.1 200 OK\r\n\r\n");
}

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::onNewConnection);
}

void HttpServer::listen(int port)
{
    if (m_server->isListening())
        m_server->close();
    qInfo().noquote().nospace() << "[HttpServer] "
                                << "Listening for HTTP requests on : 0.0.0.0:" << port;
    // A port outside the 16-bit range must not quietly become another port.
    if (port < 1 || port > 65535) {
        qCritical().noquote().nospace() << "[HttpServer] "
                                        << "ERROR: Failed to listen : port " << port << " is outside 1-65535";
        return;
    }
    if (!m_server->listen(QHostAddress::Any, quint16(port)))
        qCritical().noquote().nospace() << "[HttpServer] "
                                        << "ERROR: Failed to listen : " << m_server->errorString();
}

void HttpServer::close()
{
    if (!m_server->isListening())
        return;
    qInfo().noquote().nospace() << "[HttpServer] "
                                << "Stopped listening for HTTP requests";
    m_server->close();
}

void HttpServer::refuse(QTcpSocket* socket, const QString& reason, const QHostAddress& peer)
{
    qWarning().noquote().nospace() << "[HttpServer] "
                                   << "WARN: " << reason << ", closing connection from : " << peer.toString();
    socket->abort();
    socket->deleteLater();
}

void HttpServer::onNewConnection()
{
    QTcpSocket* socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    const QHostAddress peer = socket->peerAddress();
    qInfo().noquote().nospace() << "[HttpServer] "
                                << "New connection received from : " << peer.toString();

    if (m_connections >= m_maxConnections) {
        refuse(socket, QStringLiteral("Too many connections (%1)").arg(m_maxConnections), peer);
        return;
    }
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

    // What the handlers of one connection share.
    struct Connection
    {
        explicit Connection(qint64 maxSize)
            : parser(maxSize)
        {
        }
        HttpRequestParser parser;
        bool refused = false;
    };
    auto conn = std::make_shared<Connection>(m_maxRequestSize);

    // A peer that never finishes its request must not hold the connection for ever.
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, socket, peer, conn] {
        conn->refused = true;
        if (conn->parser.state() != HttpRequestParser::Incomplete) {
            socket->abort(); // the reply could not be delivered in time
            return;
        }
        refuse(socket, QStringLiteral("No complete request within %1 ms").arg(m_connectionDeadlineMs), peer);
    });
    deadline->start(m_connectionDeadlineMs);

    connect(socket, &QTcpSocket::disconnected, this, [peer, conn] {
        if (!conn->refused && conn->parser.state() == HttpRequestParser::Incomplete && !conn->parser.data().isEmpty())
            qWarning().noquote().nospace() << "[HttpServer] "
                                           << "WARN: Connection closed before the request was complete, "
                                           << conn->parser.data().size() << " bytes dropped from : " << peer.toString();
    });

    connect(socket, &QTcpSocket::readyRead, this, [this, socket, peer, conn] {
        if (conn->refused || conn->parser.state() != HttpRequestParser::Incomplete)
            return;
        switch (conn->parser.append(socket->readAll())) {
        case HttpRequestParser::Incomplete:
            return;
        case HttpRequestParser::TooLarge:
            conn->refused = true;
            refuse(socket, QStringLiteral("Request larger than %1 bytes").arg(m_maxRequestSize), peer);
            return;
        case HttpRequestParser::Complete:
            break;
        }
        if (conn->parser.invalidContentLength())
            qWarning().noquote().nospace()
                << "[HttpServer] "
                << "WARN: Invalid Content-Length, taking the body as received from : " << peer.toString();
        handleRequest(peer, conn->parser.data());
        socket->write(Reply);
        socket->disconnectFromHost();
    });
}

void HttpServer::handleRequest(const QHostAddress& peer, const QByteArray& data)
{
    Request request;
    if (!HttpRequestParser::parse(data, &request))
        return;
    qDebug().noquote().nospace()
        << "[HttpServer] "
        << QStringLiteral("HTTP request received : method=%1, path=%2").arg(request.method, request.path);
    emit requestReceived(peer, request);
}

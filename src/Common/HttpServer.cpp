#include "HttpServer.h"

#include "HttpRequestParser.h"
#include "PeerText.h"

#include <QDebug>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {
const QByteArray Reply("HTTP/1.1 200 OK\r\n\r\n");
const QByteArray ContinueReply("HTTP/1.1 100 Continue\r\n\r\n");
const QByteArray BadRequestReply("HTTP/1.1 400 Bad Request\r\n\r\n");
} // namespace

// What the listener keeps of one accepted connection.
struct HttpServer::Connection
{
    Connection(QTcpSocket* s, const QHostAddress& p, qint64 maxSize)
        : socket(s)
        , peer(p)
        , parser(maxSize)
    {
    }
    QPointer<QTcpSocket> socket;
    QHostAddress peer;
    HttpRequestParser parser;
    QTimer* firstBytes = nullptr;
    // Started when the head is complete; the timer checks the body's pace against the floor.
    QElapsedTimer bodyClock;
    QTimer* bodyRate = nullptr;
    // Refused, or answered: nothing more is read.
    bool finished = false;
    bool registered = true;
    bool continued = false;
    // This connection's share of the listener's memory budget.
    qint64 held = 0;
};

HttpServer::HttpServer(QObject* parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_suppressedTimer(new QTimer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::onNewConnection);
    m_suppressedTimer->setSingleShot(true);
    connect(m_suppressedTimer, &QTimer::timeout, this, &HttpServer::flushSuppressedRefusals);
}

HttpServer::~HttpServer()
{
    flushSuppressedRefusals();
}

void HttpServer::setRefusalLogRate(int lines, int windowMs)
{
    m_refusalLogLines = qMax(1, lines);
    m_refusalLogWindowMs = qMax(1, windowMs);
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

void HttpServer::logRefusal(const QString& text)
{
    // A flood of refusals must not flood the log.
    if (!m_refusalWindow.isValid() || m_refusalWindow.elapsed() >= m_refusalLogWindowMs) {
        flushSuppressedRefusals();
        m_refusalWindow.start();
        m_refusalLinesInWindow = 0;
    }
    if (m_refusalLinesInWindow < m_refusalLogLines) {
        ++m_refusalLinesInWindow;
        qWarning().noquote().nospace() << "[HttpServer] "
                                       << "WARN: " << text;
        return;
    }
    if (m_suppressedRefusals++ == 0)
        m_suppressedTimer->start(int(qMax<qint64>(0, m_refusalLogWindowMs - m_refusalWindow.elapsed())));
}

void HttpServer::flushSuppressedRefusals()
{
    m_suppressedTimer->stop();
    if (m_suppressedRefusals == 0)
        return;
    qWarning().noquote().nospace() << "[HttpServer] "
                                   << "WARN: " << m_suppressedRefusals << " more refused connections not logged";
    m_suppressedRefusals = 0;
}

void HttpServer::forget(const ConnectionPtr& conn)
{
    if (!conn->registered)
        return;
    conn->registered = false;
    m_connections.remove(conn);
    if (--m_perPeer[conn->peer] <= 0)
        m_perPeer.remove(conn->peer);
    m_buffered -= conn->held;
    conn->held = 0;
}

void HttpServer::refuse(const ConnectionPtr& conn, const QString& reason, const QByteArray& reply)
{
    conn->finished = true;
    forget(conn);
    logRefusal(reason + QStringLiteral(", closing connection from : ") + conn->peer.toString());
    if (!conn->socket)
        return;
    if (reply.isEmpty()) {
        conn->socket->abort();
        conn->socket->deleteLater();
    } else {
        conn->socket->write(reply);
        conn->socket->disconnectFromHost();
    }
}

HttpServer::ConnectionPtr HttpServer::oldestUnfinished() const
{
    for (const ConnectionPtr& conn : m_connections) {
        if (!conn->finished)
            return conn;
    }
    return nullptr;
}

void HttpServer::onNewConnection()
{
    QTcpSocket* socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    const QHostAddress peer = socket->peerAddress();
    auto conn = std::make_shared<Connection>(socket, peer, m_maxRequestSize);
    conn->registered = false;
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

    // One address may not take every place; when all places are taken, the oldest
    // connection whose request is still coming gives way to the new one.
    if (m_perPeer.value(peer) >= m_maxPerPeer) {
        refuse(conn, QStringLiteral("Too many connections from one address (%1)").arg(m_maxPerPeer));
        return;
    }
    if (int(m_connections.size()) >= m_maxConnections) {
        const ConnectionPtr oldest = oldestUnfinished();
        if (!oldest) {
            refuse(conn, QStringLiteral("Too many connections (%1)").arg(m_maxConnections));
            return;
        }
        refuse(oldest, QStringLiteral("Too many connections (%1), oldest unfinished one").arg(m_maxConnections));
    }
    qInfo().noquote().nospace() << "[HttpServer] "
                                << "New connection received from : " << peer.toString();
    conn->registered = true;
    m_connections.push_back(conn);
    ++m_perPeer[peer];
    connect(socket, &QObject::destroyed, this, [this, conn] { forget(conn); });

    // A peer that never finishes its request must not hold the connection for ever,
    // and one that sends nothing at all gives its place up sooner.
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, conn] {
        if (conn->finished) {
            if (conn->socket)
                conn->socket->abort(); // the reply could not be delivered in time
            return;
        }
        refuse(conn, QStringLiteral("No complete request within %1 ms").arg(m_connectionDeadlineMs));
    });
    deadline->start(m_connectionDeadlineMs);
    conn->firstBytes = new QTimer(socket);
    conn->firstBytes->setSingleShot(true);
    connect(conn->firstBytes, &QTimer::timeout, this, [this, conn] {
        if (!conn->finished)
            refuse(conn, QStringLiteral("No request data within %1 ms").arg(m_firstBytesDeadlineMs));
    });
    conn->firstBytes->start(m_firstBytesDeadlineMs);

    connect(socket, &QTcpSocket::disconnected, this, [this, conn] {
        if (!conn->finished && conn->parser.state() == HttpRequestParser::Incomplete && conn->parser.bufferedSize() > 0)
            logRefusal(QStringLiteral("Connection closed before the request was complete, %1 bytes dropped from : %2")
                           .arg(conn->parser.bufferedSize())
                           .arg(conn->peer.toString()));
        conn->finished = true;
        forget(conn);
    });
    connect(socket, &QTcpSocket::readyRead, this, [this, conn] { onReadyRead(conn); });
}

void HttpServer::onReadyRead(const ConnectionPtr& conn)
{
    QTcpSocket* socket = conn->socket;
    if (!socket || conn->finished)
        return;
    const QByteArray bytes = socket->readAll();
    if (bytes.isEmpty())
        return;
    conn->firstBytes->stop();
    if (m_buffered + bytes.size() > m_memoryBudget) {
        refuse(conn, QStringLiteral("Requests in progress above %1 bytes").arg(m_memoryBudget));
        return;
    }
    const HttpRequestParser::State state = conn->parser.append(bytes);
    m_buffered += conn->parser.bufferedSize() - conn->held;
    conn->held = conn->parser.bufferedSize();
    switch (state) {
    case HttpRequestParser::Incomplete:
        if (conn->parser.headComplete() && !conn->bodyClock.isValid()) {
            conn->bodyClock.start();
            conn->bodyRate = new QTimer(socket);
            conn->bodyRate->setSingleShot(true);
            connect(conn->bodyRate, &QTimer::timeout, this, [this, conn] { checkBodyRate(conn); });
            checkBodyRate(conn);
        }
        // A client that asks first sends its body only after this.
        if (!conn->continued && conn->parser.expectsContinue()) {
            conn->continued = true;
            socket->write(ContinueReply);
        }
        return;
    case HttpRequestParser::TooLarge:
        refuse(conn, QStringLiteral("Request larger than %1 bytes").arg(m_maxRequestSize));
        return;
    case HttpRequestParser::Malformed:
        refuse(conn, QStringLiteral("Malformed request body"), BadRequestReply);
        return;
    case HttpRequestParser::Complete:
        break;
    }
    conn->finished = true;
    if (conn->parser.invalidContentLength())
        qWarning().noquote().nospace() << "[HttpServer] "
                                       << "WARN: Invalid Content-Length, taking the body as received from : "
                                       << conn->peer.toString();
    const QByteArray data = conn->parser.data();
    forget(conn);
    handleRequest(conn->peer, data);
    // A receiver may have closed the listener's world down; the socket tells.
    if (!conn->socket)
        return;
    socket->write(Reply);
    socket->disconnectFromHost();
}

void HttpServer::checkBodyRate(const ConnectionPtr& conn)
{
    if (conn->finished)
        return;
    // When the bytes received so far stop being enough; rechecked then rather than on every read.
    const qint64 due = BodyRateGraceMs + conn->parser.bodyReceived() * 1000 / MinBodyBytesPerSecond;
    const qint64 elapsed = conn->bodyClock.elapsed();
    if (elapsed >= due) {
        refuse(conn, QStringLiteral("Request body slower than %1 bytes/s").arg(MinBodyBytesPerSecond));
        return;
    }
    conn->bodyRate->start(int(qMin<qint64>(due - elapsed, m_connectionDeadlineMs)));
}

void HttpServer::handleRequest(const QHostAddress& peer, const QByteArray& data)
{
    Request request;
    if (!HttpRequestParser::parse(data, &request))
        return;
    qDebug().noquote().nospace() << "[HttpServer] "
                                 << QStringLiteral("HTTP request received : method=%1, path=%2")
                                        .arg(PeerText::forLog(request.method), PeerText::forLog(request.path));
    emit requestReceived(peer, request);
}

#pragma once
// Minimal HTTP/1.1 listener for the cameras' pushes: one request per connection,
// reported through requestReceived and answered with a bare 200 status line.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

class HttpServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QString method;
        QString path;
        QByteArray body;
    };

    // Limits of a port that is open on every interface.
    static constexpr qint64 DefaultMaxRequestSize = 8 * 1024 * 1024;
    static constexpr int DefaultConnectionDeadlineMs = 10000;
    static constexpr int DefaultMaxConnections = 64;

    explicit HttpServer(QObject* parent = nullptr);

    void listen(int port);
    void close();

    // Parses one complete request and emits requestReceived when its head starts
    // with a request line. Called by the read handler once a request has arrived.
    void handleRequest(const QHostAddress& peer, const QByteArray& data);

    void setMaxRequestSize(qint64 bytes) { m_maxRequestSize = bytes; }
    void setConnectionDeadline(int ms) { m_connectionDeadlineMs = ms; }
    void setMaxConnections(int count) { m_maxConnections = count; }

signals:
    void requestReceived(QHostAddress peer, HttpServer::Request request);

private:
    void onNewConnection();
    void refuse(QTcpSocket* socket, const QString& reason, const QHostAddress& peer);

    QTcpServer* m_server;
    qint64 m_maxRequestSize = DefaultMaxRequestSize;
    int m_connectionDeadlineMs = DefaultConnectionDeadlineMs;
    int m_maxConnections = DefaultMaxConnections;
    int m_connections = 0;
};

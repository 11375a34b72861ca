#pragma once
// Minimal HTTP/1.1 listener for the cameras' pushes: one request per connection,
// reported through requestReceived and answered with a bare 200 status line. Bounds
// what any peer can hold, so idle or oversized connections cannot shut the cameras out.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <list>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QTimer;

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
    static constexpr int DefaultFirstBytesDeadlineMs = 2000;
    static constexpr int DefaultMaxConnections = 64;
    static constexpr int DefaultMaxConnectionsPerPeer = 8;
    // Floor of a body's pace: from this long after the head, the body must have come at
    // this average rate at least. A camera's JSON push is far below a kilobyte and comes
    // whole with its head, so only a peer that trickles a body to hold its place is dropped.
    static constexpr int BodyRateGraceMs = 1000;
    static constexpr qint64 MinBodyBytesPerSecond = 1024;
    // Bytes held by all requests in progress together.
    static constexpr qint64 DefaultMemoryBudget = 32 * 1024 * 1024;
    // Refusal lines written per window; the rest are counted in one line at its end.
    static constexpr int DefaultRefusalLogLines = 10;
    static constexpr int DefaultRefusalLogWindowMs = 10000;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    void listen(int port);
    void close();

    // Parses one complete request and emits requestReceived when its head starts
    // with a request line. Called by the read handler once a request has arrived.
    void handleRequest(const QHostAddress& peer, const QByteArray& data);

    void setMaxRequestSize(qint64 bytes) { m_maxRequestSize = bytes; }
    void setConnectionDeadline(int ms) { m_connectionDeadlineMs = ms; }
    void setFirstBytesDeadline(int ms) { m_firstBytesDeadlineMs = ms; }
    void setMaxConnections(int count) { m_maxConnections = count; }
    void setMaxConnectionsPerPeer(int count) { m_maxPerPeer = count; }
    void setMemoryBudget(qint64 bytes) { m_memoryBudget = bytes; }
    void setRefusalLogRate(int lines, int windowMs);

signals:
    void requestReceived(QHostAddress peer, HttpServer::Request request);

private:
    struct Connection;
    using ConnectionPtr = std::shared_ptr<Connection>;

    void onNewConnection();
    void onReadyRead(const ConnectionPtr& conn);
    // The oldest connection whose request is not complete, to make room for a new one.
    ConnectionPtr oldestUnfinished() const;
    // Drops the connection once its body falls below the floor, else checks again when it would.
    void checkBodyRate(const ConnectionPtr& conn);
    // Closes the connection without a reply (or with the given one) and logs why.
    void refuse(const ConnectionPtr& conn, const QString& reason, const QByteArray& reply = QByteArray());
    // Takes the connection out of the bookkeeping; once only.
    void forget(const ConnectionPtr& conn);
    void logRefusal(const QString& text);
    void flushSuppressedRefusals();

    QTcpServer* m_server;
    qint64 m_maxRequestSize = DefaultMaxRequestSize;
    int m_connectionDeadlineMs = DefaultConnectionDeadlineMs;
    int m_firstBytesDeadlineMs = DefaultFirstBytesDeadlineMs;
    int m_maxConnections = DefaultMaxConnections;
    int m_maxPerPeer = DefaultMaxConnectionsPerPeer;
    qint64 m_memoryBudget = DefaultMemoryBudget;
    // Open connections in the order they were accepted, and how many each address holds.
    std::list<ConnectionPtr> m_connections;
    QHash<QHostAddress, int> m_perPeer;
    qint64 m_buffered = 0;

    int m_refusalLogLines = DefaultRefusalLogLines;
    int m_refusalLogWindowMs = DefaultRefusalLogWindowMs;
    QElapsedTimer m_refusalWindow;
    int m_refusalLinesInWindow = 0;
    int m_suppressedRefusals = 0;
    QTimer* m_suppressedTimer;
};

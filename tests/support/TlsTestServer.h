#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for client tests: TLS on QSslSocket (or plain
// when no certificate is set), one request per connection unless keep-alive is on,
// answers from a handler.

#include <QAtomicInt>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <QSsl>
#include <QTcpServer>

#include <functional>

class QSslSocket;
class QThread;

class TlsTestServer : public QTcpServer
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path; // with the query
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QString clientCommonName; // empty without a client certificate
        QSsl::SslProtocol protocol = QSsl::UnknownProtocol;
    };

    struct Response
    {
        int status = 200;
        QByteArray reason = "OK";
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        bool chunked = false; // no Content-Length: the size is unknown to the client
        bool silent = false; // read the request and never answer
        // When set: the head at once, this many body bytes 150 ms later, the rest on sendRest().
        int firstPart = -1;
        qint64 announce = -1; // when set: the Content-Length sent instead of the body's size; the connection stays open
        int cutAfterMs = -1; // with announce: the connection closes this long after the body, short of that size
        QByteArray raw
            = QByteArray(); // when set: these bytes are the whole answer, and the connection closes after them
        bool keepOpen = false; // with raw: the connection stays open after the bytes
        bool reset = false; // no answer: the connection is reset
    };

    using Handler = std::function<Response(const Request&)>;

    explicit TlsTestServer(QObject* parent = nullptr);
    ~TlsTestServer() override;

    // Without a certificate the server speaks plain HTTP.
    void setCertificate(const QString& certPath, const QString& keyPath);
    void setCaCertificate(const QString& path);
    void setRequireClientCertificate(bool require) { m_requireClientCert = require; }
    void setProtocol(QSsl::SslProtocol protocol) { m_protocol = protocol; }
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Keeps a connection open for further requests unless the request says "Connection: close".
    void setKeepAlive(bool keepAlive) { m_keepAlive = keepAlive; }
    // Answers each request once its head is in, before its body arrives, as a server that
    // refuses early does; the body is not read.
    void setAnswerEarly(bool early) { m_answerEarly = early; }
    // Resets a kept connection when its next request comes, which is neither read nor
    // recorded: a firewall or NAT that forgot the idle connection answers so.
    void setResetKeptConnections(bool reset) { m_resetKept = reset; }

    // Listens on 127.0.0.1 at the port, or at a free one.
    bool start(quint16 port = 0) { return listen(QHostAddress::LocalHost, port); }
    // As start(), serving from a thread of its own: the client's network thread then gets each
    // answer as soon as it is written, whatever the test's thread is doing. The handler runs
    // in that thread; sendRest() is not for such a server.
    bool startInThread(quint16 port = 0);
    // Connections accepted so far, and those of them still open.
    int connectionsAccepted() const { return m_accepted.loadRelaxed(); }
    int connectionsOpen() const { return m_open.loadRelaxed(); }
    QString url(const QString& path, const QString& host = QStringLiteral("127.0.0.1")) const;
    QList<Request> requests() const;
    // Sends the rest of every split reply whose first part is out.
    void sendRest();

    static Response json(int status, const QByteArray& reason, const QByteArray& body);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void onReadyRead(QSslSocket* socket);
    void respond(QSslSocket* socket, const Response& response, bool keepAlive);
    static void reset(QSslSocket* socket);

    bool m_tls = false;
    QByteArray m_cert;
    QByteArray m_key;
    QByteArray m_ca;
    bool m_requireClientCert = false;
    bool m_keepAlive = false;
    bool m_answerEarly = false;
    bool m_resetKept = false;
    QSsl::SslProtocol m_protocol = QSsl::TlsV1_2OrLater;
    Handler m_handler = [](const Request&) { return Response(); };
    mutable QMutex m_mutex; // guards m_requests
    QList<Request> m_requests;
    QThread* m_thread = nullptr;
    QList<std::function<void()>> m_rests;
    QAtomicInt m_accepted;
    QAtomicInt m_open;
};

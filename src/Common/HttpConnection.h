#pragma once
// One HTTP/1.1 connection, plain or TLS, that carries one request at a time and reads the
// reply itself: its user knows whether the connection served a reply before and whether
// any byte of the current reply came, and a reply cut short is never taken as whole.

#include "HttpReplyParser.h"

#include <QObject>
#include <QSslError>
#include <QTimer>

class QSslConfiguration;
class QSslSocket;
class QUrl;

class HttpConnection : public QObject
{
    Q_OBJECT
public:
    // How long a kept connection waits for its next request before it is closed.
    static constexpr int IdleMs = 60000;

    // Connects with its first request, over TLS with that configuration when it is given.
    HttpConnection(const QUrl& url, const QSslConfiguration* tls, QObject* parent = nullptr);
    ~HttpConnection() override;

    // Sends one request, head and body as bytes, and reads its reply.
    void send(const QByteArray& request);
    // Closes the connection; a request on it ends with no signal.
    void abort();
    void ignoreSslErrors(const QList<QSslError>& errors);
    // How long it stays open without a request once idle, IdleMs unless set.
    void setIdleTimeout(int ms) { m_idle.setInterval(ms); }

    // True when a reply came whole on it before the current request.
    bool isReused() const { return m_replies > 0; }
    // True once any byte of the current request's reply has come.
    bool replyStarted() const { return m_replyBytes > 0; }
    // Open and waiting for a request after a whole reply.
    bool isIdle() const { return m_state == State::Idle; }
    const HttpReplyParser& reply() const { return m_parser; }

signals:
    void sslErrors(const QList<QSslError>& errors);
    // The status line and headers of the final reply are in.
    void headReceived();
    // Body bytes so far, and the announced total (-1 when unknown).
    void bodyReceived(qint64 received, qint64 total);
    // The reply came whole; the connection is idle or closed after it.
    void finished();
    // The request failed before its reply was whole; the connection is closed.
    void failed(const QString& error);
    // An idle connection ended.
    void closed();

private:
    enum class State { New, Sending, Idle, Closed };

    void onReadyRead();
    void onEnded();
    void close();

    QSslSocket* m_socket;
    QString m_host;
    quint16 m_port;
    bool m_tls;
    State m_state = State::New;
    bool m_open = false;
    QByteArray m_pending; // the request, until the connection is up
    HttpReplyParser m_parser;
    qint64 m_replyBytes = 0;
    int m_replies = 0;
    QTimer m_idle;
};

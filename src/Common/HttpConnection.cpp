#include "HttpConnection.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUrl>

HttpConnection::HttpConnection(const QUrl& url, const QSslConfiguration* tls, QObject* parent)
    : QObject(parent)
    , m_socket(new QSslSocket(this))
    , m_host(url.host())
    , m_port(quint16(url.port(tls ? 443 : 80)))
    , m_tls(tls != nullptr)
{
    if (tls)
        m_socket->setSslConfiguration(*tls);
    m_idle.setSingleShot(true);
    m_idle.setInterval(IdleMs);
    connect(&m_idle, &QTimer::timeout, this, &HttpConnection::onEnded);
    connect(m_socket, &QSslSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(m_socket, &QSslSocket::disconnected, this, &HttpConnection::onEnded);
    connect(m_socket, &QSslSocket::errorOccurred, this, &HttpConnection::onEnded);
    connect(
        m_socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), this, &HttpConnection::sslErrors);
    const auto opened = [this] {
        m_open = true;
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_socket->write(std::exchange(m_pending, QByteArray()));
    };
    connect(m_socket, tls ? &QSslSocket::encrypted : &QSslSocket::connected, this, opened);
}

HttpConnection::~HttpConnection()
{
    m_socket->disconnect(this);
}

void HttpConnection::send(const QByteArray& request)
{
    Q_ASSERT(m_state == State::New || m_state == State::Idle);
    const bool first = m_state == State::New;
    m_idle.stop();
    m_parser = HttpReplyParser();
    m_replyBytes = 0;
    m_state = State::Sending;
    if (m_open) {
        m_socket->write(request);
        return;
    }
    m_pending = request;
    // Connected only now: a failure to connect, however soon it shows, is the request's.
    if (first && m_tls)
        m_socket->connectToHostEncrypted(m_host, m_port);
    else if (first)
        m_socket->connectToHost(m_host, m_port);
}

void HttpConnection::abort()
{
    m_state = State::Closed;
    close();
}

void HttpConnection::ignoreSslErrors(const QList<QSslError>& errors)
{
    m_socket->ignoreSslErrors(errors);
}

void HttpConnection::close()
{
    m_idle.stop();
    m_socket->disconnect(this);
    m_socket->abort();
}

void HttpConnection::onReadyRead()
{
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    if (m_state != State::Sending) {
        // Nothing is owed on an idle connection: it cannot be trusted with the next request.
        onEnded();
        return;
    }
    m_replyBytes += bytes.size();
    const qint64 before = m_parser.body().size();
    const bool headBefore = m_parser.headComplete();
    const HttpReplyParser::State state = m_parser.append(bytes);
    QPointer<HttpConnection> self(this);
    if (!headBefore && m_parser.headComplete()) {
        emit headReceived();
        if (!self || m_state != State::Sending)
            return;
    }
    if (m_parser.body().size() > before) {
        emit bodyReceived(m_parser.body().size(), m_parser.contentLength());
        if (!self || m_state != State::Sending)
            return;
    }
    if (state == HttpReplyParser::Malformed) {
        m_state = State::Closed;
        close();
        emit failed(QStringLiteral("Malformed reply"));
    } else if (state == HttpReplyParser::Complete) {
        ++m_replies;
        if (m_parser.keepAlive()) {
            m_state = State::Idle;
            m_idle.start();
        } else {
            m_state = State::Closed;
            close();
        }
        emit finished();
    }
}

void HttpConnection::onEnded()
{
    if (m_state == State::Closed)
        return;
    if (m_state != State::Sending) {
        m_state = State::Closed;
        close();
        emit closed();
        return;
    }
    // What came before the end is read first: it may complete the reply.
    if (m_socket->bytesAvailable() > 0) {
        QPointer<HttpConnection> self(this);
        onReadyRead();
        if (!self || m_state != State::Sending)
            return;
    }
    QString error = m_socket->error() == QAbstractSocket::UnknownSocketError ? QStringLiteral("Connection closed")
                                                                             : m_socket->errorString();
    const bool whole = m_parser.finish() == HttpReplyParser::Complete;
    if (!whole && m_parser.contentLength() > m_parser.body().size())
        error = QStringLiteral("Reply cut short (%1 of %2 bytes)")
                    .arg(m_parser.body().size())
                    .arg(m_parser.contentLength());
    m_state = State::Closed;
    close();
    if (whole) {
        ++m_replies;
        emit finished();
    } else {
        emit failed(error);
    }
}

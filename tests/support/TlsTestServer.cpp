#include "TlsTestServer.h"

#include <QFile>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QThread>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TlsTestServer::TlsTestServer(QObject* parent)
    : QTcpServer(parent)
{
}

TlsTestServer::~TlsTestServer()
{
    if (!m_thread)
        return;
    // Sockets and timers end in the thread they live in.
    QThread* home = QThread::currentThread();
    QMetaObject::invokeMethod(
        this,
        [this, home] {
            close();
            qDeleteAll(findChildren<QSslSocket*>(QString(), Qt::FindDirectChildrenOnly));
            moveToThread(home);
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

bool TlsTestServer::startInThread(quint16 port)
{
    m_thread = new QThread;
    moveToThread(m_thread);
    m_thread->start();
    bool listening = false;
    QMetaObject::invokeMethod(
        this, [this, &listening, port] { listening = start(port); }, Qt::BlockingQueuedConnection);
    return listening;
}

QList<TlsTestServer::Request> TlsTestServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

void TlsTestServer::setCertificate(const QString& certPath, const QString& keyPath)
{
    m_cert = readFile(certPath);
    m_key = readFile(keyPath);
    m_tls = true;
}

void TlsTestServer::setCaCertificate(const QString& path)
{
    m_ca = readFile(path);
}

QString TlsTestServer::url(const QString& path, const QString& host) const
{
    return QStringLiteral("%1://%2:%3%4").arg(m_tls ? "https" : "http", host).arg(serverPort()).arg(path);
}

void TlsTestServer::sendRest()
{
    const QList<std::function<void()>> rests = std::exchange(m_rests, {});
    for (const auto& send : rests)
        send();
}

TlsTestServer::Response TlsTestServer::json(int status, const QByteArray& reason, const QByteArray& body)
{
    return { status, reason, { { "Content-Type", "application/json" } }, body };
}

void TlsTestServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // A reply's head and body go out in two writes: without this a kept connection waits
    // for the peer's delayed acknowledgement at every request.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_accepted.ref();
    m_open.ref();
    // Every socket ends deleted, whoever closed it.
    connect(
        socket, &QObject::destroyed, this, [this] { m_open.deref(); }, Qt::DirectConnection);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    if (!m_tls)
        return;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(QSslCertificate(m_cert));
    config.setPrivateKey(QSslKey(m_key, QSsl::Rsa));
    config.setCaCertificates(QSslCertificate::fromData(m_ca));
    config.setProtocol(m_protocol);
    config.setPeerVerifyMode(m_requireClientCert ? QSslSocket::VerifyPeer : QSslSocket::QueryPeer);
    socket->setSslConfiguration(config);
    // An optional client certificate is only recorded, never verified.
    connect(socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), this, [this, socket] {
        if (!m_requireClientCert)
            socket->ignoreSslErrors();
    });
    socket->startServerEncryption();
}

void TlsTestServer::onReadyRead(QSslSocket* socket)
{
#ifdef TCP_QUICKACK
    // The client writes a request's head and body apart: acknowledge at once rather than
    // leave its body waiting for the delayed acknowledgement (Linux turns this off again).
    const int on = 1;
    setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
    if (m_resetKept && socket->property("answered").toBool()) {
        reset(socket);
        return;
    }
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    while (true) {
        const int headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            break;
        Request request;
        const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.path = requestLine.value(1);
        for (const QByteArray& line : lines.mid(1)) {
            const int colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        const int length = m_answerEarly ? 0 : request.headers.value("content-length", "0").toInt();
        if (buffer.size() < headEnd + 4 + length)
            break;
        request.body = buffer.mid(headEnd + 4, length);
        buffer.remove(0, headEnd + 4 + length);
        request.clientCommonName = socket->peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0);
        request.protocol = socket->sessionProtocol();
        const bool keepAlive = m_keepAlive && request.headers.value("connection").toLower() != "close";
        if (!keepAlive)
            disconnect(socket, &QSslSocket::readyRead, this, nullptr);
        {
            QMutexLocker lock(&m_mutex);
            m_requests.append(request);
        }
        const Response response = m_handler(request);
        if (response.reset) {
            reset(socket);
            return;
        }
        socket->setProperty("answered", true);
        if (!response.silent)
            respond(socket, response, keepAlive);
        if (!keepAlive)
            return;
    }
    socket->setProperty("buffer", buffer);
}

void TlsTestServer::reset(QSslSocket* socket)
{
    // Closed with nothing to linger on, the socket sends a reset.
    const linger now { 1, 0 };
    setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    socket->abort();
    socket->deleteLater();
}

void TlsTestServer::respond(QSslSocket* socket, const Response& r, bool keepAlive)
{
    if (!r.raw.isEmpty()) {
        socket->write(r.raw);
        if (!r.keepOpen)
            socket->disconnectFromHost();
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + ' ' + r.reason + "\r\n";
    for (const auto& header : r.headers)
        head += header.first + ": " + header.second + "\r\n";
    head += r.chunked ? QByteArray("Transfer-Encoding: chunked")
                      : "Content-Length: " + QByteArray::number(r.announce >= 0 ? r.announce : r.body.size());
    head += keepAlive ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n";
    socket->write(head);

    const auto body = [&r](const QByteArray& bytes, bool last) -> QByteArray {
        if (!r.chunked)
            return bytes;
        return (bytes.isEmpty() ? QByteArray() : QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n")
            + (last ? "0\r\n\r\n" : "");
    };
    const bool close = !keepAlive && r.announce < 0;
    const int cutAfterMs = r.announce >= 0 ? r.cutAfterMs : -1;
    const auto send = [socket, close, cutAfterMs](const QByteArray& bytes) {
        socket->write(bytes);
        if (close)
            socket->disconnectFromHost();
        else if (cutAfterMs >= 0)
            QTimer::singleShot(cutAfterMs, socket, [socket] { socket->disconnectFromHost(); });
    };
    if (r.firstPart < 0) {
        send(body(r.body, true));
        return;
    }
    // The client reports progress at most every 100 ms from when it sent the request: the
    // first part comes later than that. The rest waits for the test, which can then see the
    // first part reported however the threads are scheduled.
    const QByteArray first = body(r.body.left(r.firstPart), false);
    const QByteArray rest = body(r.body.mid(r.firstPart), true);
    QTimer::singleShot(150, socket, [this, socket, first, rest, send] {
        socket->write(first);
        m_rests.append([socket = QPointer<QSslSocket>(socket), rest, send] {
            if (socket)
                send(rest);
        });
    });
}

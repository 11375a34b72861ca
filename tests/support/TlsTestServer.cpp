#include "TlsTestServer.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

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
    m_handler = [](const Request&) { return Response(); };
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

bool TlsTestServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

QString TlsTestServer::url(const QString& path, const QString& host) const
{
    return QStringLiteral("%1://%2:%3%4").arg(m_tls ? "https" : "http", host).arg(serverPort()).arg(path);
}

TlsTestServer::Response TlsTestServer::json(int status, const QByteArray& reason, const QByteArray& body)
{
    Response response;
    response.status = status;
    response.reason = reason;
    response.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    response.body = body;
    return response;
}

void TlsTestServer::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
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
    connect(socket, QOverload<const QList<QSslError>&>::of(&QSslSocket::sslErrors), this, [this, socket] {
        // A client certificate is only recorded unless it is required.
        if (m_requireClientCert) {
            ++m_handshakeFailures;
            socket->abort();
        } else {
            socket->ignoreSslErrors();
        }
    });
    connect(socket, &QSslSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError error) {
        if (!socket->isEncrypted() && error == QAbstractSocket::SslHandshakeFailedError)
            ++m_handshakeFailures;
    });
    socket->startServerEncryption();
}

void TlsTestServer::onReadyRead(QSslSocket* socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const int headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;

    Request request;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    const int length = request.headers.value("content-length", "0").toInt();
    if (buffer.size() < headEnd + 4 + length)
        return;
    request.body = buffer.mid(headEnd + 4, length);
    request.clientCommonName = socket->peerCertificate().subjectInfo(QSslCertificate::CommonName).value(0);
    request.protocol = socket->sessionProtocol();
    socket->setProperty("buffer", QByteArray());
    disconnect(socket, &QSslSocket::readyRead, this, nullptr);
    m_requests.append(request);

    const Response response = m_handler(request);
    if (!response.silent) {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + response.reason + "\r\n";
        for (const auto& header : response.headers)
            out += header.first + ": " + header.second + "\r\n";
        out += "Connection: close\r\n";
        const int split
            = response.firstPart >= 0 ? qMin(response.firstPart, response.body.size()) : response.body.size();
        const QByteArray first = response.body.left(split);
        const QByteArray rest = response.body.mid(split);
        auto chunk = [](const QByteArray& part) {
            return part.isEmpty() ? QByteArray() : QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
        };
        QByteArray head;
        QByteArray tail;
        if (response.chunked) {
            head = out + "Transfer-Encoding: chunked\r\n\r\n";
            tail = chunk(rest) + "0\r\n\r\n";
            out = head + chunk(first);
        } else {
            head = out + "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n";
            tail = rest;
            out = head + first;
        }
        if (response.firstPart >= 0) {
            // The client reports progress at most every 100 ms: space the parts wider.
            socket->write(head);
            const QByteArray firstBytes = out.mid(head.size());
            QTimer::singleShot(150, socket, [socket, firstBytes] { socket->write(firstBytes); });
            QTimer::singleShot(300, socket, [socket, tail] {
                socket->write(tail);
                socket->disconnectFromHost();
            });
            emit requestServed();
            return;
        }
        socket->write(out + tail);
        socket->disconnectFromHost();
    }
    emit requestServed();
}

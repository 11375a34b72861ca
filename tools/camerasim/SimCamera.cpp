#include "SimCamera.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <cerrno>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QStringList ReplyNames { QStringLiteral("200"), QStringLiteral("auth"), QStringLiteral("404"),
    QStringLiteral("500"), QStringLiteral("silent"), QStringLiteral("refused"), QStringLiteral("close"),
    QStringLiteral("huge"), QStringLiteral("stream") };
const QStringList PushNames { QStringLiteral("normal"), QStringLiteral("early"), QStringLiteral("none"),
    QStringLiteral("missing"), QStringLiteral("array"), QStringLiteral("garbage"), QStringLiteral("twice"),
    QStringLiteral("nopush"), QStringLiteral("stray"), QStringLiteral("split"), QStringLiteral("heartbeat"),
    QStringLiteral("forged"), QStringLiteral("long") };
constexpr int MaxHead = 16 * 1024;
} // namespace

SimCamera::SimCamera(const QHostAddress& address, const QString& role, QObject* parent)
    : QObject(parent)
    , m_address(address)
    , m_role(role)
    , m_server(new QTcpServer(this))
{
    static const QHash<QString, QString> defaults { { QStringLiteral("alpr1"), QStringLiteral("ABC1234") },
        { QStringLiteral("alpr2"), QStringLiteral("XYZ9876") },
        { QStringLiteral("ccr1"), QStringLiteral("MSCU1234565") },
        { QStringLiteral("ccr2"), QStringLiteral("TGHU7654321") } };
    m_value = defaults.value(role, QStringLiteral("SIM0001"));
    connect(m_server, &QTcpServer::newConnection, this, &SimCamera::onNewConnection);
}

SimCamera::~SimCamera()
{
    m_stopStreams = true;
    for (std::thread& stream : m_streams)
        stream.join();
}

bool SimCamera::start(quint16 port, QString* error)
{
    m_port = port;
    if (m_reply == Reply::Refused || m_server->isListening())
        return true;
    if (m_server->listen(m_address, port))
        return true;
    if (error)
        *error = QStringLiteral("%1 cannot listen on %2:%3: %4")
                     .arg(m_role, m_address.toString())
                     .arg(port)
                     .arg(m_server->errorString());
    return false;
}

bool SimCamera::parseReply(const QString& text, Reply* reply)
{
    const int index = ReplyNames.indexOf(text);
    if (index < 0)
        return false;
    *reply = Reply(index);
    return true;
}

bool SimCamera::parsePush(const QString& text, Push* push)
{
    const int index = PushNames.indexOf(text);
    if (index < 0)
        return false;
    *push = Push(index);
    return true;
}

QStringList SimCamera::replyNames()
{
    return ReplyNames;
}

QStringList SimCamera::pushNames()
{
    return PushNames;
}

void SimCamera::setReply(Reply reply)
{
    m_reply = reply;
    // Refused means nobody listens on the port.
    if (reply == Reply::Refused)
        m_server->close();
    else if (m_port != 0)
        start(m_port, nullptr);
}

void SimCamera::setCredentials(const QString& user, const QString& password)
{
    m_user = user;
    m_password = password;
}

void SimCamera::setPushTarget(const QHostAddress& address, quint16 port)
{
    m_targetAddress = address;
    m_targetPort = port;
}

void SimCamera::journal(QJsonObject entry)
{
    entry.insert(QStringLiteral("camera"), m_role);
    entry.insert(QStringLiteral("ms"), QDateTime::currentMSecsSinceEpoch());
    emit journaled(entry);
}

void SimCamera::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            Connection& connection = m_connections[socket];
            if (connection.answered) {
                socket->readAll();
                return;
            }
            connection.data += socket->readAll();
            const int end = connection.data.indexOf("\r\n\r\n");
            if (end < 0 && connection.data.size() < MaxHead)
                return;
            connection.answered = true;
            onTrigger(socket, connection.data.left(end < 0 ? MaxHead : end));
        });
    }
}

void SimCamera::answer(QTcpSocket* socket, int status, const QByteArray& extraHeaders)
{
    static const QHash<int, QByteArray> reasons { { 200, "OK" }, { 401, "Unauthorized" }, { 404, "Not Found" },
        { 500, "Internal Server Error" } };
    const QByteArray body = status == 200 ? QByteArray("OK\n") : reasons.value(status) + "\n";
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status) + "\r\n";
    reply += extraHeaders;
    reply += "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
    socket->write(reply);
    socket->disconnectFromHost();
}

void SimCamera::stream(QTcpSocket* socket, bool announced)
{
    const QByteArray head = QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n")
        + (announced ? QByteArray("Content-Length: 8000000000\r\n") : QByteArray()) + "Connection: close\r\n\r\n";
    // A thread of its own sends, as a camera on its own host would: paced by the terminal's
    // reading only, not by this event loop. The socket object keeps the connection open.
    const int fd = ::dup(int(socket->socketDescriptor()));
    if (fd < 0) {
        socket->abort();
        return;
    }
    m_streams.emplace_back(&SimCamera::sendEndlessly, fd, head, &m_stopStreams);
}

void SimCamera::sendEndlessly(int fd, const QByteArray& head, const std::atomic<bool>* stop)
{
    const QByteArray chunk(64 * 1024, 'x');
    QByteArray pending = head;
    int offset = 0;
    qint64 sent = 0;
    while (!*stop && sent < StreamCapBytes) {
        pollfd p { fd, POLLOUT, 0 };
        if (::poll(&p, 1, 100) < 0 && errno != EINTR)
            break;
        if (p.revents & (POLLERR | POLLHUP))
            break;
        if (!(p.revents & POLLOUT))
            continue;
        if (offset == pending.size()) {
            pending = chunk;
            offset = 0;
        }
        const ssize_t n
            = ::send(fd, pending.constData() + offset, size_t(pending.size() - offset), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            break; // the terminal closed the connection
        }
        offset += int(n);
        sent += n;
    }
    ::close(fd);
}

void SimCamera::onTrigger(QTcpSocket* socket, const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QUrl target(QString::fromUtf8(requestLine.value(1)));
    QJsonObject headers;
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            headers.insert(QString::fromLatin1(lines[i].left(colon).trimmed()),
                QString::fromLatin1(lines[i].mid(colon + 1).trimmed()));
    }
    const QString id = QUrlQuery(target).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    const QString expected
        = (readsPlates() ? QStringLiteral("/local/Vaxreader/") : QStringLiteral("/local/Vaxcontainer/"))
        + QStringLiteral("trigger.cgi");
    const QByteArray basic = "Basic " + (m_user.toUtf8() + ':' + m_password.toUtf8()).toBase64();
    const bool authorized = headers.value(QStringLiteral("Authorization")).toString().toLatin1() == basic;
    journal({ { QStringLiteral("event"), QStringLiteral("trigger") },
        { QStringLiteral("method"), QString::fromLatin1(requestLine.value(0)) },
        { QStringLiteral("path"), target.path() }, { QStringLiteral("query"), target.query(QUrl::FullyEncoded) },
        { QStringLiteral("id"), id }, { QStringLiteral("headers"), headers },
        { QStringLiteral("authorized"), authorized } });

    switch (m_reply) {
    case Reply::Silent:
        return;
    case Reply::Close:
        socket->disconnectFromHost();
        return;
    case Reply::NotFound:
        answer(socket, 404);
        return;
    case Reply::ServerError:
        answer(socket, 500);
        return;
    case Reply::Auth:
        if (!authorized) {
            answer(socket, 401, "WWW-Authenticate: Basic realm=\"VaxReader\"\r\n");
            return;
        }
        break;
    case Reply::Huge:
    case Reply::Stream:
        stream(socket, m_reply == Reply::Huge);
        return;
    case Reply::Ok:
    case Reply::Refused:
        break;
    }
    if (target.path() != expected) {
        answer(socket, 404);
        return;
    }
    if (m_push == Push::Early) {
        // The reading reaches the terminal before the trigger's reply does.
        const QPointer<QTcpSocket> guard(socket);
        push(QStringLiteral("/push/") + m_role, dataBody(id, m_value), m_address, false, [this, guard](int) {
            if (guard)
                answer(guard, 200);
        });
        return;
    }
    answer(socket, 200);
    pushAfterTrigger(id);
}

void SimCamera::pushAfterTrigger(const QString& id)
{
    const QString path = QStringLiteral("/push/") + m_role;
    ++m_pushesPending;
    QTimer::singleShot(m_pushDelayMsec, this, [this, id, path] {
        --m_pushesPending;
        switch (m_push) {
        case Push::Normal:
        case Push::Early:
            push(path, dataBody(id, m_value), m_address);
            break;
        case Push::None:
            push(path, dataBody(id, QStringLiteral("NONE")), m_address);
            break;
        case Push::Missing:
            push(path, "{}", m_address);
            break;
        case Push::Forged:
            push(path, dataBody(id, forgedValue(m_value)), m_address);
            break;
        case Push::Long:
            push(path, dataBody(id, QString(LongValueBytes, QLatin1Char('A'))), m_address);
            break;
        case Push::Array:
            push(path, "[]", m_address);
            break;
        case Push::Garbage:
            push(path, "plate=ABC1234", m_address);
            break;
        case Push::Twice:
            push(path, dataBody(id, m_value), m_address, false,
                [this, id, path](int) { push(path, dataBody(id, m_value + QStringLiteral("-2")), m_address); });
            break;
        case Push::NoPush:
            break;
        case Push::Stray:
            push(path, dataBody(id, m_value), m_strayAddress);
            break;
        case Push::Split:
            push(path, dataBody(id, m_value), m_address, true);
            break;
        case Push::Heartbeat:
            push(QStringLiteral("/heartbeat"), heartbeatBody(), m_address, false, [this, id, path](int) {
                ++m_pushesPending;
                QTimer::singleShot(m_pushDelayMsec, this, [this, id, path] {
                    --m_pushesPending;
                    push(path, dataBody(id, m_value), m_address);
                });
            });
            break;
        }
    });
}

QString SimCamera::forgedValue(const QString& value)
{
    return value + QStringLiteral("\x1b[2K\n[   12.345] [Terminal] State changed : (2) Ready");
}

QByteArray SimCamera::dataBody(const QString& id, const QString& value) const
{
    const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    QJsonObject object;
    if (readsPlates()) {
        object = { { QStringLiteral("plate"), value }, { QStringLiteral("country"), QStringLiteral("GR") },
            { QStringLiteral("confidence"), 0.93 }, { QStringLiteral("direction"), 1 },
            { QStringLiteral("directionstr"), QStringLiteral("approaching") }, { QStringLiteral("id"), id },
            { QStringLiteral("imageid"), id }, { QStringLiteral("blacklist"), QString() },
            { QStringLiteral("whitelist"), QString() }, { QStringLiteral("utcdate"), now } };
    } else {
        object = { { QStringLiteral("code"), value }, { QStringLiteral("date"), now },
            { QStringLiteral("confidence"), 0.88 }, { QStringLiteral("processingtime"), 120 },
            { QStringLiteral("sizecode"), QStringLiteral("22G1") } };
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray SimCamera::heartbeatBody() const
{
    const QJsonObject object { { QStringLiteral("pending"), 0 },
        { QStringLiteral("SoftwareVersion"), QStringLiteral("2.4.1") }, { QStringLiteral("BuildNumber"), 417 },
        { QStringLiteral("Manufacturer"), QStringLiteral("SimCam") },
        { QStringLiteral("SerialNumber"), QStringLiteral("SIM-") + m_role },
        { QStringLiteral("Model"), QStringLiteral("VAX-SIM") },
        { QStringLiteral("FirmwareVersion"), QStringLiteral("10.12") },
        { QStringLiteral("Date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate) },
        { QStringLiteral("PID"), QStringLiteral("4711") } };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void SimCamera::push(const QString& path, const QByteArray& body, const QHostAddress& from, bool split,
    const std::function<void(int)>& done)
{
    const QByteArray head = "POST " + path.toUtf8() + " HTTP/1.1\r\nHost: " + m_targetAddress.toString().toLatin1()
        + ':' + QByteArray::number(m_targetPort) + "\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    ++m_pushesPending;
    auto* socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy); // a proxy of the environment could not bind the source
    auto reply = std::make_shared<QByteArray>();
    auto finished = std::make_shared<bool>(false);
    const auto finish = [this, socket, reply, finished, path, from, done](const QString& error) {
        if (*finished)
            return;
        *finished = true;
        --m_pushesPending;
        const QList<QByteArray> status = reply->left(reply->indexOf('\r')).split(' ');
        const int code = status.value(1).toInt();
        QJsonObject entry { { QStringLiteral("event"), QStringLiteral("push") }, { QStringLiteral("path"), path },
            { QStringLiteral("from"), from.toString() }, { QStringLiteral("status"), code } };
        if (!error.isEmpty())
            entry.insert(QStringLiteral("error"), error);
        journal(entry);
        socket->deleteLater();
        if (done)
            done(code);
    };
    // Pushes come from the camera's own address: that is how the terminal tells cameras apart.
    if (!socket->bind(from)) {
        finish(QStringLiteral("cannot bind ") + from.toString() + QStringLiteral(": ") + socket->errorString());
        return;
    }
    connect(socket, &QTcpSocket::connected, this, [this, socket, head, body, split] {
        if (!split) {
            socket->write(head + body);
            return;
        }
        // Head and body in separate segments, some time apart.
        socket->write(head + body.left(body.size() / 2));
        socket->flush();
        const QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(50, this, [guard, body] {
            if (guard)
                guard->write(body.mid(body.size() / 2));
        });
    });
    connect(socket, &QTcpSocket::readyRead, this, [socket, reply] { *reply += socket->readAll(); });
    connect(socket, &QTcpSocket::disconnected, this, [finish] { finish(QString()); });
    connect(socket, &QAbstractSocket::errorOccurred, this, [socket, finish](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            finish(socket->errorString());
    });
    socket->connectToHost(m_targetAddress, m_targetPort);
}

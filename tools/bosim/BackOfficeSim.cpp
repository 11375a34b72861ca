#include "BackOfficeSim.h"

#include "HttpRequestParser.h"

#include <QFile>
#include <QJsonDocument>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

#include <utility>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

const QString DevicePrefix = QStringLiteral("/api/v1/device/");
const QString ControlPrefix = QStringLiteral("/sim/");

QByteArray readFile(const QString& path, bool* ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? file.readAll() : QByteArray();
}

QByteArray reasonPhrase(int status)
{
    static const QMap<int, QByteArray> phrases { { 200, "OK" }, { 201, "Created" }, { 204, "No Content" },
        { 307, "Temporary Redirect" }, { 400, "Bad Request" }, { 401, "Unauthorized" }, { 403, "Forbidden" },
        { 404, "Not Found" }, { 408, "Request Timeout" }, { 429, "Too Many Requests" },
        { 500, "Internal Server Error" }, { 503, "Service Unavailable" } };
    return phrases.value(status, "Status");
}

} // namespace

QJsonObject BackOfficeSim::Entry::toJson() const
{
    QJsonObject head;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        head.insert(it.key(), it.value());
    return QJsonObject { { QStringLiteral("method"), method }, { QStringLiteral("path"), path },
        { QStringLiteral("query"), query }, { QStringLiteral("headers"), head },
        { QStringLiteral("body"), QString::fromUtf8(body) }, { QStringLiteral("clientSubject"), clientSubject },
        { QStringLiteral("status"), status } };
}

BackOfficeSim::BackOfficeSim(QObject* parent)
    : QTcpServer(parent)
{
    m_customs = QJsonArray { QJsonObject { { "id", 1 }, { "name", "Customs Office 1" }, { "uuid", "c-0001" } } };
    m_locations = QJsonArray { QJsonObject { { "id", 7 }, { "name", "Lane 7" }, { "uuid", "l-0007" } } };
}

bool BackOfficeSim::setCertificates(const QString& caPath, const QString& certPath, const QString& keyPath)
{
    bool caOk = false, certOk = false, keyOk = false;
    m_ca = QSslCertificate::fromData(readFile(caPath, &caOk));
    m_cert = QSslCertificate(readFile(certPath, &certOk));
    m_key = QSslKey(readFile(keyPath, &keyOk), QSsl::Rsa);
    if (!caOk || !certOk || !keyOk || m_ca.isEmpty() || m_cert.isNull() || m_key.isNull()) {
        m_error = QStringLiteral("cannot load the CA, certificate or key (%1, %2, %3)").arg(caPath, certPath, keyPath);
        return false;
    }
    return true;
}

bool BackOfficeSim::start(quint16 port)
{
    if (listen(QHostAddress::LocalHost, port))
        return true;
    m_error = errorString();
    return false;
}

QString BackOfficeSim::url() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(serverPort());
}

void BackOfficeSim::script(const QString& endpoint, const ScriptedReply& reply, int times)
{
    m_scripts[endpoint].append(Script { reply, times });
}

void BackOfficeSim::setBlacklist(const QString& version, const QStringList& uids)
{
    m_blacklists.insert(version, uids);
    m_blacklistVersion = version;
}

void BackOfficeSim::setReferenceData(const QJsonArray& customs, const QJsonArray& locations)
{
    m_customs = customs;
    m_locations = locations;
}

namespace {
QList<BackOfficeSim::Entry> entriesAt(const QList<BackOfficeSim::Entry>& entries, const QString& path)
{
    QList<BackOfficeSim::Entry> list;
    for (const BackOfficeSim::Entry& entry : entries) {
        if (entry.path == path)
            list.append(entry);
    }
    return list;
}
} // namespace

QList<BackOfficeSim::Entry> BackOfficeSim::journal(const QString& endpoint) const
{
    return entriesAt(m_journal, DevicePrefix + endpoint);
}

QList<BackOfficeSim::Entry> BackOfficeSim::answered(const QString& endpoint) const
{
    return entriesAt(m_answered, DevicePrefix + endpoint);
}

void BackOfficeSim::clearJournal()
{
    m_journal.clear();
    m_answered.clear();
}

void BackOfficeSim::release()
{
    const QList<Held> held = std::exchange(m_held, {});
    for (const Held& item : held) {
        if (item.socket)
            answer(item.socket, item.entry, item.answer);
    }
}

int BackOfficeSim::duplicates() const
{
    int count = 0;
    for (int receipts : m_transactions)
        count += receipts - 1;
    return count;
}

void BackOfficeSim::incomingConnection(qintptr descriptor)
{
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Handshake records and answers go out in several writes: without this each waits for the
    // client's delayed acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto parser = std::make_shared<HttpRequestParser>();
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::readyRead, this, [this, socket, parser] {
#ifdef TCP_QUICKACK
        // The client writes a request's head and body apart: acknowledge at once rather than
        // leave its body waiting for the delayed acknowledgement (Linux turns this off again).
        const int on = 1;
        setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
        if (parser->append(socket->readAll()) == HttpRequestParser::Incomplete)
            return;
        disconnect(socket, &QSslSocket::readyRead, this, nullptr);
        if (parser->state() == HttpRequestParser::TooLarge)
            return respond(socket, Answer { 400, json(QJsonObject { { "error", "request too large" } }) });
        const QByteArray data = parser->data();
        const int headEnd = data.indexOf("\r\n\r\n");
        const QList<QByteArray> lines = data.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        const QUrl target(QString::fromUtf8(requestLine.value(1)));
        Entry entry;
        entry.method = QString::fromLatin1(requestLine.value(0));
        entry.path = target.path();
        entry.query = target.query(QUrl::FullyDecoded);
        for (const QByteArray& line : lines.mid(1)) {
            const int colon = line.indexOf(':');
            if (colon > 0)
                entry.headers.insert(QString::fromLatin1(line.left(colon).trimmed().toLower()),
                    QString::fromLatin1(line.mid(colon + 1).trimmed()));
        }
        entry.body = headEnd < 0 ? QByteArray() : data.mid(headEnd + 4);
        entry.clientSubject = socket->peerCertificate().subjectDisplayName();
        handle(socket, entry);
    });
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(m_cert);
    config.setPrivateKey(m_key);
    config.setCaCertificates(m_ca);
    config.setProtocol(QSsl::TlsV1_2);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket->setSslConfiguration(config);
    socket->startServerEncryption();
}

void BackOfficeSim::handle(QSslSocket* socket, Entry entry)
{
    if (entry.path.startsWith(ControlPrefix)) {
        const Answer answer = control(entry.path.mid(ControlPrefix.size()), entry);
        return respond(socket, answer);
    }
    const QString endpoint = entry.path.startsWith(DevicePrefix) ? entry.path.mid(DevicePrefix.size()) : QString();
    QList<Script>& queue = m_scripts[endpoint];
    Answer answer;
    std::unique_ptr<ScriptedReply> scripted;
    if (!queue.isEmpty()) {
        scripted = std::make_unique<ScriptedReply>(queue.first().reply);
        if (queue.first().times > 0 && --queue.first().times == 0)
            queue.removeFirst();
    }
    // A script of status 200 with no body of its own only delays the simulator's reply;
    // any other script replaces it.
    const bool replaces = scripted
        && (scripted->status != 200 || scripted->body != ScriptedReply::Body::Auto || scripted->drop || scripted->stall
            || !scripted->redirect.isEmpty());
    if (!replaces) {
        answer = own(endpoint, entry);
    } else {
        answer.status = scripted->redirect.isEmpty() ? scripted->status : 307;
        answer.body = scripted->bytes(json(QJsonObject { { "error", "scripted reply" } }));
        answer.location = scripted->redirect;
        answer.stall = scripted->stall;
    }
    entry.status = scripted && scripted->drop ? 0 : answer.status;
    m_journal.append(entry);
    emit requestHandled(entry);
    if (scripted && scripted->drop) {
        socket->abort();
        return;
    }
    if (scripted && scripted->hold) {
        m_held.append({ socket, entry, answer });
        return;
    }
    const int delay = scripted ? scripted->delayMsec : 0;
    if (delay <= 0)
        return this->answer(socket, entry, answer);
    QTimer::singleShot(delay, socket, [this, socket, entry, answer] { this->answer(socket, entry, answer); });
}

void BackOfficeSim::answer(QSslSocket* socket, const Entry& entry, const Answer& answer)
{
    m_answered.append(entry);
    respond(socket, answer);
}

BackOfficeSim::Answer BackOfficeSim::own(const QString& endpoint, const Entry& entry)
{
    const QJsonObject body = QJsonDocument::fromJson(entry.body).object();
    if (endpoint == QLatin1String("register") && entry.method == QLatin1String("POST")) {
        m_apiKey = QStringLiteral("key-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        return Answer { 201, json(QJsonObject { { "id", m_nextId++ }, { "apiKey", m_apiKey } }) };
    }
    // Once a device registered, every other request must carry its key.
    if (!m_apiKey.isEmpty() && entry.headers.value(QStringLiteral("x-api-key")) != m_apiKey)
        return Answer { 401, json(QJsonObject { { "error", "invalid API key" } }) };
    if (endpoint == QLatin1String("updateData") && entry.method == QLatin1String("GET"))
        return Answer { 200, json(QJsonObject { { "customs", m_customs }, { "locations", m_locations } }) };
    if (endpoint == QLatin1String("heartbeat") && entry.method == QLatin1String("POST")) {
        QJsonObject reply = m_heartbeatReply;
        if (!m_blacklistVersion.isEmpty() && !reply.contains(QStringLiteral("blacklistVersion")))
            reply.insert(QStringLiteral("blacklistVersion"), m_blacklistVersion);
        return Answer { 200, json(reply) };
    }
    if (endpoint == QLatin1String("blacklist") && entry.method == QLatin1String("GET"))
        return blacklist(QUrlQuery(entry.query).queryItemValue(QStringLiteral("after"), QUrl::FullyDecoded));
    if (endpoint == QLatin1String("operation/status")
        && (entry.method == QLatin1String("PUT") || entry.method == QLatin1String("DELETE")))
        return Answer { 204, QByteArray() };
    if (endpoint == QLatin1String("transaction") && entry.method == QLatin1String("POST")) {
        const QString uid = body.value(QStringLiteral("transactionUid")).toString();
        if (uid.isEmpty())
            return Answer { 400, json(QJsonObject { { "error", "transactionUid missing" } }) };
        const int receipts = ++m_transactions[uid];
        return Answer { receipts == 1 ? 201 : 200, json(QJsonObject { { "transactionUid", uid }, { "receipts", receipts } }) };
    }
    return Answer { 404, json(QJsonObject { { "error", "no such endpoint" } }) };
}

BackOfficeSim::Answer BackOfficeSim::blacklist(const QString& after) const
{
    // "after" names the version the device is to hold once it applied the reply (the
    // one the heartbeat announced): the reply is that version's whole list as
    // "added" and every uid of other versions not in it as "removed", so applying it
    // gives that version from any earlier state. Empty means the latest version.
    const QString version = after.isEmpty() ? m_blacklistVersion : after;
    if (!m_blacklists.contains(version))
        return Answer { 404, json(QJsonObject { { "error", "unknown blacklist version" } }) };
    const QStringList uids = m_blacklists.value(version);
    const QSet<QString> current(uids.cbegin(), uids.cend());
    QSet<QString> removed;
    for (const QStringList& other : m_blacklists) {
        for (const QString& uid : other) {
            if (!current.contains(uid))
                removed.insert(uid);
        }
    }
    return Answer { 200, json(QJsonObject { { "version", version }, { "added", QJsonArray::fromStringList(uids) },
                             { "removed", QJsonArray::fromStringList(QStringList(removed.cbegin(), removed.cend())) } }) };
}

BackOfficeSim::Answer BackOfficeSim::control(const QString& command, const Entry& entry)
{
    const QJsonObject body = QJsonDocument::fromJson(entry.body).object();
    if (command == QLatin1String("script")) {
        script(body.value(QStringLiteral("endpoint")).toString(),
            ScriptedReply::fromJson(body.value(QStringLiteral("reply")).toObject()), body.value(QStringLiteral("times")).toInt(1));
        return Answer { 204, QByteArray() };
    }
    if (command == QLatin1String("heartbeat")) {
        setHeartbeatReply(body);
        return Answer { 204, QByteArray() };
    }
    if (command == QLatin1String("blacklist")) {
        QStringList uids;
        for (const QJsonValue& uid : body.value(QStringLiteral("uids")).toArray())
            uids.append(uid.toString());
        setBlacklist(body.value(QStringLiteral("version")).toString(), uids);
        return Answer { 204, QByteArray() };
    }
    if (command == QLatin1String("journal")) {
        QJsonArray list;
        for (const Entry& item : m_journal)
            list.append(item.toJson());
        return Answer { 200, json(list) };
    }
    if (command == QLatin1String("transactions")) {
        QJsonObject counts;
        for (auto it = m_transactions.cbegin(); it != m_transactions.cend(); ++it)
            counts.insert(it.key(), it.value());
        return Answer { 200, json(counts) };
    }
    if (command == QLatin1String("release")) {
        release();
        return Answer { 204, QByteArray() };
    }
    if (command == QLatin1String("reset")) {
        clearScripts();
        clearJournal();
        m_transactions.clear();
        m_apiKey.clear();
        return Answer { 204, QByteArray() };
    }
    return Answer { 404, json(QJsonObject { { "error", "no such control command" } }) };
}

QByteArray BackOfficeSim::json(const QJsonValue& value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

void BackOfficeSim::respond(QSslSocket* socket, const Answer& answer)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) + "\r\n";
    if (!answer.body.isEmpty())
        head += "Content-Type: application/json\r\n";
    if (!answer.location.isEmpty())
        head += "Location: " + answer.location.toUtf8() + "\r\n";
    const int missing = answer.stall ? 100000 : 0;
    head += "Content-Length: " + QByteArray::number(answer.body.size() + missing) + "\r\nConnection: close\r\n\r\n";
    socket->write(head + answer.body);
    // A stalled reply keeps the connection until the client gives up.
    if (!answer.stall)
        socket->disconnectFromHost();
}

#include "HttpClient.h"

#include "Config.h"
#include "HttpConnection.h"
#include "HttpConnectionPool.h"
#include "PeerText.h"

#include "DeferredDataBase.h"

#include <QAbstractEventDispatcher>
#include <QAuthenticator>
#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslError>
#include <QSslKey>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>

#define HTTP_LOG(level) level().noquote().nospace() << "[HttpClient] "

struct HttpClient::Call
{
    Method method;
    QUrl url;
    QJsonValue data;
    QByteArray request;
    QMap<QString, QString> tlsFiles; // over https, as the call was made
    bool ignoreSslErrors = false;
    // Set in the network thread: the key of the connections the request may go on.
    QString origin;
    std::unique_ptr<QSslConfiguration> tls;
    int timeout;
    int redirects;
    Deferred<int, QJsonValue> result;
    // Where the call was made, and that thread's deferred proxy generation: the result settles there.
    QThread* thread = nullptr;
    quint64 generation = 0;
    HttpConnection* connection = nullptr;
    QTimer* timer = nullptr;
    bool sentAgain = false;
};

namespace {

int effectivePort(const QUrl& url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

// A header that would end its line early could add fields of its own to the request.
bool fitsOneLine(const QByteArray& text)
{
    for (char c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    return true;
}

} // namespace

HttpClient::HttpClient(QObject* parent)
    : QObject(parent)
    , m_idleTimeout(HttpConnection::IdleMs)
{
}

HttpClient::~HttpClient()
{
    // The connections go with the client, before anything else of it: calls in flight
    // must not call back into a half-destroyed client, and stay pending.
    m_network.stop();
}

QMap<QString, QString> HttpClient::headers() const
{
    QMutexLocker lock(&m_mutex);
    return m_headers;
}

void HttpClient::setHeader(const QString& name, const QString& value)
{
    QMutexLocker lock(&m_mutex);
    m_headers.insert(name, value);
}

bool HttpClient::ignoreSslErrors() const
{
    QMutexLocker lock(&m_mutex);
    return m_ignoreSslErrors;
}

void HttpClient::setIgnoreSslErrors(bool ignore)
{
    QMutexLocker lock(&m_mutex);
    m_ignoreSslErrors = ignore;
}

void HttpClient::setTlsFile(const QString& name, const QString& path)
{
    QMutexLocker lock(&m_mutex);
    if (m_tlsFiles.value(name) == path && m_tlsFiles.contains(name))
        return;
    m_tlsFiles.insert(name, path);
}

void HttpClient::setTLSCert(const QString& path)
{
    setTlsFile(QStringLiteral("cert"), path);
}

void HttpClient::setTLSKey(const QString& path)
{
    setTlsFile(QStringLiteral("key"), path);
}

void HttpClient::setTLSRootCA(const QString& path)
{
    setTlsFile(QStringLiteral("rootCA"), path);
}

Deferred<int, QJsonValue> HttpClient::get(const QUrl& url, int timeout)
{
    return send(Method::Get, url, QJsonValue(), timeout);
}

Deferred<int, QJsonValue> HttpClient::del(const QUrl& url, int timeout)
{
    return send(Method::Delete, url, QJsonValue(), timeout);
}

Deferred<int, QJsonValue> HttpClient::put(const QUrl& url, const QJsonValue& data, int timeout)
{
    return send(Method::Put, url, data, timeout);
}

Deferred<int, QJsonValue> HttpClient::post(const QUrl& url, const QJsonValue& data, int timeout)
{
    return send(Method::Post, url, data, timeout);
}

QJsonValue HttpClient::parsePayload(const QByteArray& body, QJsonParseError* error)
{
    if (body.startsWith('[') || body.startsWith('{')) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        if (error)
            *error = parseError;
        if (document.isArray())
            return document.array();
        return document.object();
    }
    if (error)
        *error = QJsonParseError { 0, QJsonParseError::NoError };
    const int nul = body.indexOf('\0');
    return QString::fromUtf8(nul >= 0 ? body.left(nul) : body);
}

QByteArray HttpClient::createPayload(const QJsonValue& data)
{
    if (data.isObject())
        return QJsonDocument(data.toObject()).toJson(QJsonDocument::Compact);
    if (data.isArray())
        return QJsonDocument(data.toArray()).toJson(QJsonDocument::Compact);
    if (data.isString())
        return data.toString().toUtf8();
    return QByteArray();
}

QString HttpClient::bytesToStr(qint64 bytes)
{
    if (bytes < 0)
        return QStringLiteral("%1 KB").arg(QStringLiteral("--"));
    if (bytes / 1e9 > 1.0)
        return QStringLiteral("%1 GB").arg(bytes / 1e9, 0, 'f', 1);
    if (bytes / 1e6 > 1.0)
        return QStringLiteral("%1 MB").arg(bytes / 1e6, 0, 'f', 1);
    return QStringLiteral("%1 KB").arg(bytes / 1000.0, 0, 'f', 1);
}

QByteArray HttpClient::createRequest(
    Method method, const QUrl& url, const QMap<QString, QString>& headers, const QByteArray& body)
{
    static const char* const names[] = { "GET", "DELETE", "PUT", "POST" };
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() >= 0 && url.port() != (url.scheme() == QLatin1String("https") ? 443 : 80))
        host += ':' + QByteArray::number(url.port());

    QByteArray request = names[int(method)] + QByteArray(" ") + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    // Framing is the client's own; every other header is the caller's, in order of name.
    static const QList<QByteArray> own { "host", "content-length", "transfer-encoding", "accept-encoding" };
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        const QByteArray name = it.key().toLatin1();
        const QByteArray value = it.value().toLatin1();
        if (own.contains(name.toLower()))
            continue;
        if (name.isEmpty() || !fitsOneLine(name) || name.contains(':') || !fitsOneLine(value)) {
            HTTP_LOG(qCritical) << "ERROR: Header not sent, it does not fit one line : " << PeerText::forLog(it.key());
            continue;
        }
        request += name + ": " + value + "\r\n";
    }
    // Coded bodies are not read: the body's announced length is then the length that comes.
    request += "Accept-Encoding: identity\r\n";
    if (method == Method::Put || method == Method::Post)
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return request + "\r\n" + body;
}

QSslConfiguration HttpClient::createSslConfig(const QMap<QString, QString>& files, QString* stamp)
{
    // Reading and parsing the key costs more than a whole call over a kept connection:
    // what was read is used again while the three files stay as they were. A file that
    // could not be read is tried (and reported) again on the next call.
    QString state;
    for (const char* name : { "cert", "key", "rootCA" }) {
        // Read on every call over https: stat() costs a fraction of the toolkit's file information.
        const QString path = files.value(QLatin1String(name));
        struct stat file = {};
        const bool found = ::stat(QFile::encodeName(path).constData(), &file) == 0;
        state += path + QLatin1Char('|') + QString::number(found ? qint64(file.st_ino) : -1) + QLatin1Char('|')
            + QString::number(qint64(file.st_size)) + QLatin1Char('|') + QString::number(qint64(file.st_mtim.tv_sec))
            + QLatin1Char('.') + QString::number(qint64(file.st_mtim.tv_nsec)) + QLatin1Char('\n');
    }
    if (state != m_sslStamp) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        const QSslCertificate cert = loadCert(files.value(QStringLiteral("cert")));
        const QSslKey key = loadPrivKey(files.value(QStringLiteral("key")));
        const QSslCertificate rootCA = loadCert(files.value(QStringLiteral("rootCA")));
        config.setLocalCertificate(cert);
        config.setPrivateKey(key);
        config.setCaCertificates({ rootCA });
        config.setProtocol(QSsl::TlsV1_2);
        const bool complete = !cert.isNull() && !key.isNull() && !rootCA.isNull();
        m_sslStamp = complete ? state : QString();
        m_sslConfig = config;
    }
    // Also when a file could not be read: a connection opened without it is not used once it can be.
    *stamp = state;
    return m_sslConfig;
}

QSslCertificate HttpClient::loadCert(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        HTTP_LOG(qCritical) << "ERROR: Could not open file : " << PeerText::forLog(path);
        return QSslCertificate();
    }
    return QSslCertificate(&file, QSsl::Pem);
}

QSslKey HttpClient::loadPrivKey(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        HTTP_LOG(qCritical) << "ERROR: Could not open file : " << PeerText::forLog(path);
        return QSslKey();
    }
    return QSslKey(&file, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, QByteArray());
}

void HttpClient::settle(const CallPtr& call, std::function<void()> outcome, bool progress)
{
    // Posted even to the calling thread: a caller that adds its callbacks right after the call
    // returns must not find the result settled already. A thread that has ended gets nothing;
    // callbacks of other threads still run. So they do when the thread stops taking events
    // before it ends (work after its loop, a handler that quits it): the result then settles as
    // the thread goes, without that thread's callbacks.
    std::function<void()> undelivered;
    if (!progress)
        undelivered = [outcome, url = call->url.toDisplayString()] {
            HTTP_LOG(qWarning) << "WARN: The thread that made the call ended without taking its result : "
                               << PeerText::forLog(url);
            outcome();
        };
    if (!DeferredDataBase::postToThread(call->thread, call->generation, outcome, std::move(undelivered)))
        outcome();
}

Deferred<int, QJsonValue> HttpClient::send(Method method, const QUrl& url, const QJsonValue& data, int timeout)
{
    auto call = std::make_shared<Call>();
    // The result settles in the calling thread's event loop: a thread that has none would
    // leave it pending for good.
    if (!QAbstractEventDispatcher::instance()) {
        HTTP_LOG(qCritical) << "ERROR: Call refused, the calling thread runs no event loop : "
                            << PeerText::forLog(url.toDisplayString());
        call->result.reject(0, QStringLiteral("No event loop in the calling thread"));
        return call->result;
    }
    call->method = method;
    call->url = url;
    call->data = data;
    call->timeout = timeout;
    call->redirects = 0;
    call->thread = QThread::currentThread();
    call->generation = DeferredDataBase::currentThreadGeneration();
    dispatch(call);
    return call->result;
}

void HttpClient::dispatch(const CallPtr& call)
{
    static const char* const names[] = { "GET", "DELETE", "PUT", "POST" };
    const QUrl& url = call->url;
    const Method method = call->method;
    HTTP_LOG(qInfo) << "Performing " << names[int(method)] << " request : " << PeerText::forLog(url.toDisplayString());
    if (method == Method::Put || method == Method::Post)
        // A heartbeat with the whole status report (about 1.5 KB) stays readable in one piece.
        HTTP_LOG(qInfo) << "Data : "
                        << PeerText::jsonForLog(Config::maskSecrets(call->data), 3 * PeerText::MaxLogChars);
    // A call's own URL is refused before it returns; a redirect's in the network thread.
    const auto refuse = [call](const QString& text) {
        if (call->redirects == 0)
            call->result.reject(0, text);
        else
            settle(call, [result = call->result, text] { result.reject(0, text); });
    };
    if (!url.isValid() || url.host().isEmpty()) {
        HTTP_LOG(qCritical) << "ERROR: Invalid URL : " << PeerText::forLog(url.toDisplayString());
        return refuse(QStringLiteral("Invalid URL"));
    }
    const bool tls = url.scheme() == QLatin1String("https");
    if (!tls && url.scheme() != QLatin1String("http")) {
        HTTP_LOG(qCritical) << "ERROR: Unknown protocol : " << PeerText::forLog(url.toDisplayString());
        return refuse(QStringLiteral("Protocol \"%1\" is unknown").arg(url.scheme()));
    }
    {
        // The settings as they are now: a setter called meanwhile changes later calls only.
        QMutexLocker lock(&m_mutex);
        call->request = createRequest(method, url, m_headers,
            method == Method::Put || method == Method::Post ? createPayload(call->data) : QByteArray());
        if (tls) {
            call->tlsFiles = m_tlsFiles;
            call->ignoreSslErrors = m_ignoreSslErrors;
        }
    }
    m_network.post([this, call] { begin(call); });
}

void HttpClient::begin(const CallPtr& call)
{
    const QUrl& url = call->url;
    call->origin
        = url.scheme() + QLatin1Char('|') + url.host() + QLatin1Char('|') + QString::number(effectivePort(url));
    if (url.scheme() == QLatin1String("https")) {
        // A kept connection is used again only under the settings it was opened with: the files as
        // they are now, also when one of them could not be read, and the flag.
        QString stamp;
        call->tls
            = std::make_unique<QSslConfiguration>(call->tlsFiles.isEmpty() ? QSslConfiguration::defaultConfiguration()
                                                                           : createSslConfig(call->tlsFiles, &stamp));
        call->origin += QLatin1Char('|') + stamp + QLatin1Char('|') + QString::number(call->ignoreSslErrors);
    }

    if (call->timeout != 0) {
        // A child of the thread's pool: a client destroyed with the call in flight takes it along quietly.
        call->timer = new QTimer(m_network.pool());
        call->timer->setSingleShot(true);
        // A coarse timer may fire up to 5 % before the time-out.
        call->timer->setTimerType(Qt::PreciseTimer);
        connect(call->timer, &QTimer::timeout, m_network.pool(), [this, weak = std::weak_ptr<Call>(call)] {
            const CallPtr call = weak.lock();
            if (!call || !call->connection)
                return;
            HTTP_LOG(qCritical)
                << QStringLiteral("ERROR: Request timed-out (timeout=%1 msec). Aborting.").arg(call->timeout);
            const HttpReplyParser& reply = call->connection->reply();
            const int status = reply.headComplete() ? reply.status() : 0;
            call->connection->abort();
            if (release(call))
                settle(call,
                    [result = call->result, status] { result.reject(status, QStringLiteral("Operation canceled")); });
        });
        call->timer->start(call->timeout);
    }
    start(call, false);
}

void HttpClient::start(const CallPtr& call, bool fresh)
{
    HttpConnectionPool* pool = m_network.pool();
    HttpConnection* connection = pool->take(call->origin, call->url, call->tls.get(), fresh);
    call->connection = connection;
    connection->setIdleTimeout(m_idleTimeout);

    connect(connection, &HttpConnection::sslErrors, pool,
        [call, connection](const QList<QSslError>& errors) { onSslErrors(*call, connection, errors); });

    // The whole body is held in memory: a peer must not be able to make it grow without end.
    const auto refuseTooLarge = [this, call, connection](qint64 bytes) {
        if (bytes <= MaxReplyBytes)
            return false;
        HTTP_LOG(qCritical) << QStringLiteral("ERROR: Reply body too large (%1 bytes, at most %2). Aborting.")
                                   .arg(bytes)
                                   .arg(MaxReplyBytes);
        const int status = connection->reply().status();
        connection->abort();
        if (release(call))
            settle(call,
                [result = call->result, status] { result.reject(status, QStringLiteral("Reply body too large")); });
        return true;
    };
    connect(connection, &HttpConnection::headReceived, pool, [this, call, connection, refuseTooLarge] {
        const HttpReplyParser& reply = connection->reply();
        if (refuseTooLarge(reply.announced()) || reply.status() != 401)
            return;
        const QRegularExpression realm(QStringLiteral("realm=\"([^\"]*)\""));
        const QString realmText = realm.match(QString::fromLatin1(reply.header("www-authenticate"))).captured(1);
        // Its listeners are in the client's thread, and the authenticator must live while they run.
        QMetaObject::invokeMethod(
            this,
            [this, url = call->url, realmText] {
                QAuthenticator authenticator;
                authenticator.setRealm(realmText);
                emit authRequired(url, &authenticator);
            },
            Qt::QueuedConnection);
    });
    connect(connection, &HttpConnection::bodyReceived, pool,
        [call, connection, refuseTooLarge](qint64 received, qint64 total) {
            if (refuseTooLarge(qMax(received, connection->reply().announced())))
                return;
            const int percent = total > 0 ? int(received * 100 / total) : 0;
            const QString text = QStringLiteral("Downloaded %1 / %2").arg(bytesToStr(received), bytesToStr(total));
            const auto report = [result = call->result, percent, text] { result.notify(percent, text); };
            settle(call, report, true);
        });
    connect(connection, &HttpConnection::finished, pool, [this, call] { processReply(call); });
    connect(connection, &HttpConnection::failed, pool, [this, call, connection](const QString& error) {
        // A kept connection that its server or a middlebox dropped while idle fails the next
        // request before any of its reply: the request is sent once more, on a new connection.
        // One whose reply had begun may have been acted on, and is never sent again.
        if (!call->sentAgain && connection->isReused() && !connection->replyStarted()) {
            HTTP_LOG(qWarning) << "WARN: Kept connection lost before any reply (" << error
                               << "), sending the request again on a new connection : "
                               << PeerText::forLog(call->url.toDisplayString());
            call->sentAgain = true;
            connection->disconnect(m_network.pool());
            connection->deleteLater();
            start(call, true);
            return;
        }
        // A reply that broke off is the peer's fault worth a line; a network failure is the caller's to report.
        if (connection->replyStarted())
            HTTP_LOG(qCritical) << "ERROR: " << error << " : " << PeerText::forLog(call->url.toDisplayString());
        const int status = connection->reply().headComplete() ? connection->reply().status() : 0;
        if (release(call))
            settle(call, [result = call->result, status, error] { result.reject(status, error); });
    });
    connection->send(call->request);
}

void HttpClient::processReply(const CallPtr& call)
{
    HTTP_LOG(qDebug) << QStringLiteral("Received response for : %1").arg(PeerText::forLog(call->url.toDisplayString()));
    const HttpReplyParser reply = call->connection->reply();
    if (!release(call))
        return;
    const int status = reply.status();
    static const QList<int> redirections { 301, 302, 303, 307, 308 };
    const QByteArray location = reply.header("location");
    if (redirections.contains(status) && !location.isEmpty()) {
        processRedirect(call, location);
        return;
    }
    const QByteArray coding = reply.header("content-encoding").trimmed().toLower();
    // Parsed here: a large body must not hold the caller's thread.
    QJsonParseError parseError;
    const QJsonValue body = parsePayload(reply.body(), &parseError);
    const Deferred<int, QJsonValue> result = call->result;
    if (!coding.isEmpty() && coding != "identity") {
        HTTP_LOG(qCritical) << "ERROR: Reply in a coding not asked for (" << PeerText::forLog(coding)
                            << ") : " << PeerText::forLog(call->url.toDisplayString());
        settle(call, [result, status] { result.reject(status, QStringLiteral("Unsupported content encoding")); });
    } else if (status >= 400) {
        const QString text = status == 401
            ? QStringLiteral("Host requires authentication")
            : QStringLiteral("Error transferring %1 - server replied: %2")
                  .arg(call->url.toDisplayString(), PeerText::forLog(reply.reason(), 256));
        const QJsonValue value = body.isObject() ? body : QJsonValue(text);
        settle(call, [result, status, value] { result.reject(status, value); });
    } else {
        // The caller still gets the empty object, but a broken reply must be visible.
        if (parseError.error != QJsonParseError::NoError)
            HTTP_LOG(qWarning) << "WARN: Invalid JSON in reply from " << PeerText::forLog(call->url.toDisplayString())
                               << " : " << parseError.errorString() << " at offset " << parseError.offset;
        settle(call, [result, status, body] { result.resolve(status, body); });
    }
}

bool HttpClient::release(const CallPtr& call)
{
    if (!call->connection)
        return false;
    if (call->timer)
        std::exchange(call->timer, nullptr)->deleteLater();
    HttpConnection* connection = std::exchange(call->connection, nullptr);
    HttpConnectionPool* pool = m_network.pool();
    connection->disconnect(pool);
    pool->giveBack(call->origin, connection);
    return true;
}

void HttpClient::processRedirect(const CallPtr& call, const QByteArray& location)
{
    const QUrl from = call->url;
    const QUrl to = from.resolved(QUrl::fromEncoded(location));
    HTTP_LOG(qWarning) << "WARN: Request was redirected to : " << PeerText::forLog(to.toDisplayString());

    // The repeated request carries the API key and the client certificate: never
    // hand them to another host or over plain HTTP, and never loop for ever.
    QString refusal;
    if (call->redirects >= MaxRedirects)
        refusal = QStringLiteral("more than %1 redirects").arg(MaxRedirects);
    else if (to.scheme() != QLatin1String("http") && to.scheme() != QLatin1String("https"))
        refusal = QStringLiteral("to scheme ") + to.scheme();
    else if (from.scheme() == QLatin1String("https") && to.scheme() != QLatin1String("https"))
        refusal = QStringLiteral("from https to ") + to.scheme();
    else if (from.host() != to.host())
        refusal = QStringLiteral("to another host");
    else if (!to.userInfo().isEmpty())
        refusal = QStringLiteral("to a URL with credentials");
    else if (effectivePort(from) != effectivePort(to)
        && !(effectivePort(from) == 80 && to.scheme() == QLatin1String("https") && effectivePort(to) == 443))
        // Another port may be another service; only the usual move from http to https is taken.
        refusal = QStringLiteral("to another port");

    if (!refusal.isEmpty()) {
        HTTP_LOG(qWarning) << "WARN: Not following redirect (" << refusal
                           << ") : " << PeerText::forLog(to.toDisplayString());
        const QString text = QStringLiteral("Cannot redirect request to : ") + to.toDisplayString();
        settle(call, [result = call->result, text] { result.reject(-1, text); });
        return;
    }
    // The same call again on the new URL, with its headers and TLS set-up as they are now.
    auto next = std::make_shared<Call>();
    next->method = call->method;
    next->url = to;
    next->data = call->data;
    next->timeout = call->timeout;
    next->redirects = call->redirects + 1;
    next->result = call->result;
    next->thread = call->thread;
    next->generation = call->generation;
    dispatch(next);
}

void HttpClient::onSslErrors(const Call& call, HttpConnection* connection, const QList<QSslError>& errors)
{
    HTTP_LOG(qWarning) << "SSL Error(s) occured : ";
    for (const QSslError& error : errors)
        HTTP_LOG(qWarning) << " - " << error.errorString();
    if (call.ignoreSslErrors) {
        HTTP_LOG(qWarning) << "Ignoring SSL Errors ('ignoreSslErrors' is set to 'true' in configuration)";
        connection->ignoreSslErrors(errors);
    }
}

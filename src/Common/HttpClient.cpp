#include "HttpClient.h"

#include "Config.h"
#include "PeerText.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslError>
#include <QSslKey>
#include <QTimer>

#define HTTP_LOG(level) level().noquote().nospace() << "[HttpClient] "

namespace {

// A request body that can be read only once: the network layer then cannot send the request a
// second time on its own.
class OnceBody : public QIODevice {
public:
    explicit OnceBody(const QByteArray& data)
        : m_data(data)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 size() const override { return m_data.size(); }
    qint64 bytesAvailable() const override { return m_data.size() - m_pos + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        const qint64 n = qMin(max, qint64(m_data.size()) - m_pos);
        memcpy(data, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_pos = 0;
};

int effectivePort(const QUrl& url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

} // namespace

HttpClient::HttpClient(QObject* parent)
    : QObject(parent)
{
}

HttpClient::~HttpClient()
{
    // The manager of this thread goes with the client; its replies must not call
    // back into a half-destroyed client.
    if (!m_managers.hasLocalData() || !m_managers.localData())
        return;
    QNetworkAccessManager* manager = m_managers.localData();
    manager->disconnect(this);
    const QList<QObject*> children = manager->findChildren<QObject*>();
    for (QObject* child : children)
        child->disconnect(this);
    m_managers.setLocalData(nullptr); // deletes the manager
}

void HttpClient::setHeader(const QString& name, const QString& value)
{
    m_headers.insert(name, value);
}

void HttpClient::setTlsFile(const QString& name, const QString& path)
{
    if (m_tlsFiles.value(name) == path && m_tlsFiles.contains(name))
        return;
    m_tlsFiles.insert(name, path);
    // The network stack keeps connections, with the TLS settings they were made
    // with, for later requests to the same host: changed files must not reuse them.
    if (m_managers.hasLocalData() && m_managers.localData())
        m_managers.localData()->clearConnectionCache();
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
    return send(Method::Get, url, QJsonValue(), timeout, 0);
}

Deferred<int, QJsonValue> HttpClient::del(const QUrl& url, int timeout)
{
    return send(Method::Delete, url, QJsonValue(), timeout, 0);
}

Deferred<int, QJsonValue> HttpClient::put(const QUrl& url, const QJsonValue& data, int timeout)
{
    return send(Method::Put, url, data, timeout, 0);
}

Deferred<int, QJsonValue> HttpClient::post(const QUrl& url, const QJsonValue& data, int timeout)
{
    return send(Method::Post, url, data, timeout, 0);
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

QNetworkAccessManager* HttpClient::qnam()
{
    if (m_managers.hasLocalData() && m_managers.localData())
        return m_managers.localData();
    HTTP_LOG(qDebug) << "Creating new Network Access Manager for thread ";
    auto* manager = new QNetworkAccessManager;
    connect(manager, &QNetworkAccessManager::sslErrors, this, &HttpClient::onSslErrors);
    connect(manager, &QNetworkAccessManager::authenticationRequired, this, &HttpClient::authRequired);
    m_managers.setLocalData(manager);
    return manager;
}

QNetworkRequest HttpClient::createRequest(const QUrl& url) const
{
    QNetworkRequest request(url);
    // Redirects are followed by processRedirect, which checks each target.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (auto it = m_headers.cbegin(); it != m_headers.cend(); ++it)
        request.setRawHeader(it.key().toLatin1(), it.value().toLatin1());
    if (!m_tlsFiles.isEmpty())
        request.setSslConfiguration(createSslConfig());
    return request;
}

QSslConfiguration HttpClient::createSslConfig() const
{
    // Reading and parsing the key costs more than a whole call over a kept connection:
    // what was read is used again while the three files stay as they were. A file that
    // could not be read is tried (and reported) again on the next call.
    QString stamp;
    for (const char* name : { "cert", "key", "rootCA" }) {
        const QFileInfo file(m_tlsFiles.value(QLatin1String(name)));
        stamp += file.filePath() + QLatin1Char('|') + QString::number(file.size()) + QLatin1Char('|')
            + QString::number(file.lastModified().toMSecsSinceEpoch()) + QLatin1Char('\n');
    }
    QMutexLocker lock(&m_sslMutex);
    if (stamp == m_sslStamp)
        return m_sslConfig;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    const QSslCertificate cert = loadCert(m_tlsFiles.value(QStringLiteral("cert")));
    const QSslKey key = loadPrivKey(m_tlsFiles.value(QStringLiteral("key")));
    const QSslCertificate rootCA = loadCert(m_tlsFiles.value(QStringLiteral("rootCA")));
    config.setLocalCertificate(cert);
    config.setPrivateKey(key);
    config.setCaCertificates({ rootCA });
    config.setProtocol(QSsl::TlsV1_2);
    const bool complete = !cert.isNull() && !key.isNull() && !rootCA.isNull();
    m_sslStamp = complete ? stamp : QString();
    m_sslConfig = config;
    return config;
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

void HttpClient::relay(const Deferred<int, QJsonValue>& from, const Deferred<int, QJsonValue>& to)
{
    from.done([to](int status, const QJsonValue& body) { to.resolve(status, body); })
        .fail([to](int status, const QJsonValue& body) { to.reject(status, body); })
        .progress([to](int percent, const QJsonValue& text) { to.notify(percent, text); });
}

Deferred<int, QJsonValue> HttpClient::send(
    Method method, const QUrl& url, const QJsonValue& data, int timeout, int redirects)
{
    Deferred<int, QJsonValue> result;
    static const char* const names[] = { "GET", "DELETE", "PUT", "POST" };
    HTTP_LOG(qInfo) << "Performing " << names[int(method)] << " request : " << PeerText::forLog(url.toDisplayString());
    if (method == Method::Put || method == Method::Post)
        HTTP_LOG(qInfo) << "Data : " << PeerText::jsonForLog(Config::maskSecrets(data));
    if (!url.isValid()) {
        HTTP_LOG(qCritical) << "ERROR: Invalid URL : " << PeerText::forLog(url.toDisplayString());
        result.reject(0, QStringLiteral("Invalid URL"));
        return result;
    }

    const QNetworkRequest request = createRequest(url);
    QNetworkAccessManager* manager = qnam();
    countCall(manager, +1);
    QNetworkReply* reply = nullptr;
    switch (method) {
    case Method::Get:
        reply = manager->get(request);
        break;
    case Method::Delete:
        reply = manager->deleteResource(request);
        break;
    case Method::Put:
    case Method::Post: {
        auto* body = new OnceBody(createPayload(data));
        QNetworkRequest once(request);
        once.setHeader(QNetworkRequest::ContentLengthHeader, body->size());
        once.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        reply = method == Method::Put ? manager->put(once, body) : manager->post(once, body);
        body->setParent(reply);
        break;
    }
    }
    relay(processReply(reply, data, timeout, redirects), result);
    return result;
}

Deferred<int, QJsonValue> HttpClient::processReply(
    QNetworkReply* reply, const QJsonValue& data, int timeout, int redirects)
{
    Deferred<int, QJsonValue> result;

    // The whole body is held in memory: a peer must not be able to make it grow without end.
    const auto refuseTooLarge = [reply](qint64 bytes) {
        if (bytes <= MaxReplyBytes || reply->property("tooLarge").toBool())
            return false;
        HTTP_LOG(qCritical) << QStringLiteral("ERROR: Reply body too large (%1 bytes, at most %2). Aborting.")
                                   .arg(bytes)
                                   .arg(MaxReplyBytes);
        reply->setProperty("tooLarge", true);
        reply->abort();
        return true;
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, refuseTooLarge] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            refuseTooLarge(length.toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [result, refuseTooLarge](qint64 received, qint64 total) {
        if (refuseTooLarge(received) || refuseTooLarge(total))
            return;
        const int percent = total > 0 ? int(received * 100 / total) : 0;
        result.notify(percent, QStringLiteral("Downloaded %1 / %2").arg(bytesToStr(received), bytesToStr(total)));
    });

    // Each new TLS connection leaves a session in the stack (see countCall).
    connect(reply, &QNetworkReply::encrypted, this, [reply] {
        if (QNetworkAccessManager* manager = reply->manager())
            manager->setProperty("tlsConnections", manager->property("tlsConnections").toInt() + 1);
    });

    if (timeout != 0) {
        auto* timer = new QTimer(reply);
        timer->setSingleShot(true);
        // A coarse timer may fire up to 5 % before the time-out.
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [reply, timeout] {
            // A loop that ran late may fire this after the reply has finished: it did not time out.
            if (reply->isFinished())
                return;
            HTTP_LOG(qCritical) << QStringLiteral("ERROR: Request timed-out (timeout=%1 msec). Aborting.").arg(timeout);
            reply->abort();
        });
        timer->start(timeout);
    }

    connect(reply, &QNetworkReply::finished, this, [this, reply, result, data, timeout, redirects] {
        HTTP_LOG(qDebug) << "Received response for : " << PeerText::forLog(reply->url().toDisplayString());
        if (reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid()) {
            relay(processRedirect(reply, data, timeout, redirects), result);
        } else {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            QJsonParseError parseError;
            // An aborted reply (timed out) is closed: there is nothing to read.
            const QByteArray bytes = reply->isOpen() ? reply->readAll() : QByteArray();
            const QJsonValue body = parsePayload(bytes, &parseError);
            if (reply->property("tooLarge").toBool()) {
                result.reject(status, QStringLiteral("Reply body too large"));
            } else if (reply->error() == QNetworkReply::ContentReSendError) {
                HTTP_LOG(qCritical) << "ERROR: Connection lost during the request, not sending it again : "
                                    << PeerText::forLog(reply->url().toDisplayString());
                result.reject(status, QStringLiteral("Connection lost during the request"));
            } else if (reply->error() != QNetworkReply::NoError) {
                result.reject(status, body.isObject() ? body : QJsonValue(reply->errorString()));
            } else {
                // The caller still gets the empty object, but a broken reply must be visible.
                if (parseError.error != QJsonParseError::NoError)
                    HTTP_LOG(qWarning) << "WARN: Invalid JSON in reply from "
                                       << PeerText::forLog(reply->url().toDisplayString()) << " : "
                                       << parseError.errorString() << " at offset " << parseError.offset;
                result.resolve(status, body);
            }
        }
        countCall(reply->manager(), -1);
        reply->deleteLater();
    });
    return result;
}

void HttpClient::countCall(QNetworkAccessManager* manager, int change)
{
    if (!manager)
        return;
    const int calls = manager->property("callsInFlight").toInt() + change;
    manager->setProperty("callsInFlight", calls);
    if (change < 0 || calls > 1 || manager->property("tlsConnections").toInt() < MaxTlsConnections)
        return;
    // The stack keeps the TLS session of every connection it made, in the state it holds for the
    // host while the host is called: a server that closes every connection makes it grow by one
    // session per call. Dropped before a call when no other is in flight, it stays bounded; a kept
    // connection makes no new session and is not dropped by this.
    manager->setProperty("tlsConnections", 0);
    manager->clearConnectionCache();
}

Deferred<int, QJsonValue> HttpClient::processRedirect(
    QNetworkReply* reply, const QJsonValue& data, int timeout, int redirects)
{
    Deferred<int, QJsonValue> result;
    const QUrl from = reply->url();
    const QUrl to = from.resolved(reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl());
    HTTP_LOG(qWarning) << "WARN: Request was redirected to : " << PeerText::forLog(to.toDisplayString());

    // The repeated request carries the API key and the client certificate: never
    // hand them to another host or over plain HTTP, and never loop for ever.
    QString refusal;
    if (redirects >= MaxRedirects)
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

    Method method = Method::Get;
    switch (reply->operation()) {
    case QNetworkAccessManager::GetOperation:
        method = Method::Get;
        break;
    case QNetworkAccessManager::DeleteOperation:
        method = Method::Delete;
        break;
    case QNetworkAccessManager::PutOperation:
        method = Method::Put;
        break;
    case QNetworkAccessManager::PostOperation:
        method = Method::Post;
        break;
    default:
        refusal = QStringLiteral("unsupported method");
        break;
    }

    if (!refusal.isEmpty()) {
        HTTP_LOG(qWarning) << "WARN: Not following redirect (" << refusal
                           << ") : " << PeerText::forLog(to.toDisplayString());
        result.reject(-1, QStringLiteral("Cannot redirect request to : ") + to.toDisplayString());
        return result;
    }
    relay(send(method, to, data, timeout, redirects + 1), result);
    return result;
}

void HttpClient::onSslErrors(QNetworkReply* reply, const QList<QSslError>& errors)
{
    HTTP_LOG(qWarning) << "SSL Error(s) occured : ";
    for (const QSslError& error : errors)
        HTTP_LOG(qWarning) << " - " << error.errorString();
    if (m_ignoreSslErrors) {
        HTTP_LOG(qWarning) << "Ignoring SSL Errors ('ignoreSslErrors' is set to 'true' in configuration)";
        reply->ignoreSslErrors(errors);
    }
}

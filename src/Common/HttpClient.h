#pragma once
// JSON REST client over HTTP or HTTPS (client certificate, own root CA, TLS 1.2):
// every call returns a deferred result with the HTTP status and the body as JSON. A request
// that a kept connection lost before any byte of its reply came is sent once more on a new one.

#include "Deferred.h"

#include <QAuthenticator>
#include <QJsonValue>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSslConfiguration>
#include <QThreadStorage>
#include <QUrl>

#include <memory>

class HttpConnection;
class HttpConnectionPool;
class QJsonParseError;
class QSslCertificate;
class QSslError;
class QSslKey;

class HttpClient : public QObject
{
    Q_OBJECT
public:
    // Redirects followed for one call before it is rejected.
    static constexpr int MaxRedirects = 10;
    // A reply body above this is refused as a failure, aborted once its size shows it.
    static constexpr qint64 MaxReplyBytes = 32 * 1024 * 1024;

    explicit HttpClient(QObject* parent = nullptr);
    ~HttpClient() override;

    QMap<QString, QString> headers() const { return m_headers; }
    void setHeader(const QString& name, const QString& value);
    bool ignoreSslErrors() const { return m_ignoreSslErrors; }
    void setIgnoreSslErrors(bool ignore) { m_ignoreSslErrors = ignore; }
    void setTLSCert(const QString& path);
    void setTLSKey(const QString& path);
    void setTLSRootCA(const QString& path);
    // How long a kept connection waits for its next request before it is closed (a minute unless
    // set); a connection takes it when it is next used.
    void setIdleTimeout(int ms) { m_idleTimeout = ms; }

    Q_INVOKABLE Deferred<int, QJsonValue> get(const QUrl& url, int timeout = 30000);
    Q_INVOKABLE Deferred<int, QJsonValue> del(const QUrl& url, int timeout = 30000);
    Q_INVOKABLE Deferred<int, QJsonValue> put(const QUrl& url, const QJsonValue& data, int timeout = 30000);
    Q_INVOKABLE Deferred<int, QJsonValue> post(const QUrl& url, const QJsonValue& data, int timeout = 30000);

    // A body starting with "[" or "{" as JSON (an empty object when it does not parse),
    // anything else as text up to its first NUL byte.
    static QJsonValue parsePayload(const QByteArray& body, QJsonParseError* error = nullptr);
    static QByteArray createPayload(const QJsonValue& data);
    static QString bytesToStr(qint64 bytes);

signals:
    // A server asked for credentials (401); the call fails with "Host requires authentication".
    void authRequired(const QUrl& url, QAuthenticator* authenticator);

private:
    enum class Method { Get, Delete, Put, Post };
    struct Call;
    using CallPtr = std::shared_ptr<Call>;

    Deferred<int, QJsonValue> send(Method method, const QUrl& url, const QJsonValue& data, int timeout, int redirects);
    HttpConnectionPool* pool();
    void setTlsFile(const QString& name, const QString& path);
    QByteArray createRequest(Method method, const QUrl& url, const QByteArray& body) const;
    // The configuration from the TLS files, and in stamp the paths, sizes and times of the files.
    QSslConfiguration createSslConfig(QString* stamp) const;
    static QSslCertificate loadCert(const QString& path);
    static QSslKey loadPrivKey(const QString& path);
    // Sends the call's request on a kept connection, or on a new one when fresh.
    void start(const CallPtr& call, bool fresh);
    void processReply(const CallPtr& call);
    Deferred<int, QJsonValue> processRedirect(const CallPtr& call, const QByteArray& location);
    // Ends the call's use of its connection; false when it had ended before.
    bool release(const CallPtr& call);
    void onSslErrors(HttpConnection* connection, const QList<QSslError>& errors);
    static void relay(const Deferred<int, QJsonValue>& from, const Deferred<int, QJsonValue>& to);

    bool m_ignoreSslErrors = false;
    int m_idleTimeout;
    QMap<QString, QString> m_headers;
    QMap<QString, QString> m_tlsFiles;
    // The TLS settings last read, and the paths, sizes and times of the files they came from.
    mutable QMutex m_sslMutex;
    mutable QSslConfiguration m_sslConfig;
    mutable QString m_sslStamp;
    QThreadStorage<HttpConnectionPool*> m_pools;
};

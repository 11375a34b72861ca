#pragma once
// JSON REST client over HTTP or HTTPS (client certificate, own root CA, TLS 1.2):
// every call returns a deferred result with the HTTP status and the body as JSON. A request
// that a kept connection lost before any byte of its reply came is sent once more on a new one.
// Any thread that runs an event loop may call (one that runs none is refused); the connections,
// their TLS work and the replies are handled on a thread of the client's own, and the result's
// callbacks run on the threads that added them.

#include "Deferred.h"
#include "HttpNetworkThread.h"

#include <QAuthenticator>
#include <QJsonValue>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSslConfiguration>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>

class HttpConnection;
class HttpConnectionPool;
struct QJsonParseError;
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

    QMap<QString, QString> headers() const;
    void setHeader(const QString& name, const QString& value);
    bool ignoreSslErrors() const;
    void setIgnoreSslErrors(bool ignore);
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
    // Emitted in the client's thread.
    void authRequired(const QUrl& url, QAuthenticator* authenticator);

private:
    enum class Method { Get, Delete, Put, Post };
    struct Call;
    using CallPtr = std::shared_ptr<Call>;

    Deferred<int, QJsonValue> send(Method method, const QUrl& url, const QJsonValue& data, int timeout);
    // Logs the call, checks its URL and hands it to the network thread.
    void dispatch(const CallPtr& call);
    void setTlsFile(const QString& name, const QString& path);
    static QByteArray createRequest(
        Method method, const QUrl& url, const QMap<QString, QString>& headers, const QByteArray& body);

    // The rest runs in the network thread.
    // The TLS settings of these files, read again only when a file changed; *stamp names
    // them and their state, empty when one could not be read.
    QSslConfiguration createSslConfig(const QMap<QString, QString>& files, QString* stamp);
    static QSslCertificate loadCert(const QString& path);
    static QSslKey loadPrivKey(const QString& path);
    // Starts the call's time-out and sends its request.
    void begin(const CallPtr& call);
    // Sends the call's request on a kept connection, or on a new one when fresh.
    void start(const CallPtr& call, bool fresh);
    void processReply(const CallPtr& call);
    // Sends the call again on the redirect's URL, or refuses it.
    void processRedirect(const CallPtr& call, const QByteArray& location);
    // Runs what settles the call's result, or reports its progress, on the thread that made the call.
    static void settle(const CallPtr& call, std::function<void()> outcome, bool progress = false);
    // Ends the call's use of its connection; false when it had ended before.
    bool release(const CallPtr& call);
    static void onSslErrors(const Call& call, HttpConnection* connection, const QList<QSslError>& errors);

    mutable QMutex m_mutex; // guards the settings: any thread may call
    bool m_ignoreSslErrors = false;
    std::atomic<int> m_idleTimeout;
    QMap<QString, QString> m_headers;
    QMap<QString, QString> m_tlsFiles;
    // Network thread only: the TLS settings last read, and the paths, sizes and times of the
    // files they came from.
    QSslConfiguration m_sslConfig;
    QString m_sslStamp;
    // Last member: stopped first, so that nothing runs there while the rest goes.
    HttpNetworkThread m_network;
};

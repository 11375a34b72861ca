#pragma once
// The connections of one HTTP client, in its network thread: a request takes a kept
// connection to its origin when one is open, else a new one; a connection is kept again
// only after a reply that came whole and leaves it open.

#include <QHash>
#include <QObject>
#include <QString>

class HttpConnection;
class QSslConfiguration;
class QUrl;

class HttpConnectionPool : public QObject
{
    Q_OBJECT
public:
    // Kept connections to one origin; more are closed once their reply is in.
    static constexpr int MaxIdlePerOrigin = 6;

    explicit HttpConnectionPool(QObject* parent = nullptr);

    // A kept connection for the key, or else a new one to the URL's origin (over TLS with
    // that configuration when it is given). The caller sends one request on it, then gives it back.
    HttpConnection* take(const QString& key, const QUrl& url, const QSslConfiguration* tls, bool fresh = false);
    // Keeps the connection for the key when it is idle, else deletes it later.
    void giveBack(const QString& key, HttpConnection* connection);
    // Closes every kept connection.
    void clear();
    int idleCount() const { return int(m_idle.size()); }

private:
    void drop(HttpConnection* connection);

    QMultiHash<QString, HttpConnection*> m_idle;
};

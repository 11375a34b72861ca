#include "HttpConnectionPool.h"

#include "HttpConnection.h"

HttpConnectionPool::HttpConnectionPool(QObject* parent)
    : QObject(parent)
{
}

HttpConnection* HttpConnectionPool::take(const QString& key, const QUrl& url, const QSslConfiguration* tls, bool fresh)
{
    if (!fresh) {
        for (HttpConnection* kept : m_idle.values(key)) {
            m_idle.remove(key, kept);
            kept->disconnect(this);
            if (kept->isIdle())
                return kept;
            kept->deleteLater();
        }
    }
    return new HttpConnection(url, tls, this);
}

void HttpConnectionPool::giveBack(const QString& key, HttpConnection* connection)
{
    connection->disconnect(this);
    if (!connection->isIdle() || m_idle.count(key) >= MaxIdlePerOrigin) {
        connection->abort();
        connection->deleteLater();
        return;
    }
    m_idle.insert(key, connection);
    // A kept connection that its server or the idle time ends goes.
    connect(connection, &HttpConnection::closed, this, [this, connection] { drop(connection); });
}

void HttpConnectionPool::clear()
{
    const QList<HttpConnection*> idle = m_idle.values();
    m_idle.clear();
    for (HttpConnection* connection : idle) {
        connection->disconnect(this);
        connection->abort();
        connection->deleteLater();
    }
}

void HttpConnectionPool::drop(HttpConnection* connection)
{
    for (auto it = m_idle.begin(); it != m_idle.end();)
        it = it.value() == connection ? m_idle.erase(it) : std::next(it);
    connection->deleteLater();
}

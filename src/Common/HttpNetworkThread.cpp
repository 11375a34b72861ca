#include "HttpNetworkThread.h"

#include "HttpConnectionPool.h"

#include <QMutexLocker>

HttpNetworkThread::~HttpNetworkThread()
{
    stop();
}

void HttpNetworkThread::post(std::function<void()> function)
{
    QMutexLocker lock(&m_mutex);
    if (m_stopped)
        return;
    if (!m_pool) {
        m_thread.setObjectName(QStringLiteral("HttpClient"));
        m_pool = new HttpConnectionPool;
        m_pool->moveToThread(&m_thread);
        // Deleted in its own thread, with its connections and timers, as the thread ends.
        QObject::connect(&m_thread, &QThread::finished, m_pool, &QObject::deleteLater);
        m_thread.start();
    }
    QMetaObject::invokeMethod(m_pool, std::move(function), Qt::QueuedConnection);
}

void HttpNetworkThread::stop()
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_stopped)
            return;
        m_stopped = true;
        if (!m_pool)
            return;
        m_thread.quit();
    }
    if (QThread::currentThread() != &m_thread)
        m_thread.wait();
}

#include "QueueRecorder.h"

#include "Database.h"
#include "PeerText.h"
#include "SqlDatabase.h"

#include <QDebug>
#include <QObject>
#include <QSqlQuery>

namespace Backend {

std::atomic<QueueRecorder::Hook> QueueRecorder::s_hook { nullptr };

QueueRecorder::QueueRecorder(const QString& path)
    : m_path(path)
    , m_context(new QObject)
{
    m_thread.setObjectName(QStringLiteral("QueueRecorder"));
}

QueueRecorder::~QueueRecorder()
{
    if (m_thread.isRunning()) {
        // Behind the records given so far: a reply that came must be recorded, or it goes out again.
        run([this] {
            m_sql.reset();
            m_thread.quit();
        });
        reach(Point::Closing);
        m_thread.wait();
    }
    delete m_context;
}

void QueueRecorder::run(std::function<void()> job)
{
    QMetaObject::invokeMethod(m_context, std::move(job), Qt::QueuedConnection);
}

Deferred<bool> QueueRecorder::record(const Transaction::Ptr& trans)
{
    // Started with the first record: a client that never sends keeps no thread.
    if (!m_thread.isRunning()) {
        m_context->moveToThread(&m_thread);
        m_thread.start();
        run([this] {
            m_sql = std::make_unique<SqlDatabase>(m_path, BusyTimeoutMsec);
            // Set per connection: a recorded reply must survive a power cut.
            QSqlQuery sync = m_sql->execute(QStringLiteral("PRAGMA synchronous=FULL"));
            sync.finish();
        });
    }
    Deferred<bool> result;
    run([this, trans, result] {
        reach(Point::Writing);
        const bool stored = Database::transUpdate(*m_sql, trans);
        // Logged here, not by the caller: a record that fails while the client goes down
        // has no one left to hear of it.
        if (!stored)
            qCritical().noquote().nospace()
                << "[Backend::QueueRecorder] ERROR: Could not record the reply; the transaction stays due until "
                   "the next queue run : "
                << PeerText::forLog(trans->toString());
        result.resolve(stored);
    });
    return result;
}

void QueueRecorder::setHook(Hook hook)
{
    s_hook.store(hook, std::memory_order_release);
}

void QueueRecorder::reach(Point point)
{
    if (const Hook hook = s_hook.load(std::memory_order_acquire))
        hook(point);
}

} // namespace Backend

#pragma once
// The shared state behind Deferred handles: pending until settled once, with
// per-thread lists of done, fail and progress callbacks.

#include "DeferredDataBase.h"
#include "DeferredProxyEvent.h"
#include "DeferredProxyObject.h"

#include <QCoreApplication>
#include <QMap>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QSharedData>
#include <QThread>
#include <QVector>

#include <functional>
#include <optional>
#include <tuple>

template<class... T>
class Deferred;

namespace deferred_detail {

template<class... T>
void finishedFunctionTemplate(const std::function<void(T&...)>& callback, T&... values)
{
    callback(values...);
}

// Connection types that dispatch never runs (anything but auto, direct, queued).
inline bool isRunnable(Qt::ConnectionType type)
{
    return type == Qt::AutoConnection || type == Qt::DirectConnection || type == Qt::QueuedConnection;
}

inline void warnNeverRuns(Qt::ConnectionType type)
{
    qWarning("Deferred callback registered with connection type %d will never run.", int(type));
}

inline void postToThread(QThread* thread, std::function<void()>&& function)
{
    // A thread without a live proxy has finished: its deliveries would be discarded anyway.
    DeferredProxyObject* proxy = DeferredDataBase::findObjectForThread(thread);
    if (!proxy)
        return;
    auto* event = new DeferredProxyEvent;
    event->function = std::move(function);
    QCoreApplication::postEvent(proxy, event, Qt::HighEventPriority);
}

} // namespace deferred_detail

template<class... T>
class DeferredData : public QSharedData
{
public:
    enum State { Pending = 0, Resolved = 1, Rejected = 2 };

    using ValueCallback = std::function<void(T&...)>;
    using ZeroCallback = std::function<void()>;

    struct CallbackData
    {
        ValueCallback callback;
        Qt::ConnectionType type;
    };
    struct CallbackDataZero
    {
        ZeroCallback callback;
        Qt::ConnectionType type;
    };
    struct DeferredAllCallbacks
    {
        QVector<CallbackData> done;
        QVector<CallbackData> fail;
        QVector<CallbackData> progress;
        QVector<CallbackDataZero> doneZero;
        QVector<CallbackDataZero> failZero;
    };

    DeferredData() = default;
    DeferredData(const DeferredData&) = delete;
    DeferredData& operator=(const DeferredData&) = delete;

    ~DeferredData()
    {
        // Stored callbacks are dropped without being called.
        qDeleteAll(m_callbacks);
        for (const QMetaObject::Connection& connection : qAsConst(m_connections))
            QObject::disconnect(connection);
    }

    void done(const ValueCallback& callback, const Qt::ConnectionType& type)
    {
        QMutexLocker lock(&m_mutex);
        if (m_state == Resolved) {
            callFinished(callback);
            return;
        }
        append(getCallbacksForThread()->done, CallbackData{callback, type});
    }

    void fail(const ValueCallback& callback, const Qt::ConnectionType& type)
    {
        QMutexLocker lock(&m_mutex);
        if (m_state == Rejected && m_values) {
            callFinished(callback);
            return;
        }
        append(getCallbacksForThread()->fail, CallbackData{callback, type});
    }

    void progress(const ValueCallback& callback, const Qt::ConnectionType& type)
    {
        QMutexLocker lock(&m_mutex);
        append(getCallbacksForThread()->progress, CallbackData{callback, type});
    }

    void doneZero(const ZeroCallback& callback, const Qt::ConnectionType& type)
    {
        QMutexLocker lock(&m_mutex);
        if (m_state == Resolved) {
            callback();
            return;
        }
        append(getCallbacksForThread()->doneZero, CallbackDataZero{callback, type});
    }

    void failZero(const ZeroCallback& callback, const Qt::ConnectionType& type)
    {
        QMutexLocker lock(&m_mutex);
        if (m_state == Rejected) {
            callback();
            return;
        }
        append(getCallbacksForThread()->failZero, CallbackDataZero{callback, type});
    }

    void resolve(Deferred<T...> self, T&... values) { settle(self, Resolved, values...); }
    void reject(Deferred<T...> self, T&... values) { settle(self, Rejected, values...); }
    void rejectZero(Deferred<T...> self) { settleWithoutValues(self); }

    void notify(Deferred<T...> self, T&... values)
    {
        QMutexLocker lock(&m_mutex);
        if (m_state != Pending) {
            qWarning("Cannot notify already processed deferred object.");
            return;
        }
        QThread* current = QThread::currentThread();
        const auto threads = m_callbacks;
        for (auto it = threads.cbegin(); it != threads.cend(); ++it) {
            DeferredAllCallbacks* lists = m_callbacks.value(it.key());
            if (!lists)
                continue;
            const QVector<CallbackData> progress = lists->progress;
            for (const CallbackData& entry : progress) {
                switch (deliveryFor(entry.type, it.key(), current)) {
                case Delivery::Now:
                    deferred_detail::finishedFunctionTemplate<T...>(entry.callback, values...);
                    break;
                case Delivery::Post:
                    deferred_detail::postToThread(it.key(), [self, callback = entry.callback, values...]() mutable {
                        deferred_detail::finishedFunctionTemplate<T...>(callback, values...);
                    });
                    break;
                case Delivery::Skip:
                    break;
                }
            }
        }
    }

    // The calling thread's callback lists, created on first use.
    DeferredAllCallbacks* getCallbacksForThread()
    {
        QMutexLocker lock(&m_mutex);
        QThread* thread = QThread::currentThread();
        auto it = m_callbacks.constFind(thread);
        if (it != m_callbacks.constEnd())
            return it.value();

        DeferredProxyObject* proxy = DeferredDataBase::getObjectForThread(thread);
        m_connections.append(QObject::connect(
            proxy, &QObject::destroyed, proxy, [this, thread] { onProxyDestroyed(thread); },
            Qt::DirectConnection));
        auto* lists = new DeferredAllCallbacks;
        m_callbacks.insert(thread, lists);
        return lists;
    }

    int state() const
    {
        QMutexLocker lock(&m_mutex);
        return m_state;
    }

    int m_joinCount = 0;

private:
    enum class Delivery { Now, Post, Skip };

    static Delivery deliveryFor(Qt::ConnectionType type, QThread* owner, QThread* current)
    {
        switch (type) {
        case Qt::DirectConnection:
            return Delivery::Now;
        case Qt::AutoConnection:
            return owner == current ? Delivery::Now : Delivery::Post;
        case Qt::QueuedConnection:
            return Delivery::Post;
        default:
            return Delivery::Skip;
        }
    }

    template<class Entry>
    static void append(QVector<Entry>& list, Entry&& entry)
    {
        if (!deferred_detail::isRunnable(entry.type))
            deferred_detail::warnNeverRuns(entry.type);
        list.append(std::move(entry));
    }

    void callFinished(const ValueCallback& callback)
    {
        std::apply([&callback](T&... values) { deferred_detail::finishedFunctionTemplate<T...>(callback, values...); },
                   *m_values);
    }

    void settle(Deferred<T...>& self, State newState, T&... values)
    {
        QMutexLocker lock(&m_mutex);
        if (m_state != Pending) {
            qWarning(newState == Resolved ? "Cannot resolve already processed deferred object."
                                          : "Cannot reject already processed deferred object.");
            return;
        }
        m_values.emplace(values...);
        m_state = newState;

        QThread* current = QThread::currentThread();
        const auto threads = m_callbacks;
        for (auto it = threads.cbegin(); it != threads.cend(); ++it) {
            QThread* owner = it.key();
            DeferredAllCallbacks* lists = m_callbacks.value(owner);
            if (!lists)
                continue;
            const QVector<CallbackData> first = newState == Resolved ? lists->done : lists->fail;
            const QVector<CallbackDataZero> second = newState == Resolved ? lists->doneZero : lists->failZero;
            for (const CallbackData& entry : first)
                dispatchValue(self, entry, owner, current);
            for (const CallbackDataZero& entry : second)
                dispatchZero(self, entry, owner, current);
            if ((lists = m_callbacks.value(owner))) {
                lists->done.clear();
                lists->fail.clear();
                lists->doneZero.clear();
                lists->failZero.clear();
            }
        }
    }

    void settleWithoutValues(Deferred<T...>& self)
    {
        QMutexLocker lock(&m_mutex);
        if (m_state != Pending) {
            qWarning("Cannot reject already processed deferred object.");
            return;
        }
        m_state = Rejected;

        QThread* current = QThread::currentThread();
        const auto threads = m_callbacks;
        for (auto it = threads.cbegin(); it != threads.cend(); ++it) {
            QThread* owner = it.key();
            DeferredAllCallbacks* lists = m_callbacks.value(owner);
            if (!lists)
                continue;
            const QVector<CallbackDataZero> zero = lists->failZero;
            for (const CallbackDataZero& entry : zero)
                dispatchZero(self, entry, owner, current);
            if ((lists = m_callbacks.value(owner))) {
                lists->doneZero.clear();
                lists->failZero.clear();
            }
        }
    }

    void dispatchValue(const Deferred<T...>& self, const CallbackData& entry, QThread* owner, QThread* current)
    {
        switch (deliveryFor(entry.type, owner, current)) {
        case Delivery::Now:
            callFinished(entry.callback);
            break;
        case Delivery::Post:
            deferred_detail::postToThread(owner, [self, state = this, callback = entry.callback] {
                state->callFinished(callback);
            });
            break;
        case Delivery::Skip:
            break;
        }
    }

    void dispatchZero(const Deferred<T...>& self, const CallbackDataZero& entry, QThread* owner, QThread* current)
    {
        switch (deliveryFor(entry.type, owner, current)) {
        case Delivery::Now:
            entry.callback();
            break;
        case Delivery::Post:
            deferred_detail::postToThread(owner, [self, callback = entry.callback] { callback(); });
            break;
        case Delivery::Skip:
            break;
        }
    }

    // The thread's proxy object is going away: its lists can never run again.
    // They are freed with the thread object, since the finishing thread may
    // still be unwinding code that holds them.
    void onProxyDestroyed(QThread* thread)
    {
        DeferredAllCallbacks* lists = nullptr;
        {
            QMutexLocker lock(&m_mutex);
            lists = m_callbacks.take(thread);
        }
        QObject::connect(
            thread, &QObject::destroyed, thread, [lists] { delete lists; }, Qt::DirectConnection);
    }

    std::optional<std::tuple<T...>> m_values;
    QMap<QThread*, DeferredAllCallbacks*> m_callbacks;
    int m_state = Pending;
    mutable QRecursiveMutex m_mutex;
    QList<QMetaObject::Connection> m_connections;
};

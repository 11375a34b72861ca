#pragma once
// The shared state behind Deferred handles: pending until settled once, with
// per-thread lists of done, fail and progress callbacks.

#include "DeferredDataBase.h"
#include "DeferredProxyEvent.h"
#include "DeferredProxyObject.h"

#include <QCoreApplication>
#include <QSharedData>
#include <QThread>
#include <QVarLengthArray>

#include <functional>
#include <mutex>
#include <optional>
#include <tuple>

template<class... T> class Deferred;

namespace deferred_detail {

template<class... T> void finishedFunctionTemplate(const std::function<void(T&...)>& callback, T&... values)
{
    callback(values...);
}

inline void warnNeverRuns(Qt::ConnectionType type)
{
    qWarning("Deferred callback registered with connection type %d will never run.", int(type));
}

inline void postToThread(QThread* thread, quint64 generation, std::function<void()>&& function)
{
    // A thread without a live proxy has finished: its deliveries would be discarded anyway.
    DeferredDataBase::postToThread(thread, generation, std::move(function));
}

} // namespace deferred_detail

template<class... T> class DeferredData : public QSharedData
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
    // Most handles are used by one thread with one or two callbacks: keep those inline.
    using ValueList = QVarLengthArray<CallbackData, 1>;
    using ZeroList = QVarLengthArray<CallbackDataZero, 1>;

    // One thread's callback lists in this state.
    struct DeferredAllCallbacks
    {
        QThread* thread = nullptr;
        // The thread's proxy generation when the lists were made; lists of an
        // earlier generation belong to a proxy that is gone and never run.
        quint64 generation = 0;
        ValueList done;
        ValueList fail;
        ValueList progress;
        ZeroList doneZero;
        ZeroList failZero;
    };

    DeferredData() = default;
    DeferredData(const DeferredData&) = delete;
    DeferredData& operator=(const DeferredData&) = delete;
    ~DeferredData() = default; // stored callbacks are dropped without being called

    void done(ValueCallback callback, const Qt::ConnectionType& type)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state == Resolved)
            callFinished(callback);
        else
            append(callbacksForCurrentThread()->done, CallbackData { std::move(callback), type });
    }

    void fail(ValueCallback callback, const Qt::ConnectionType& type)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state == Rejected && m_values)
            callFinished(callback);
        else
            append(callbacksForCurrentThread()->fail, CallbackData { std::move(callback), type });
    }

    void progress(ValueCallback callback, const Qt::ConnectionType& type)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        append(callbacksForCurrentThread()->progress, CallbackData { std::move(callback), type });
    }

    void doneZero(ZeroCallback callback, const Qt::ConnectionType& type)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state == Resolved)
            callback();
        else
            append(callbacksForCurrentThread()->doneZero, CallbackDataZero { std::move(callback), type });
    }

    void failZero(ZeroCallback callback, const Qt::ConnectionType& type)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state == Rejected)
            callback();
        else
            append(callbacksForCurrentThread()->failZero, CallbackDataZero { std::move(callback), type });
    }

    void resolve(Deferred<T...> self, T&... values)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state != Pending) {
            qWarning("Cannot resolve already processed deferred object.");
            return;
        }
        m_values.emplace(values...);
        m_state = Resolved;
        settle(self, &DeferredAllCallbacks::done, &DeferredAllCallbacks::doneZero);
    }

    void reject(Deferred<T...> self, T&... values)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state != Pending) {
            qWarning("Cannot reject already processed deferred object.");
            return;
        }
        m_values.emplace(values...);
        m_state = Rejected;
        settle(self, &DeferredAllCallbacks::fail, &DeferredAllCallbacks::failZero);
    }

    // Rejects without values: value fail callbacks stay stored and never run.
    void rejectZero(Deferred<T...> self)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state != Pending) {
            qWarning("Cannot reject already processed deferred object.");
            return;
        }
        m_state = Rejected;
        settle(self, nullptr, &DeferredAllCallbacks::failZero);
    }

    void notify(Deferred<T...> self, T&... values)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state != Pending) {
            qWarning("Cannot notify already processed deferred object.");
            return;
        }
        QThread* current = QThread::currentThread();
        for (QThread* owner : threads()) {
            DeferredAllCallbacks* lists = liveListsOf(owner, current);
            if (!lists)
                continue;
            const quint64 generation = lists->generation;
            // A copy: a progress callback may register further ones.
            const ValueList progress = lists->progress;
            for (const CallbackData& entry : progress) {
                switch (deliveryFor(entry.type, owner, current)) {
                case Delivery::Now:
                    deferred_detail::finishedFunctionTemplate<T...>(entry.callback, values...);
                    break;
                case Delivery::Post:
                    deferred_detail::postToThread(
                        owner, generation, [self, callback = entry.callback, values...]() mutable {
                            deferred_detail::finishedFunctionTemplate<T...>(callback, values...);
                        });
                    break;
                case Delivery::Skip:
                    break;
                }
            }
        }
    }

    // When settled, hands the outcome at once to resolved(values...), rejected(values...)
    // or, for a rejection without values, rejectedZero(); false while pending. What the
    // done, fail and failZero callbacks of a settled state would do, without registering them.
    template<class OnResolved, class OnRejected, class OnRejectedZero>
    bool passOnIfSettled(OnResolved&& resolved, OnRejected&& rejected, OnRejectedZero&& rejectedZero)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (m_state == Resolved)
            std::apply(resolved, *m_values);
        else if (m_state == Rejected && m_values)
            std::apply(rejected, *m_values);
        else if (m_state == Rejected)
            rejectedZero();
        return m_state != Pending;
    }

    // The calling thread's callback lists, created on first use.
    DeferredAllCallbacks* getCallbacksForThread()
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        return callbacksForCurrentThread();
    }

    int state() const
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        return m_state;
    }

    // Used by when(): counts the members that resolved, in the joining thread.
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

    // Entries stay sorted by thread pointer, the order in which settling
    // visits threads. Called with the mutex held.
    DeferredAllCallbacks* callbacksForCurrentThread()
    {
        QThread* thread = QThread::currentThread();
        const quint64 generation = DeferredDataBase::currentThreadGeneration();
        int i = 0;
        for (; i < m_callbacks.size() && m_callbacks[i].thread < thread; ++i) { }
        if (i < m_callbacks.size() && m_callbacks[i].thread == thread) {
            if (m_callbacks[i].generation == generation)
                return &m_callbacks[i];
            // Lists of the thread's previous proxy can never run: start afresh.
            m_callbacks.remove(i);
        }
        DeferredAllCallbacks lists;
        lists.thread = thread;
        lists.generation = generation;
        m_callbacks.insert(m_callbacks.begin() + i, std::move(lists));
        return &m_callbacks[i];
    }

    template<class List, class Entry> static void append(List& list, Entry&& entry)
    {
        if (entry.type != Qt::AutoConnection && entry.type != Qt::DirectConnection
            && entry.type != Qt::QueuedConnection)
            deferred_detail::warnNeverRuns(entry.type);
        list.append(std::move(entry));
    }

    void callFinished(const ValueCallback& callback)
    {
        std::apply([&callback](T&... values) { deferred_detail::finishedFunctionTemplate<T...>(callback, values...); },
            *m_values);
    }

    // Moves the entries out (the toolkit's array copies on assignment).
    template<class List> static List takeAll(List& list)
    {
        List taken;
        if (list.isEmpty())
            return taken;
        for (auto& entry : list)
            taken.append(std::move(entry));
        list.clear();
        return taken;
    }

    template<class List> static void clearList(List& list)
    {
        if (!list.isEmpty())
            list.clear();
    }

    QVarLengthArray<QThread*, 4> threads() const
    {
        QVarLengthArray<QThread*, 4> out;
        for (const DeferredAllCallbacks& lists : m_callbacks)
            out.append(lists.thread);
        return out;
    }

    // The thread's lists if they belong to its live proxy object; lists of a
    // proxy that is gone are dropped.
    DeferredAllCallbacks* liveListsOf(QThread* owner, QThread* current)
    {
        for (int i = 0; i < m_callbacks.size(); ++i) {
            if (m_callbacks[i].thread != owner)
                continue;
            // Never creates a proxy: a finishing thread that settles must not get a new one.
            const quint64 live = owner == current ? DeferredDataBase::currentThreadLiveGeneration()
                                                  : DeferredDataBase::generationOf(owner);
            if (m_callbacks[i].generation == live)
                return &m_callbacks[i];
            m_callbacks.remove(i);
            return nullptr;
        }
        return nullptr;
    }

    // Runs one settle: per thread, every value callback of the first list, then
    // every zero-argument callback of the second, each in registration order.
    void settle(
        const Deferred<T...>& self, ValueList DeferredAllCallbacks::*first, ZeroList DeferredAllCallbacks::*second)
    {
        QThread* current = QThread::currentThread();
        for (QThread* owner : threads()) {
            DeferredAllCallbacks* lists = liveListsOf(owner, current);
            if (!lists)
                continue;
            const quint64 generation = lists->generation;
            // Take the lists out before running anything: callbacks may register
            // on this state and so move the entries.
            ValueList values;
            if (first)
                values = takeAll(lists->*first);
            ZeroList zeros = takeAll(lists->*second);
            for (const CallbackData& entry : values)
                dispatchValue(self, entry, owner, generation, current);
            for (const CallbackDataZero& entry : zeros)
                dispatchZero(self, entry, owner, generation, current);
            if ((lists = liveListsOf(owner, current))) {
                if (first) {
                    clearList(lists->done);
                    clearList(lists->fail);
                }
                clearList(lists->doneZero);
                clearList(lists->failZero);
            }
        }
    }

    void dispatchValue(
        const Deferred<T...>& self, const CallbackData& entry, QThread* owner, quint64 generation, QThread* current)
    {
        switch (deliveryFor(entry.type, owner, current)) {
        case Delivery::Now:
            callFinished(entry.callback);
            break;
        case Delivery::Post:
            deferred_detail::postToThread(
                owner, generation, [self, state = this, callback = entry.callback] { state->callFinished(callback); });
            break;
        case Delivery::Skip:
            break;
        }
    }

    void dispatchZero(
        const Deferred<T...>& self, const CallbackDataZero& entry, QThread* owner, quint64 generation, QThread* current)
    {
        switch (deliveryFor(entry.type, owner, current)) {
        case Delivery::Now:
            entry.callback();
            break;
        case Delivery::Post:
            deferred_detail::postToThread(owner, generation, [self, callback = entry.callback] { callback(); });
            break;
        case Delivery::Skip:
            break;
        }
    }

    std::optional<std::tuple<T...>> m_values;
    QVarLengthArray<DeferredAllCallbacks, 1> m_callbacks;
    int m_state = Pending;
    mutable std::recursive_mutex m_mutex;
};

#include "DeferredDataBase.h"

#include "DeferredProxyEvent.h"
#include "DeferredProxyObject.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>

// Defined together, in this order, so they are destroyed in the reverse order at exit.
QMutex DeferredDataBase::s_mutex;
QMap<QThread*, DeferredProxyObject*> DeferredDataBase::s_threadMap;
QObject DeferredDataBase::s_objExitCleaner;
std::atomic<DeferredDataBase::PostHook> DeferredDataBase::s_postHook { nullptr };

namespace {
quint64 g_lastGeneration = 0; // guarded by s_mutex
// The generation of this thread's live proxy, 0 while it has none; saves the
// registry lock on every registration.
thread_local quint64 t_generation = 0;
} // namespace

DeferredProxyObject* DeferredDataBase::getObjectForThread(QThread* thread)
{
    static bool isFirstTime = true;
    QMutexLocker lock(&s_mutex);
    if (isFirstTime) {
        QObject::connect(
            &s_objExitCleaner, &QObject::destroyed, &s_objExitCleaner, [] { qDebug("DeferredDataBase was deleted."); },
            Qt::DirectConnection);
        isFirstTime = false;
    }
    auto it = s_threadMap.constFind(thread);
    if (it != s_threadMap.constEnd())
        return it.value();

    QObject::connect(
        thread, &QThread::finished, thread, [thread] { onThreadFinished(thread); }, Qt::DirectConnection);
    auto* proxy = new DeferredProxyObject(++g_lastGeneration);
    s_threadMap.insert(thread, proxy);
    if (thread == QThread::currentThread())
        t_generation = proxy->generation();
    return proxy;
}

quint64 DeferredDataBase::currentThreadGeneration()
{
    if (t_generation == 0)
        getObjectForThread(QThread::currentThread());
    return t_generation;
}

quint64 DeferredDataBase::currentThreadLiveGeneration()
{
    return t_generation;
}

quint64 DeferredDataBase::generationOf(QThread* thread)
{
    QMutexLocker lock(&s_mutex);
    DeferredProxyObject* proxy = s_threadMap.value(thread, nullptr);
    return proxy ? proxy->generation() : 0;
}

bool DeferredDataBase::postToThread(
    QThread* thread, quint64 generation, std::function<void()> function, std::function<void()> undelivered)
{
    const PostHook hook = s_postHook.load(std::memory_order_acquire);
    if (hook)
        hook(thread, PostPoint::Lookup);
    QMutexLocker lock(&s_mutex);
    DeferredProxyObject* proxy = s_threadMap.value(thread, nullptr);
    if (!proxy || proxy->generation() != generation)
        return false;
    if (hook)
        hook(thread, PostPoint::Found);
    auto* event = new DeferredProxyEvent;
    event->function = std::move(function);
    event->undelivered = std::move(undelivered);
    QCoreApplication::postEvent(proxy, event, Qt::HighEventPriority);
    return true;
}

void DeferredDataBase::setPostHook(PostHook hook)
{
    s_postHook.store(hook, std::memory_order_release);
}

void DeferredDataBase::onThreadFinished(QThread* thread)
{
    // Runs in the finishing thread, as QThread::finished is emitted.
    QMutexLocker lock(&s_mutex);
    DeferredProxyObject* proxy = s_threadMap.take(thread);
    if (thread == QThread::currentThread())
        t_generation = 0;
    if (proxy)
        proxy->deleteLater();
}

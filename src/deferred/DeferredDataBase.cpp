#include "DeferredDataBase.h"

#include "DeferredProxyObject.h"

#include <QDebug>
#include <QThread>

// Defined together, in this order, so they are destroyed in the reverse order at exit.
QMutex DeferredDataBase::s_mutex;
QMap<QThread*, DeferredProxyObject*> DeferredDataBase::s_threadMap;
QObject DeferredDataBase::s_objExitCleaner;

DeferredProxyObject* DeferredDataBase::getObjectForThread(QThread* thread)
{
    static bool isFirstTime = true;
    QMutexLocker lock(&s_mutex);
    if (isFirstTime) {
        QObject::connect(
            &s_objExitCleaner, &QObject::destroyed, &s_objExitCleaner,
            [] { qDebug("DeferredDataBase was deleted."); }, Qt::DirectConnection);
        isFirstTime = false;
    }
    auto it = s_threadMap.constFind(thread);
    if (it != s_threadMap.constEnd())
        return it.value();

    QObject::connect(
        thread, &QThread::finished, thread, [thread] { onThreadFinished(thread); },
        Qt::DirectConnection);
    auto* proxy = new DeferredProxyObject;
    s_threadMap.insert(thread, proxy);
    return proxy;
}

DeferredProxyObject* DeferredDataBase::findObjectForThread(QThread* thread)
{
    QMutexLocker lock(&s_mutex);
    return s_threadMap.value(thread, nullptr);
}

void DeferredDataBase::onThreadFinished(QThread* thread)
{
    QMutexLocker lock(&s_mutex);
    DeferredProxyObject* proxy = s_threadMap.take(thread);
    if (proxy)
        proxy->deleteLater();
}

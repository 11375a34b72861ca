#pragma once
// Process-wide registry of one DeferredProxyObject per thread.

#include <QMap>
#include <QMutex>

class DeferredProxyObject;
class QObject;
class QThread;

class DeferredDataBase
{
public:
    // The thread's proxy object, created and registered on first use; never null.
    static DeferredProxyObject* getObjectForThread(QThread* thread);
    // The thread's proxy object when it has a live one, else null. Settling uses
    // this: a thread that already finished must not get a new proxy living elsewhere.
    static DeferredProxyObject* findObjectForThread(QThread* thread);

private:
    static void onThreadFinished(QThread* thread);

    static QMutex s_mutex;
    static QMap<QThread*, DeferredProxyObject*> s_threadMap;
    static QObject s_objExitCleaner;
};

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

    // The generation of the calling thread's live proxy object (creating it on
    // first use). Callback lists remember it: lists made under an earlier
    // generation belong to a proxy that is gone and never run.
    static quint64 currentThreadGeneration();

    // The generation of the thread's live proxy object, 0 when it has none.
    static quint64 generationOf(QThread* thread);

    // The thread's live proxy object when it has one, else null. Settling uses
    // this: a thread that has finished must not get a new proxy living elsewhere.
    static DeferredProxyObject* findObjectForThread(QThread* thread);

private:
    static void onThreadFinished(QThread* thread);

    static QMutex s_mutex;
    static QMap<QThread*, DeferredProxyObject*> s_threadMap;
    static QObject s_objExitCleaner;
};

#pragma once
// Process-wide registry of one DeferredProxyObject per thread.

#include <QMap>
#include <QMutex>

#include <atomic>
#include <functional>

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
    // The same without creating one: 0 once the calling thread has finished.
    static quint64 currentThreadLiveGeneration();

    // The generation of the thread's live proxy object, 0 when it has none.
    static quint64 generationOf(QThread* thread);

    // Runs function in the thread's event loop, through its live proxy object of that generation.
    // The proxy is looked up and the function posted under the registry lock: the thread cannot
    // end and delete its proxy in between. False, and nothing posted, when the thread has no such
    // proxy (it has finished). When set, undelivered runs instead of function if the proxy goes
    // with the function still queued (a thread that stopped taking events, then finished); it runs
    // in that finishing thread.
    static bool postToThread(
        QThread* thread, quint64 generation, std::function<void()> function, std::function<void()> undelivered = {});

    // Tests only: when set, every postToThread calls the hook in the posting thread before it
    // looks the proxy up (Lookup), and once it found a live one, just before it posts to it
    // (Found). At Found the registry is locked: the hook must not use it.
    enum class PostPoint { Lookup, Found };
    using PostHook = void (*)(QThread* thread, PostPoint point);
    static void setPostHook(PostHook hook);

private:
    static void onThreadFinished(QThread* thread);

    static QMutex s_mutex;
    static QMap<QThread*, DeferredProxyObject*> s_threadMap;
    static QObject s_objExitCleaner;
    static std::atomic<PostHook> s_postHook;
};

#pragma once
// The state shared by LambdaThreadWorker handles: one worker thread with its
// own event loop, the calls queued to it and its periodic loops.

#include "Deferred.h"

#include <QMap>
#include <QPointer>
#include <QSharedData>
#include <QString>
#include <QThread>

#include <functional>

class LambdaThreadWorkerObjectData;

class LambdaThreadWorkerData : public QSharedData
{
public:
    LambdaThreadWorkerData();
    ~LambdaThreadWorkerData();
    LambdaThreadWorkerData(const LambdaThreadWorkerData&) = delete;
    LambdaThreadWorkerData& operator=(const LambdaThreadWorkerData&) = delete;

    bool execInThread(const std::function<void()>& function, const Qt::EventPriority& priority);
    int startLoopInThread(const std::function<void()>& function, const unsigned int& interval);
    Deferred<> stopLoopInThread(const int& loopId);
    Deferred<> stopAllLoopsInThread();
    Deferred<> quitThread();
    bool moveQObjectToThread(QObject* object);
    // Null once the finished thread object has been deleted.
    QThread* getThread() const;
    QString getThreadId() const;

private:
    bool isAccepting() const;
    // Posts call to the worker thread; the posted call keeps this state alive
    // until it has run or been discarded with the worker object.
    bool post(const std::function<void()>& call, int priority);
    void postStopAll(const Deferred<>& result);

    // Guarded: the thread object deletes itself later once it has finished.
    QPointer<QThread> m_thread;
    LambdaThreadWorkerObjectData* m_worker;
    QString m_threadId;
    // Worker thread only: loop id to timer id.
    QMap<int, int> m_loops;
    // Holder's thread only.
    int m_lastLoopId = 0;
    bool m_quitting = false;
    // Settled when the thread has finished; every quitThread returns it.
    Deferred<> m_quitResult;
};

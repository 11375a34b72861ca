#pragma once
// LambdaThreadWorker: a shared handle to one worker thread with its own event
// loop, which runs functions once or periodically and stops in order.

#include "Deferred.h"

#include <QExplicitlySharedDataPointer>
#include <QString>

#include <functional>

class LambdaThreadWorkerData;
class QObject;
class QThread;

class LambdaThreadWorker
{
public:
    // Starts a new worker thread. Releasing the last handle asks it to quit
    // once the calls queued to it have run; it does not wait for it.
    LambdaThreadWorker();
    LambdaThreadWorker(const LambdaThreadWorker& other);
    LambdaThreadWorker& operator=(const LambdaThreadWorker& other);
    ~LambdaThreadWorker();

    // Queues function to run once on the worker thread; false when refused.
    bool execInThread(
        const std::function<void()>& function, const Qt::EventPriority& priority = Qt::NormalEventPriority);
    // Queues the start of a loop calling function every interval ms; returns
    // the loop id, or -1 when refused.
    int startLoopInThread(const std::function<void()>& function, const unsigned int& interval);
    Deferred<> stopLoopInThread(const int& loopId);
    Deferred<> stopAllLoopsInThread();
    // Stops every loop, lets the calls queued so far run, then ends the thread;
    // the handle resolves once the thread has finished.
    Deferred<> quitThread();
    bool moveQObjectToThread(QObject* object);
    QThread* getThread() const;
    QString getThreadId() const;

private:
    QExplicitlySharedDataPointer<LambdaThreadWorkerData> d;
};

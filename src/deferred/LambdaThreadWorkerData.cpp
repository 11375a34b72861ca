#include "LambdaThreadWorkerData.h"

#include "LambdaThreadWorkerDataEvent.h"
#include "LambdaThreadWorkerObjectData.h"

#include <QCoreApplication>

#include <climits>

LambdaThreadWorkerData::LambdaThreadWorkerData()
    : m_thread(new QThread)
    , m_worker(new LambdaThreadWorkerObjectData)
{
    QThread* thread = m_thread.data();
    m_threadId = QStringLiteral("QThread(0x%1)").arg(reinterpret_cast<quintptr>(thread), 0, 16);
    m_worker->moveToThread(thread);
    // The worker object goes on the worker thread as it finishes; the thread
    // object goes later, from the event loop of the thread that created it.
    QObject::connect(thread, &QThread::finished, m_worker, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

LambdaThreadWorkerData::~LambdaThreadWorkerData()
{
    // Every queued call holds a reference, so none is left to run here: only
    // the loops, which end with the thread.
    if (!m_quitting && m_thread && !m_thread->isFinished())
        m_thread->quit();
}

bool LambdaThreadWorkerData::isAccepting() const
{
    return !m_quitting && m_thread && m_thread->isRunning();
}

bool LambdaThreadWorkerData::post(const std::function<void()>& call, int priority)
{
    if (!isAccepting())
        return false;
    auto* event = new LambdaThreadWorkerDataEvent;
    event->function = [self = QExplicitlySharedDataPointer<LambdaThreadWorkerData>(this), call] { call(); };
    m_worker->incrementCallbackCount();
    QCoreApplication::postEvent(m_worker, event, priority);
    return true;
}

bool LambdaThreadWorkerData::execInThread(const std::function<void()>& function, const Qt::EventPriority& priority)
{
    if (!function) {
        qWarning("LambdaThreadWorker::execInThread : Empty function.");
        return false;
    }
    return post(function, priority);
}

int LambdaThreadWorkerData::startLoopInThread(const std::function<void()>& function, const unsigned int& interval)
{
    if (!function) {
        qWarning("LambdaThreadWorker::startLoopInThread : Empty function.");
        return -1;
    }
    if (interval > static_cast<unsigned int>(INT_MAX)) {
        qWarning("LambdaThreadWorker::startLoopInThread : Interval too large.");
        return -1;
    }
    if (!isAccepting())
        return -1;
    const int loopId = ++m_lastLoopId;
    post(
        [this, loopId, function, interval] {
            const int timerId = m_worker->startLoop(static_cast<int>(interval), function);
            if (timerId == 0) {
                qWarning("LambdaThreadWorker::startLoopInThread : Could not start the loop timer.");
                return;
            }
            m_loops.insert(loopId, timerId);
        },
        Qt::HighEventPriority);
    return loopId;
}

Deferred<> LambdaThreadWorkerData::stopLoopInThread(const int& loopId)
{
    Deferred<> result;
    if (!isAccepting()) {
        result.reject();
        return result;
    }
    post(
        [this, loopId, result] {
            const auto it = m_loops.find(loopId);
            if (it == m_loops.end()) {
                qWarning("LambdaThreadWorker::stopLoopInThread : Invalid loop Id.");
                result.reject();
                return;
            }
            const int timerId = it.value();
            m_loops.erase(it);
            m_worker->stopLoop(timerId);
            result.resolve();
        },
        Qt::HighEventPriority);
    return result;
}

void LambdaThreadWorkerData::postStopAll(const Deferred<>& result)
{
    post(
        [this, result] {
            while (!m_loops.isEmpty()) {
                const int timerId = m_loops.take(m_loops.firstKey());
                m_worker->stopLoop(timerId);
            }
            result.resolve();
        },
        Qt::HighEventPriority);
}

Deferred<> LambdaThreadWorkerData::stopAllLoopsInThread()
{
    Deferred<> result;
    if (!isAccepting()) {
        result.reject();
        return result;
    }
    postStopAll(result);
    return result;
}

Deferred<> LambdaThreadWorkerData::quitThread()
{
    // A later call gets the first call's handle: it too resolves only once
    // the thread has finished.
    if (m_quitting)
        return m_quitResult;
    if (!m_thread || !m_thread->isRunning()) {
        Deferred<> finished;
        finished.resolve();
        return finished;
    }
    QThread* thread = m_thread.data();
    LambdaThreadWorkerObjectData* worker = m_worker;
    const Deferred<> result = m_quitResult;
    QObject::connect(thread, &QThread::finished, worker, [result] { result.resolve(); });

    // The quit on drain is hung on the stop-all handle before that call is
    // posted, so it is armed on the worker thread inside the stop-all call
    // however early the worker runs it, before that call's completion is counted.
    Deferred<> stopAll;
    stopAll.done(
        [worker, thread] {
            QObject::connect(worker, &LambdaThreadWorkerObjectData::finishedProcessingCallbacks, worker,
                [thread] { thread->quit(); });
        },
        Qt::DirectConnection);
    postStopAll(stopAll);
    m_quitting = true;
    return result;
}

bool LambdaThreadWorkerData::moveQObjectToThread(QObject* object)
{
    if (!object) {
        qWarning("LambdaThreadWorker::moveQObjectToThread : Null object.");
        return false;
    }
    if (!isAccepting())
        return false;
    object->moveToThread(m_thread.data());
    // moveToThread refuses (with its own warning) an object that has a parent
    // or belongs to another thread.
    return object->thread() == m_thread.data();
}

QThread* LambdaThreadWorkerData::getThread() const
{
    return m_thread.data();
}

QString LambdaThreadWorkerData::getThreadId() const
{
    return m_threadId;
}

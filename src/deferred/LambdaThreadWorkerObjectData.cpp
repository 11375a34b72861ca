#include "LambdaThreadWorkerObjectData.h"

#include "LambdaThreadWorkerDataEvent.h"

#include <QMutexLocker>
#include <QTimerEvent>

int LambdaThreadWorkerObjectData::incrementCallbackCount()
{
    QMutexLocker lock(&m_countMutex);
    return ++m_callbackCount;
}

int LambdaThreadWorkerObjectData::decrementCallbackCount()
{
    int count = 0;
    {
        QMutexLocker lock(&m_countMutex);
        count = --m_callbackCount;
    }
    // Emitted without the lock: a receiver may post or count again.
    if (count == 0)
        emit finishedProcessingCallbacks();
    return count;
}

int LambdaThreadWorkerObjectData::startLoop(int interval, const std::function<void()>& function)
{
    const int timerId = startTimer(interval, Qt::CoarseTimer);
    if (timerId != 0)
        m_loopFunctions.insert(timerId, function);
    return timerId;
}

void LambdaThreadWorkerObjectData::stopLoop(int timerId)
{
    m_loopFunctions.remove(timerId);
    killTimer(timerId);
}

bool LambdaThreadWorkerObjectData::event(QEvent* event)
{
    if (event->type() == LambdaThreadWorkerDataEvent::EventType) {
        auto* call = static_cast<LambdaThreadWorkerDataEvent*>(event);
        if (call->function)
            call->function();
        decrementCallbackCount();
        return true;
    }
    return QObject::event(event);
}

void LambdaThreadWorkerObjectData::timerEvent(QTimerEvent* event)
{
    const auto it = m_loopFunctions.constFind(event->timerId());
    if (it == m_loopFunctions.constEnd())
        return;
    // A copy: the function may outlive its map entry while it runs.
    const std::function<void()> function = it.value();
    function();
}

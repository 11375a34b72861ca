#pragma once
// Lives in a LambdaThreadWorker's thread: runs the calls posted to it and the
// periodic functions driven by its timers, and counts calls not yet run.

#include <QMap>
#include <QMutex>
#include <QObject>

#include <functional>

class QTimerEvent;

class LambdaThreadWorkerObjectData : public QObject
{
    Q_OBJECT
public:
    LambdaThreadWorkerObjectData() = default;
    ~LambdaThreadWorkerObjectData() override = default;

    // Called by the poster before posting a call; returns the new count.
    int incrementCallbackCount();
    // Called after a posted call has run; emits finishedProcessingCallbacks()
    // when no call is left. Returns the count.
    int decrementCallbackCount();

    // Worker thread only: starts a coarse timer driving function; returns its
    // timer id, or 0 when the timer could not be started.
    int startLoop(int interval, const std::function<void()>& function);
    // Worker thread only: kills the timer and drops its function.
    void stopLoop(int timerId);

    bool event(QEvent* event) override;

signals:
    void finishedProcessingCallbacks();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QMap<int, std::function<void()>> m_loopFunctions;
    int m_callbackCount = 0;
    QMutex m_countMutex;
};

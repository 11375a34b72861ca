#pragma once
// Carries one call to the worker object of a LambdaThreadWorker, which runs it on the worker thread.

#include <QEvent>

#include <functional>

class LambdaThreadWorkerDataEvent : public QEvent
{
public:
    static constexpr QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + 666);

    LambdaThreadWorkerDataEvent()
        : QEvent(EventType)
    {
    }
    ~LambdaThreadWorkerDataEvent() override = default;

    std::function<void()> function;
};

#pragma once
// Carries one callable to a thread's DeferredProxyObject, which runs it there.

#include "DeferredDataBase.h"

#include <QEvent>

#include <functional>

class DeferredProxyEvent : public QEvent
{
public:
    static constexpr QEvent::Type EventType = static_cast<QEvent::Type>(QEvent::User + 123);

    DeferredProxyEvent()
        : QEvent(EventType)
    {
    }
    // An event dropped undelivered because its proxy went with its finishing thread runs
    // undelivered, if set. Not when the application itself tears down its queue at exit: the
    // objects the callbacks would reach are gone by then.
    ~DeferredProxyEvent() override
    {
        if (undelivered && DeferredDataBase::currentThreadLiveGeneration() == 0)
            undelivered();
    }

    std::function<void()> function;
    // What must still happen when the thread will never run function; cleared on delivery.
    std::function<void()> undelivered;
};

#pragma once
// Carries one callable to a thread's DeferredProxyObject, which runs it there.

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
    // An event dropped undelivered (its proxy went with its thread) runs undelivered, if set.
    ~DeferredProxyEvent() override
    {
        if (undelivered)
            undelivered();
    }

    std::function<void()> function;
    // What must still happen when the thread will never run function; cleared on delivery.
    std::function<void()> undelivered;
};

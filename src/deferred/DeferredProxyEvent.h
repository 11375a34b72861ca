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
    ~DeferredProxyEvent() override = default;

    std::function<void()> function;
};

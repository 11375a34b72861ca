#include "DeferredProxyObject.h"

#include "DeferredProxyEvent.h"

bool DeferredProxyObject::event(QEvent* event)
{
    if (event->type() == DeferredProxyEvent::EventType) {
        auto* proxyEvent = static_cast<DeferredProxyEvent*>(event);
        proxyEvent->undelivered = nullptr;
        if (proxyEvent->function)
            proxyEvent->function();
        return true;
    }
    return QObject::event(event);
}

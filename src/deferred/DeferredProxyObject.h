#pragma once
// One per thread that registers deferred callbacks: runs the callbacks posted to that thread.

#include <QObject>

class DeferredProxyObject : public QObject
{
    Q_OBJECT
public:
    DeferredProxyObject() = default;
    ~DeferredProxyObject() override = default;

    bool event(QEvent* event) override;
};

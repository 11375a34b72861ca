#pragma once
// One per thread that registers deferred callbacks: runs the callbacks posted to that thread.

#include <QObject>

class DeferredProxyObject : public QObject
{
    Q_OBJECT
public:
    // generation tells this thread's proxy apart from an earlier one of the same
    // thread object (a QThread can be restarted, and addresses get reused).
    explicit DeferredProxyObject(quint64 generation)
        : m_generation(generation)
    {
    }
    ~DeferredProxyObject() override = default;

    quint64 generation() const { return m_generation; }

    bool event(QEvent* event) override;

private:
    const quint64 m_generation;
};

#pragma once
// Turns SIGTERM and SIGINT into a Qt signal, so the simulator can say goodbye
// on its status topics before it exits.

#include <QObject>

class QSocketNotifier;

class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested();

private:
    static void handler(int signal);

    QSocketNotifier* m_notifier = nullptr;
};

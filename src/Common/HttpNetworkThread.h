#pragma once
// The thread of one HTTP client's connections: connecting, TLS handshakes, reading replies
// and time-outs run there, whatever thread makes the call. Started on first use; what
// lives in it is deleted in it when it stops.

#include <QMutex>
#include <QThread>

#include <functional>

class HttpConnectionPool;

class HttpNetworkThread
{
public:
    HttpNetworkThread() = default;
    ~HttpNetworkThread();
    HttpNetworkThread(const HttpNetworkThread&) = delete;
    HttpNetworkThread& operator=(const HttpNetworkThread&) = delete;

    // Runs the function in the thread, after everything posted before; starts the thread
    // first. After stop() the function is dropped.
    void post(std::function<void()> function);
    // The thread's connections, and the context of every handler run there; only for code
    // running in the thread.
    HttpConnectionPool* pool() const { return m_pool; }
    // Ends the thread once what it runs now is done: functions not run yet are dropped and
    // the connections closed, so their calls stay pending.
    void stop();

private:
    QMutex m_mutex;
    QThread m_thread;
    HttpConnectionPool* m_pool = nullptr;
    bool m_stopped = false;
};

#pragma once
// Records the send queue's replies in the local database on a thread and a connection of
// its own: each record's commit, synced to disk, never holds the GUI thread. Records are
// committed one at a time in the order given.

#include "Deferred.h"
#include "Transaction.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

class QObject;
class SqlDatabase;

namespace Backend {

class QueueRecorder
{
public:
    // A reply left unrecorded is sent again later: a record waits this long for another
    // writer (a blacklist change, a maintenance session) before it fails.
    static constexpr int BusyTimeoutMsec = 30000;

    explicit QueueRecorder(const QString& path);
    // Commits the records given so far, then ends the thread.
    ~QueueRecorder();
    QueueRecorder(const QueueRecorder&) = delete;
    QueueRecorder& operator=(const QueueRecorder&) = delete;

    // Stores the row's delivery state (Database::transUpdate); true once it is committed.
    // A record that fails is logged here.
    // Called from the thread that made the recorder.
    Deferred<bool> record(const Transaction::Ptr& trans);

    // Tests only: when set, called in the recorder's thread as a record is about to be written
    // (Writing), and in the closing thread once the recorder was told to close, before it
    // waits for the records given so far (Closing).
    enum class Point { Writing, Closing };
    using Hook = void (*)(Point point);
    static void setHook(Hook hook);

private:
    void run(std::function<void()> job);
    static void reach(Point point);

    QString m_path;
    QThread m_thread;
    QObject* m_context; // lives in m_thread and runs the jobs there
    std::unique_ptr<SqlDatabase> m_sql; // made, used and closed in m_thread only
    static std::atomic<Hook> s_hook;
};

} // namespace Backend

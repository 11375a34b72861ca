#include "LambdaThreadWorker.h"

#include "LogCapture.h"

#include <QEventLoop>
#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

const QString kInvalidLoopId = QStringLiteral("LambdaThreadWorker::stopLoopInThread : Invalid loop Id.");
constexpr int kDeadline = 10000;

// Texts recorded from any thread, in order.
class Recorder
{
public:
    void add(const QString& text)
    {
        const QMutexLocker lock(&m_mutex);
        m_texts << text;
    }
    QStringList texts() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_texts;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_texts;
};

// Holds the worker inside one call, so that later calls queue up behind it.
class Blocker
{
public:
    bool block(LambdaThreadWorker& worker)
    {
        return worker.execInThread([this] { m_entered.release(), m_gate.acquire(); })
            && m_entered.tryAcquire(1, kDeadline);
    }
    void release() { m_gate.release(); }

private:
    QSemaphore m_entered;
    QSemaphore m_gate;
};

// The thread object is deleted by this thread's event loop once the worker has
// finished, so waiting for that also lets everything the worker owned go.
bool waitUntilDeleted(const QPointer<QThread>& thread)
{
    return QTest::qWaitFor([&] { return thread.isNull(); }, kDeadline);
}

bool quitAndWait(LambdaThreadWorker& worker)
{
    const QPointer<QThread> thread = worker.getThread();
    worker.quitThread();
    return waitUntilDeleted(thread);
}

// 0 pending, 1 resolved, 2 rejected, once the handle has settled or the deadline passed.
int settled(Deferred<> handle)
{
    static_cast<void>(QTest::qWaitFor([&] { return !handle.isPending(); }, kDeadline));
    return handle.state();
}

} // namespace

class TestLambdaThreadWorker : public QObject
{
    Q_OBJECT

private slots:
    void loopIdsAndLoops()
    {
        LogCapture log;
        LambdaThreadWorker worker;
        std::atomic<int> ticks { 0 };
        const int first = worker.startLoopInThread([&] { ++ticks; }, 1);
        QCOMPARE(first, 1);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.load() >= 3, kDeadline);
        auto slow = std::make_shared<int>(0);
        std::weak_ptr<int> slowWatch = slow;
        QCOMPARE(worker.startLoopInThread([slow] { ++*slow; }, 60000), 2);

        // Stopping resolves, and the loop runs no more.
        QCOMPARE(settled(worker.stopLoopInThread(first)), 1);
        const int ticksAtStop = ticks;
        QTest::qWait(100);
        QCOMPARE(ticks.load(), ticksAtStop);
        // Ids keep rising after stops; a stop queued right after its start finds the loop.
        const int third = worker.startLoopInThread([slow] { ++*slow; }, 60000);
        QCOMPARE(third, 3);
        QCOMPARE(settled(worker.stopLoopInThread(third)), 1);
        slow.reset();

        // Unknown ids, never issued or already stopped, warn on the worker thread and reject.
        for (int id : { 99, first, 0 })
            QCOMPARE(settled(worker.stopLoopInThread(id)), 2);
        QCOMPARE(log.texts(QtWarningMsg), QStringList({ kInvalidLoopId, kInvalidLoopId, kInvalidLoopId }));

        // Stopping all drops every loop's function; with none left it still resolves.
        QVERIFY(!slowWatch.expired());
        QCOMPARE(settled(worker.stopAllLoopsInThread()), 1);
        QVERIFY(slowWatch.expired());
        QVERIFY(quitAndWait(worker));
    }

    void quitRunsQueuedCallsAfterStoppingLoops()
    {
        LambdaThreadWorker worker;
        QThread* const thread = worker.getThread();
        const QPointer<QThread> watch = thread;
        auto token = std::make_shared<std::atomic<int>>(0);
        std::weak_ptr<std::atomic<int>> tokenWatch = token;
        QVERIFY(worker.startLoopInThread([token] { ++*token; }, 1) > 0);
        QTRY_VERIFY_WITH_TIMEOUT(*token >= 1, kDeadline);
        token.reset();

        Recorder order;
        Blocker blocker;
        QVERIFY(blocker.block(worker));
        // Queued before quitting, at lower priorities than the stop of the loops.
        QVERIFY(worker.execInThread([&] { order.add(tokenWatch.expired() ? "loops stopped" : "loop still there"); }));
        // The last call still has a working event loop: the quit comes only after it.
        QVERIFY(worker.execInThread(
            [&] {
                QEventLoop loop;
                QTimer::singleShot(0, &loop, &QEventLoop::quit);
                order.add(loop.exec() == 0 ? "low" : "low after the quit");
            },
            Qt::LowEventPriority));
        Deferred<> first = worker.quitThread();
        first.done([&] { order.add(thread->isFinished() ? "first finished" : "first early"); }, Qt::DirectConnection);
        // A second quit while the worker is held inside a call: the thread cannot have
        // finished, so the handle must be pending and resolve only once it has.
        Deferred<> second = worker.quitThread();
        std::atomic<bool> secondSawFinished { false };
        second.done([&] { secondSawFinished = thread->isFinished(); }, Qt::DirectConnection);
        QThread* secondRanOn = nullptr;
        second.done([&] { secondRanOn = QThread::currentThread(); });
        QTest::qWait(20);
        QVERIFY(first.isPending() && second.isPending());
        blocker.release();
        QTRY_VERIFY_WITH_TIMEOUT(secondRanOn != nullptr, kDeadline);
        QVERIFY(secondSawFinished);
        QCOMPARE(order.texts(), (QStringList { "loops stopped", "low", "first finished" }));
        QVERIFY(waitUntilDeleted(watch));
    }

    void refusals()
    {
        LogCapture log;
        LambdaThreadWorker worker;
        const QPointer<QThread> thread = worker.getThread();
        Blocker blocker;
        QVERIFY(blocker.block(worker));
        QCOMPARE(worker.startLoopInThread([] {}, 1000), 1);
        Deferred<> quit = worker.quitThread();
        std::atomic<bool> refusedRan { false };
        auto checkRefusals = [&](LambdaThreadWorker& w) {
            QVERIFY(!w.execInThread([&] { refusedRan = true; }, Qt::HighEventPriority));
            QCOMPARE(w.startLoopInThread([&] { refusedRan = true; }, 1), -1);
            QCOMPARE(w.stopLoopInThread(1).state(), 2);
            QCOMPARE(w.stopAllLoopsInThread().state(), 2);
            QObject object;
            QVERIFY(!w.moveQObjectToThread(&object) && object.thread() == QThread::currentThread());
        };
        // While the worker still runs its queued calls...
        checkRefusals(worker);
        blocker.release();
        // ...and after the thread has finished and its object is gone.
        QVERIFY(waitUntilDeleted(thread));
        checkRefusals(worker);
        QVERIFY(!refusedRan);
        // Refusals write nothing.
        QCOMPARE(log.texts(), QStringList());

        // Empty functions and intervals the toolkit's timers cannot take are refused with a warning,
        // without using an id.
        LambdaThreadWorker fresh;
        QVERIFY(!fresh.execInThread(std::function<void()>(static_cast<void (*)()>(nullptr)), Qt::HighEventPriority));
        QCOMPARE(fresh.startLoopInThread(std::function<void()>(), 10), -1);
        QCOMPARE(fresh.startLoopInThread([] {}, 0x80000000u), -1);
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList({ "LambdaThreadWorker::execInThread : Empty function.",
                "LambdaThreadWorker::startLoopInThread : Empty function.",
                "LambdaThreadWorker::startLoopInThread : Interval too large." }));

        // An object with a parent stays, and is not reported moved; one without moves.
        QObject parent;
        QObject* child = new QObject(&parent);
        QVERIFY(!fresh.moveQObjectToThread(child));
        QCOMPARE(child->thread(), QThread::currentThread());
        QObject* lone = new QObject;
        QVERIFY(fresh.moveQObjectToThread(lone));
        QCOMPARE(lone->thread(), fresh.getThread());
        QVERIFY(fresh.execInThread([lone] { delete lone; }));
        QVERIFY(quitAndWait(fresh));
    }
};

QTEST_GUILESS_MAIN(TestLambdaThreadWorker)
#include "tst_LambdaThreadWorker.moc"

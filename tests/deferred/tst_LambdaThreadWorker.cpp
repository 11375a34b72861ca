#include "LambdaThreadWorker.h"
#include "LambdaThreadWorkerDataEvent.h"
#include "LambdaThreadWorkerObjectData.h"

#include "LogCapture.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimerEvent>

#include <atomic>
#include <memory>
#include <optional>

namespace {

const QString kInvalidLoopId = QStringLiteral("LambdaThreadWorker::stopLoopInThread : Invalid loop Id.");
const QString kEmptyExec = QStringLiteral("LambdaThreadWorker::execInThread : Empty function.");
const QString kEmptyLoop = QStringLiteral("LambdaThreadWorker::startLoopInThread : Empty function.");
constexpr int kDeadline = 10000;

// Texts recorded from any thread, in order.
class Recorder
{
public:
    void add(const QString& text)
    {
        QMutexLocker lock(&m_mutex);
        m_texts << text;
    }
    QStringList texts() const
    {
        QMutexLocker lock(&m_mutex);
        return m_texts;
    }
    int size() const { return texts().size(); }

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
        const bool queued = worker.execInThread([this] {
            m_entered.release();
            m_gate.acquire();
        });
        return queued && m_entered.tryAcquire(1, kDeadline);
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

QString debugText(const QObject* object)
{
    QString text;
    QDebug(&text).nospace().noquote() << object;
    return text;
}

} // namespace

class TestLambdaThreadWorker : public QObject
{
    Q_OBJECT

private slots:
    void runsCallsOnItsOwnThread();
    void loopIdsAndLoops();
    void stopAllStopsEveryLoop();
    void priorities();
    void quitRunsQueuedCallsAfterStoppingLoops();
    void quitOnIdleWorkersAlwaysFinishes();
    void refusesAfterQuitting();
    void refusesAfterTheThreadEndedOtherwise();
    void releasingTheLastHandleOfARunningWorker();
    void emptyFunctionsAreRefused();
    void movesObjectsIntoTheThread();
    void workerObjectCountsAndRunsCalls();
};

void TestLambdaThreadWorker::runsCallsOnItsOwnThread()
{
    LambdaThreadWorker worker;
    QThread* thread = worker.getThread();
    QVERIFY(thread);
    QVERIFY(thread != QThread::currentThread());
    const QString label = worker.getThreadId();
    QCOMPARE(label, debugText(thread));
    QVERIFY(label.startsWith("QThread(0x"));

    std::atomic<QThread*> ranOn { nullptr };
    QVERIFY(worker.execInThread([&] { ranOn = QThread::currentThread(); }));
    QTRY_VERIFY_WITH_TIMEOUT(ranOn.load() != nullptr, kDeadline);
    QCOMPARE(ranOn.load(), thread);

    // Copies share the worker; assigning a handle to itself changes nothing.
    LambdaThreadWorker copy(worker);
    QCOMPARE(copy.getThread(), thread);
    QCOMPARE(copy.getThreadId(), label);
    LambdaThreadWorker other;
    const QPointer<QThread> otherThread = other.getThread();
    QVERIFY(otherThread != thread);
    other = worker; // the other worker's last handle goes: its thread ends by itself
    QCOMPARE(other.getThread(), thread);
    other = *&other;
    QCOMPARE(other.getThreadId(), label);
    QVERIFY(waitUntilDeleted(otherThread));

    QVERIFY(quitAndWait(worker));
    // The label outlives the thread object.
    QCOMPARE(worker.getThreadId(), label);
    QCOMPARE(copy.getThread(), nullptr);
}

void TestLambdaThreadWorker::loopIdsAndLoops()
{
    LogCapture log;
    LambdaThreadWorker worker;
    QThread* thread = worker.getThread();

    std::atomic<int> ticks { 0 };
    std::atomic<bool> wrongThread { false };
    const int first = worker.startLoopInThread(
        [&] {
            if (QThread::currentThread() != thread)
                wrongThread = true;
            ++ticks;
        },
        1);
    QCOMPARE(first, 1);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.load() >= 3, kDeadline);
    QVERIFY(!wrongThread);

    std::atomic<int> slowTicks { 0 };
    QCOMPARE(worker.startLoopInThread([&] { ++slowTicks; }, 60000), 2);

    // Stopping resolves, and the loop runs no more.
    bool stopped = false;
    worker.stopLoopInThread(first).done([&] { stopped = true; });
    QTRY_VERIFY_WITH_TIMEOUT(stopped, kDeadline);
    const int ticksAtStop = ticks;
    QTest::qWait(100);
    QCOMPARE(ticks.load(), ticksAtStop);

    // Ids keep rising after stops; a stop queued right after its start finds the loop.
    const int third = worker.startLoopInThread([&] { ++slowTicks; }, 60000);
    QCOMPARE(third, 3);
    int thirdState = 0;
    Deferred<> stopThird = worker.stopLoopInThread(third);
    stopThird.done([&] { thirdState = 1; }).fail([&] { thirdState = 2; });
    QTRY_COMPARE_WITH_TIMEOUT(thirdState, 1, kDeadline);

    // Unknown ids, never issued or already stopped, warn on the worker thread and reject.
    QVERIFY(!log.contains(kInvalidLoopId));
    int rejected = 0;
    for (int id : { 99, first, third, 0, -1 }) {
        worker.stopLoopInThread(id).fail([&] { ++rejected; });
    }
    QTRY_COMPARE_WITH_TIMEOUT(rejected, 5, kDeadline);
    QCOMPARE(log.count(kInvalidLoopId), 5);
    QVERIFY(log.contains(QtWarningMsg, kInvalidLoopId));

    QCOMPARE(worker.startLoopInThread([] {}, 60000), 4);
    QVERIFY(quitAndWait(worker));
    QCOMPARE(slowTicks.load(), 0);
    QCOMPARE(log.texts(QtCriticalMsg), QStringList());
}

void TestLambdaThreadWorker::stopAllStopsEveryLoop()
{
    LambdaThreadWorker worker;
    auto a = std::make_shared<std::atomic<int>>(0);
    auto b = std::make_shared<std::atomic<int>>(0);
    std::weak_ptr<std::atomic<int>> aWatch = a, bWatch = b;
    const int idA = worker.startLoopInThread([a] { ++*a; }, 1);
    const int idB = worker.startLoopInThread([b] { ++*b; }, 2);
    QCOMPARE(idB, idA + 1);
    QTRY_VERIFY_WITH_TIMEOUT(*a >= 2 && *b >= 2, kDeadline);
    a.reset();
    b.reset();

    bool allStopped = false;
    worker.stopAllLoopsInThread().done([&] { allStopped = true; });
    QTRY_VERIFY_WITH_TIMEOUT(allStopped, kDeadline);
    // The loops' functions were dropped with them.
    QVERIFY(aWatch.expired());
    QVERIFY(bWatch.expired());

    // Nothing left: stopping one rejects, stopping all still resolves.
    LogCapture log;
    int rejected = 0;
    worker.stopLoopInThread(idA).fail([&] { ++rejected; });
    worker.stopLoopInThread(idB).fail([&] { ++rejected; });
    bool emptyStopped = false;
    worker.stopAllLoopsInThread().done([&] { emptyStopped = true; });
    QTRY_VERIFY_WITH_TIMEOUT(emptyStopped && rejected == 2, kDeadline);
    QCOMPARE(log.count(kInvalidLoopId), 2);
    QVERIFY(quitAndWait(worker));
}

void TestLambdaThreadWorker::priorities()
{
    LambdaThreadWorker worker;
    Recorder order;
    Blocker blocker;
    QVERIFY(blocker.block(worker));
    QVERIFY(worker.execInThread([&] { order.add("low"); }, Qt::LowEventPriority));
    QVERIFY(worker.execInThread([&] { order.add("normal 1"); }));
    QVERIFY(worker.execInThread([&] { order.add("high"); }, Qt::HighEventPriority));
    QVERIFY(worker.execInThread([&] { order.add("normal 2"); }, Qt::NormalEventPriority));
    // Stopping runs at high priority, after high calls posted before it.
    worker.stopAllLoopsInThread().done([&] { order.add("stop all"); }, Qt::DirectConnection);
    QVERIFY(worker.execInThread([&] { order.add("high 2"); }, Qt::HighEventPriority));
    QCOMPARE(order.size(), 0);
    blocker.release();
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 6, kDeadline);
    QCOMPARE(order.texts(), (QStringList { "high", "stop all", "high 2", "normal 1", "normal 2", "low" }));
    QVERIFY(quitAndWait(worker));
}

void TestLambdaThreadWorker::quitRunsQueuedCallsAfterStoppingLoops()
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
    QVERIFY(worker.execInThread(
        [&] { order.add(tokenWatch.expired() ? "normal: loops stopped" : "normal: loop still there"); }));
    QVERIFY(worker.execInThread([&] { order.add("low"); }, Qt::LowEventPriority));

    Deferred<> first = worker.quitThread();
    first.done(
        [&] { order.add(thread->isFinished() ? "first finished" : "first before finish"); }, Qt::DirectConnection);
    // A second quit while the first is under way: the worker is still held inside
    // a call, so the thread cannot have finished and the handle must be pending.
    Deferred<> second = worker.quitThread();
    QVERIFY(first.isPending());
    QVERIFY(second.isPending());
    std::atomic<bool> secondSawFinished { false };
    second.done([&] { secondSawFinished = thread->isFinished(); }, Qt::DirectConnection);
    QThread* secondRanOn = nullptr;
    second.done([&] { secondRanOn = QThread::currentThread(); });

    QTest::qWait(20);
    QVERIFY(second.isPending());
    blocker.release();
    QTRY_VERIFY_WITH_TIMEOUT(secondRanOn != nullptr, kDeadline);
    QCOMPARE(secondRanOn, QThread::currentThread());
    QVERIFY(secondSawFinished);
    QCOMPARE(order.texts(), (QStringList { "normal: loops stopped", "low", "first finished" }));
    QVERIFY(waitUntilDeleted(watch));

    // Once finished, quitting again resolves at once.
    QCOMPARE(worker.quitThread().state(), 1);
}

void TestLambdaThreadWorker::quitOnIdleWorkersAlwaysFinishes()
{
    // The worker may run the stop-all call before quitThread has returned; the
    // thread must quit all the same.
    constexpr int kWorkers = 24;
    QList<QPointer<QThread>> threads;
    int resolved = 0;
    std::atomic<int> ran { 0 };
    for (int i = 0; i < kWorkers; ++i) {
        LambdaThreadWorker worker;
        threads << worker.getThread();
        if (i % 2)
            worker.execInThread([&] { ++ran; });
        worker.quitThread().done([&] { ++resolved; });
    }
    QTRY_COMPARE_WITH_TIMEOUT(resolved, kWorkers, kDeadline);
    QCOMPARE(ran.load(), kWorkers / 2);
    for (const QPointer<QThread>& thread : qAsConst(threads))
        QVERIFY(waitUntilDeleted(thread));
}

void TestLambdaThreadWorker::refusesAfterQuitting()
{
    LogCapture log;
    LambdaThreadWorker worker;
    const QString label = worker.getThreadId();
    const QPointer<QThread> thread = worker.getThread();
    Blocker blocker;
    QVERIFY(blocker.block(worker));
    QCOMPARE(worker.startLoopInThread([] {}, 1000), 1);
    Deferred<> quit = worker.quitThread();

    std::atomic<bool> refusedRan { false };
    auto checkRefusals = [&] {
        QVERIFY(!worker.execInThread([&] { refusedRan = true; }));
        QVERIFY(!worker.execInThread([&] { refusedRan = true; }, Qt::HighEventPriority));
        QCOMPARE(worker.startLoopInThread([&] { refusedRan = true; }, 1), -1);
        Deferred<> stopOne = worker.stopLoopInThread(1);
        QCOMPARE(stopOne.state(), 2);
        QCOMPARE(worker.stopAllLoopsInThread().state(), 2);
        int failed = 0;
        stopOne.fail([&] { ++failed; }); // already rejected: runs at once
        QCOMPARE(failed, 1);
        QObject object;
        QVERIFY(!worker.moveQObjectToThread(&object));
        QCOMPARE(object.thread(), QThread::currentThread());
        QCOMPARE(worker.getThreadId(), label);
    };

    // While the worker still runs its queued calls...
    checkRefusals();
    QVERIFY(quit.isPending());
    blocker.release();
    // ...and after the thread has finished and its object is gone.
    QVERIFY(waitUntilDeleted(thread));
    QCOMPARE(quit.state(), 1);
    checkRefusals();
    QCOMPARE(worker.getThread(), nullptr);
    QCOMPARE(worker.quitThread().state(), 1);
    QVERIFY(!refusedRan);
    // Refusals write nothing.
    QCOMPARE(log.texts(), QStringList());
}

void TestLambdaThreadWorker::refusesAfterTheThreadEndedOtherwise()
{
    LambdaThreadWorker worker;
    const QPointer<QThread> thread = worker.getThread();
    thread->quit();
    QVERIFY(waitUntilDeleted(thread));
    QVERIFY(!worker.execInThread([] {}));
    QCOMPARE(worker.startLoopInThread([] {}, 10), -1);
    QCOMPARE(worker.stopLoopInThread(1).state(), 2);
    QCOMPARE(worker.stopAllLoopsInThread().state(), 2);
    QCOMPARE(worker.quitThread().state(), 1);
}

void TestLambdaThreadWorker::releasingTheLastHandleOfARunningWorker()
{
    // With calls queued behind a busy one: releasing returns at once, the calls
    // queued before still run against a valid state, then the thread ends.
    {
        std::optional<LambdaThreadWorker> worker;
        worker.emplace();
        const QPointer<QThread> thread = worker->getThread();
        auto token = std::make_shared<int>(0);
        std::weak_ptr<int> tokenWatch = token;
        const int loop = worker->startLoopInThread([token] {}, 1);
        const int spare = worker->startLoopInThread([token] {}, 60000);
        token.reset();

        Blocker blocker;
        QVERIFY(blocker.block(*worker));
        Recorder order;
        QVERIFY(worker->execInThread([&] { order.add("queued call"); }));
        worker->stopLoopInThread(loop).done([&] { order.add("loop stopped"); }, Qt::DirectConnection);
        worker->stopAllLoopsInThread().done([&] { order.add("all stopped"); }, Qt::DirectConnection);
        QVERIFY(worker->execInThread([&] { order.add("low call"); }, Qt::LowEventPriority));
        QCOMPARE(spare, loop + 1);

        worker.reset(); // the worker is still held inside a call: this must not wait for it
        QVERIFY(thread);
        QVERIFY(thread->isRunning());
        blocker.release();
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 4, kDeadline);
        QCOMPARE(order.texts(), (QStringList { "loop stopped", "all stopped", "queued call", "low call" }));
        QVERIFY(waitUntilDeleted(thread));
        QVERIFY(tokenWatch.expired());
    }

    // An idle worker with a loop running ends by itself, dropping the loop.
    {
        auto token = std::make_shared<std::atomic<int>>(0);
        std::weak_ptr<std::atomic<int>> tokenWatch = token;
        QPointer<QThread> thread;
        {
            LambdaThreadWorker worker;
            thread = worker.getThread();
            QCOMPARE(worker.startLoopInThread([token] { ++*token; }, 1), 1);
            QTRY_VERIFY_WITH_TIMEOUT(*token >= 1, kDeadline);
            token.reset();
        }
        QVERIFY(waitUntilDeleted(thread));
        QVERIFY(tokenWatch.expired());
    }

    // Released straight after construction.
    {
        QPointer<QThread> thread = LambdaThreadWorker().getThread();
        QVERIFY(waitUntilDeleted(thread));
    }
}

void TestLambdaThreadWorker::emptyFunctionsAreRefused()
{
    LogCapture log;
    LambdaThreadWorker worker;
    QVERIFY(!worker.execInThread(std::function<void()>()));
    QVERIFY(!worker.execInThread(std::function<void()>(static_cast<void (*)()>(nullptr)), Qt::HighEventPriority));
    QCOMPARE(log.count(kEmptyExec), 2);
    QVERIFY(log.contains(QtWarningMsg, kEmptyExec));

    QCOMPARE(worker.startLoopInThread(std::function<void()>(), 10), -1);
    QCOMPARE(log.count(kEmptyLoop), 1);
    QVERIFY(log.contains(QtWarningMsg, kEmptyLoop));
    // An interval the toolkit's timers cannot take is refused too.
    QCOMPARE(worker.startLoopInThread([] {}, 0x80000000u), -1);
    QCOMPARE(log.count("LambdaThreadWorker::startLoopInThread : Interval too large."), 1);

    // No id was used and the worker carries on.
    QCOMPARE(worker.startLoopInThread([] {}, 60000), 1);
    std::atomic<bool> ran { false };
    QVERIFY(worker.execInThread([&] { ran = true; }));
    QTRY_VERIFY_WITH_TIMEOUT(ran.load(), kDeadline);
    QCOMPARE(log.texts(QtWarningMsg).size(), 4);
    QVERIFY(quitAndWait(worker));
}

void TestLambdaThreadWorker::movesObjectsIntoTheThread()
{
    LogCapture log;
    LambdaThreadWorker worker;
    auto* object = new QObject;
    QVERIFY(worker.moveQObjectToThread(object));
    QCOMPARE(object->thread(), worker.getThread());
    std::atomic<QThread*> ranOn { nullptr };
    QMetaObject::invokeMethod(object, [&] { ranOn = QThread::currentThread(); });
    QTRY_COMPARE_WITH_TIMEOUT(ranOn.load(), worker.getThread(), kDeadline);

    QVERIFY(!worker.moveQObjectToThread(nullptr));
    QCOMPARE(log.count("LambdaThreadWorker::moveQObjectToThread : Null object."), 1);
    QObject parent;
    auto* child = new QObject(&parent);
    QVERIFY(!worker.moveQObjectToThread(child));
    QCOMPARE(child->thread(), QThread::currentThread());

    // The moved object is the holder's to delete, on its new thread.
    QVERIFY(worker.execInThread([object] { delete object; }));
    QVERIFY(quitAndWait(worker));
}

void TestLambdaThreadWorker::workerObjectCountsAndRunsCalls()
{
    LambdaThreadWorkerObjectData object;
    QSignalSpy drained(&object, &LambdaThreadWorkerObjectData::finishedProcessingCallbacks);
    QCOMPARE(object.incrementCallbackCount(), 1);
    QCOMPARE(object.incrementCallbackCount(), 2);
    QCOMPARE(object.decrementCallbackCount(), 1);
    QCOMPARE(drained.count(), 0);
    QCOMPARE(object.decrementCallbackCount(), 0);
    QCOMPARE(drained.count(), 1);

    // A call event runs its function and counts it done.
    int ran = 0;
    object.incrementCallbackCount();
    LambdaThreadWorkerDataEvent call;
    QCOMPARE(int(call.type()), 1666);
    call.function = [&] { ++ran; };
    QVERIFY(QCoreApplication::sendEvent(&object, &call));
    QCOMPARE(ran, 1);
    QCOMPARE(drained.count(), 2);

    // A timer event of a timer that drives no loop is ignored.
    QTimerEvent stray(4242);
    QCoreApplication::sendEvent(&object, &stray);
    const int timerId = object.startLoop(1, [&] { ++ran; });
    QVERIFY(timerId != 0);
    QTRY_VERIFY_WITH_TIMEOUT(ran >= 3, kDeadline);
    object.stopLoop(timerId);
    const int atStop = ran;
    QTimerEvent late(timerId);
    QCoreApplication::sendEvent(&object, &late);
    QTest::qWait(50);
    QCOMPARE(ran, atStop);
}

QTEST_GUILESS_MAIN(TestLambdaThreadWorker)
#include "tst_LambdaThreadWorker.moc"

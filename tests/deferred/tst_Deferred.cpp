#include "Deferred.h"
#include "DeferredDataBase.h"
#include "DeferredProxyEvent.h"

#include "LogCapture.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>
#include <utility>

namespace {

// Counts live instances, to see when a deferred's stored values are released.
struct Tracked
{
    static std::atomic<int> alive;
    int value = 0;
    explicit Tracked(int v = 0) { value = v, ++alive; }
    Tracked(const Tracked& o) { value = o.value, ++alive; }
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() { --alive; }
};
std::atomic<int> Tracked::alive { 0 };

// A thread with a running event loop, for callbacks registered outside the main thread.
class WorkerThread
{
public:
    WorkerThread()
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }
    ~WorkerThread() { m_thread.quit(), m_thread.wait(); }
    // Runs f on the worker thread and waits for it.
    void run(const std::function<void()>& f) { QMetaObject::invokeMethod(&m_context, f, Qt::BlockingQueuedConnection); }
    QThread* thread() { return &m_thread; }

private:
    QThread m_thread;
    QObject m_context;
};

using PostPoint = DeferredDataBase::PostPoint;

// Holds the thread that posts to one target thread at one point of its post, until let go.
struct PostGate
{
    static inline std::atomic<QThread*> target { nullptr };
    static inline std::atomic<PostPoint> at { PostPoint::Lookup };
    static inline QSemaphore reached { 0 }, go { 0 };
    static void hook(QThread* thread, PostPoint point)
    {
        if (thread == target && point == at) {
            reached.release();
            go.acquire();
        }
    }
};

const QString kResolveWarning = QStringLiteral("Cannot resolve already processed deferred object.");
const QString kRejectWarning = QStringLiteral("Cannot reject already processed deferred object.");
const QString kNotifyWarning = QStringLiteral("Cannot notify already processed deferred object.");

} // namespace

class TestDeferred : public QObject
{
    Q_OBJECT

private slots:
    void settlesOnlyOnce()
    {
        LogCapture log;
        Deferred<int, QJsonValue> d;
        QList<int> doneValues, progress;
        int failCalls = 0;
        d.done([&](int code, const QJsonValue&) { doneValues << code; }).fail([&](int, QJsonValue) { ++failCalls; });
        d.progress([&](int p, QJsonValue) { progress << p; });
        d.notify(10, QJsonValue());
        d.resolve(200, QJsonObject { { "k", 1 } });
        d.resolve(500, QJsonValue(QStringLiteral("second")));
        d.reject(404, QJsonValue());
        d.rejectZero();
        d.notify(50, QJsonValue());

        QCOMPARE(doneValues, QList<int> { 200 });
        QCOMPARE(progress, QList<int> { 10 });
        QCOMPARE(failCalls, 0);
        QCOMPARE(log.count(kResolveWarning), 1);
        QCOMPARE(log.count(kRejectWarning), 2);
        QCOMPARE(log.count(kNotifyWarning), 1);

        // The first values stay: a late done gets them at once.
        int late = 0;
        d.done([&](int code, QJsonValue) { late = code; });
        QCOMPARE(late, 200);

        // On a rejected handle fail runs at once with the values, never on one rejected
        // without values, where failZero does; done never runs on either.
        Deferred<int, QJsonValue> rejected, zero;
        rejected.reject(7, QJsonValue());
        zero.rejectZero();
        int immediate = 0;
        bool valueFail = false, zeroFail = false, doneRan = false;
        rejected.fail([&](int code, QJsonValue) { immediate = code; });
        zero.fail([&](int, QJsonValue) { valueFail = true; });
        zero.failZero([&] { zeroFail = true; });
        for (auto* h : { &rejected, &zero })
            h->done([&](int, QJsonValue) { doneRan = true; }).doneZero([&] { doneRan = true; });
        QCOMPARE(immediate, 7);
        QVERIFY(!valueFail && zeroFail && !doneRan);
        QCOMPARE(zero.state(), 2);
    }

    void valueCallbacksRunBeforeZeroArgumentOnes()
    {
        QStringList order;
        Deferred<QString> d;
        d.doneZero([&] { order << "zero1"; });
        d.done([&](QString) { order << "value1"; });
        d.doneZero([&] { order << "zero2"; });
        d.done([&](QString) { order << "value2"; });
        d.resolve("x");
        QCOMPARE(order, (QStringList { "value1", "value2", "zero1", "zero2" }));
    }

    void connectionTypesDecideDelivery()
    {
        QStringList order;
        Deferred<int> d;
        d.done([&](int) { order << "queued"; }, Qt::QueuedConnection);
        d.done([&](int) { order << "direct"; }, Qt::DirectConnection);
        d.done([&](int) { order << "auto"; }, Qt::AutoConnection);
        LogCapture log;
        d.done([&](int) { order << "blocking"; }, Qt::BlockingQueuedConnection);
        d.done([&](int) { order << "unique"; }, Qt::UniqueConnection);
        QCOMPARE(log.texts(QtWarningMsg).size(), 2);

        d.resolve(1);
        order << "returned";
        QCOMPARE(order, (QStringList { "direct", "auto", "returned" }));
        QTRY_COMPARE(order, (QStringList { "direct", "auto", "returned", "queued" }));
        QCoreApplication::processEvents();
        QCOMPARE(order.size(), 4); // the skipped types never run

        // A callback registered on a settled handle runs at once whatever its type.
        bool ran = false;
        d.done([&](int) { ran = true; }, Qt::QueuedConnection);
        QVERIFY(ran);
    }

    void callbacksRunInTheRegisteringThread()
    {
        WorkerThread worker;
        Deferred<QString> d;
        Deferred<int> p;
        QThread *autoThread = nullptr, *directThread = nullptr, *zeroThread = nullptr;
        std::atomic<int> calls { 0 };
        QList<int> seen;
        worker.run([&] {
            d.done([&](QString) { autoThread = QThread::currentThread(), ++calls; });
            d.done([&](QString) { directThread = QThread::currentThread(), ++calls; }, Qt::DirectConnection);
            d.doneZero([&] { zeroThread = QThread::currentThread(), ++calls; });
            // Progress is posted the same way, with the values of each notify.
            p.progress([&](int v) { seen << (QThread::currentThread() == worker.thread() ? v : -v); });
        });
        d.resolve("from main");
        p.notify(1);
        p.notify(2);
        QCOMPARE(directThread, QThread::currentThread());
        QTRY_COMPARE(calls.load(), 3);
        QCOMPARE(autoThread, worker.thread());
        QCOMPARE(zeroThread, worker.thread());
        QTRY_COMPARE(seen, (QList<int> { 1, 2 }));
    }

    void finishedThreadDropsQueuedDelivery()
    {
        std::atomic<bool> ran { false };
        {
            Deferred<Tracked> d;
            {
                WorkerThread worker;
                worker.run([&] { d.done([&](Tracked) { ran = true; }); });
            }
            d.resolve(Tracked(5));
            QCoreApplication::processEvents();
            QVERIFY(!ran);
        }
        QCOMPARE(Tracked::alive.load(), 0);

        // A delivery posted to a thread that then finishes before running it is
        // discarded; the handle copy it held is released with it.
        {
            Deferred<Tracked> d;
            QThread thread;
            auto* context = new QObject;
            context->moveToThread(&thread);
            connect(&thread, &QThread::finished, context, &QObject::deleteLater, Qt::DirectConnection);
            thread.start();
            QMetaObject::invokeMethod(
                context, [&] { d.done([&](Tracked) { ran = true; }); }, Qt::BlockingQueuedConnection);
            // Hold the worker inside one call while the delivery is queued behind it,
            // and make that call end the thread.
            QSemaphore entered, gate;
            QMetaObject::invokeMethod(context, [&] {
                entered.release();
                gate.acquire();
                QThread::currentThread()->quit();
            });
            entered.acquire();
            d.resolve(Tracked(6));
            gate.release();
            thread.wait();
            QVERIFY(!ran);
        }
        QCOMPARE(Tracked::alive.load(), 0);

        // What the application's teardown drops from a live thread's queue at exit runs nothing:
        // the objects it would reach are gone by then.
        {
            bool undelivered = false;
            QVERIFY(DeferredDataBase::postToThread(
                QThread::currentThread(), DeferredDataBase::currentThreadGeneration(), [&] { ran = true; },
                [&] { undelivered = true; }));
            QCoreApplication::removePostedEvents(nullptr, DeferredProxyEvent::EventType);
            QVERIFY(!ran);
            QVERIFY(!undelivered);
        }
    }

    void deliveryHeldAsThreadEnds_data()
    {
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("restart");
        // The thread ends before the lookup: the delivery finds no proxy and is dropped.
        QTest::newRow("ends before the lookup") << false << false;
        // It ends and runs again with a new proxy, which the delivery must not take for its own.
        QTest::newRow("runs anew before the lookup") << false << true;
        // Once its proxy is found, the thread cannot end before the post: the proxy is still
        // there to post to, and the delivery goes with the thread.
        QTest::newRow("ends once its proxy is found") << true << false;
    }

    void deliveryHeldAsThreadEnds()
    {
        QFETCH(bool, found);
        QFETCH(bool, restart);
        std::atomic<bool> ran { false };
        {
            Deferred<Tracked> d;
            QSemaphore finishing;
            auto worker = std::make_unique<WorkerThread>();
            QThread* thread = worker->thread();
            // Connected before the registry's own handler, so it runs first.
            connect(
                thread, &QThread::finished, thread, [&finishing] { finishing.release(); }, Qt::DirectConnection);
            worker->run([&] { d.done([&](Tracked) { ran = true; }); });
            PostGate::target = thread;
            PostGate::at = found ? PostPoint::Found : PostPoint::Lookup;
            DeferredDataBase::setPostHook(&PostGate::hook);
            std::thread settler([&] { d.resolve(Tracked(7)); });
            bool held = true;
            const auto letGo = [&] {
                if (std::exchange(held, false)) {
                    PostGate::go.release();
                    settler.join();
                    DeferredDataBase::setPostHook(nullptr);
                }
            };
            const auto cleanUp = qScopeGuard(letGo);
            QVERIFY(PostGate::reached.tryAcquire(1, 10000));
            thread->quit();
            QVERIFY(finishing.tryAcquire(1, 10000));
            if (found) {
                QVERIFY2(!thread->wait(500), "the thread ended between finding its proxy and posting to it");
            } else {
                QVERIFY(thread->wait(10000));
                if (restart) {
                    thread->start();
                    worker->run([] { Deferred<>().done([] {}); });
                }
            }
            letGo();
            if (restart)
                worker->run([] {}); // behind the delivery, had it been posted
            else
                QVERIFY(thread->wait(10000));
            QCoreApplication::processEvents();
            QVERIFY(!ran);
        }
        QCOMPARE(Tracked::alive.load(), 0);
    }

    void handlesAreReleased()
    {
        // The last outside handle may go inside a callback, mid-settle.
        std::optional<Deferred<Tracked>> holder;
        holder.emplace();
        QStringList order;
        holder->done([&](Tracked t) {
            order << QString::number(t.value);
            holder.reset();
        });
        holder->done([&](Tracked t) { order << QString::number(t.value + 1); });
        holder->doneZero([&] { order << "zero"; });
        Deferred<Tracked> copy = *holder;
        holder.emplace(copy);
        copy = Deferred<Tracked>();
        holder->resolve(Tracked(1));
        QCOMPARE(order, (QStringList { "1", "2", "zero" }));
        QVERIFY(!holder.has_value());
        QCOMPARE(Tracked::alive.load(), 0);
    }

    void thenAliasFollowsTheStep()
    {
        // Pending outer: the step runs on resolution, progress of the inner handle
        // reaches the chained handle while it is pending.
        Deferred<> first;
        Deferred<int> inner;
        bool stepCalled = false;
        Deferred<int> chain2 = first.thenAlias<int>([&] {
            stepCalled = true;
            return inner;
        });
        QList<int> progress;
        int result = 0;
        chain2.progress([&](int p) { progress << p; }).done([&](int v) { result = v; });
        QVERIFY(!stepCalled);
        first.resolve();
        QVERIFY(stepCalled);
        inner.notify(30);
        inner.resolve(99);
        QCOMPARE(progress, (QList<int> { 30 }));
        QCOMPARE(result, 99);

        // Inner rejection with values reaches fail callbacks with those values, once, without warnings.
        LogCapture log;
        Deferred<int> o3;
        Deferred<QString> i3;
        QStringList failText;
        o3.thenAlias<QString>([&](int) { return i3; }).fail([&](QString e) { failText << e; });
        o3.resolve(1);
        i3.reject("boom");
        QCOMPARE(failText, QStringList { "boom" });
        QVERIFY(log.texts().isEmpty());

        // A step handle already rejected, with values or without, is passed on the same way.
        Deferred<int> o4;
        Deferred<QString> rejected, rejectedZero;
        rejected.reject("early");
        rejectedZero.rejectZero();
        int zeroFails = 0;
        o4.thenAlias<QString>([&](int) { return rejected; }).fail([&](QString e) { failText << e; });
        o4.thenAlias<QString>([&](int) { return rejectedZero; })
            .fail([&](QString) { failText << "values"; })
            .failZero([&] { ++zeroFails; });
        o4.resolve(1);
        QCOMPARE(failText, (QStringList { "boom", "early" }));
        QCOMPARE(zeroFails, 1);
    }

    void thenAliasForwardsFailures()
    {
        // An outer failure leaves the step uncalled and rejects the chained handle
        // without values: its fail callbacks do not run, its zero-argument ones do.
        Deferred<int> outer;
        bool stepCalled = false, valueFail = false, zeroFail = false;
        Deferred<int> chained = outer.thenAlias<int>([&](int) {
            stepCalled = true;
            return Deferred<int>();
        });
        chained.fail([&](int) { valueFail = true; }).failZero([&] { zeroFail = true; });
        outer.reject(5);
        QVERIFY(!stepCalled && !valueFail && zeroFail);
        QCOMPARE(chained.state(), 2);

        // The step returns a chained handle whose own outer handle then fails: the
        // rejection without values is forwarded instead of leaving the chain pending.
        Deferred<int> a, b;
        Deferred<int> innerChain = b.thenAlias<int>([](int v) {
            Deferred<int> r;
            r.resolve(v);
            return r;
        });
        Deferred<int> top = a.thenAlias<int>([&](int) { return innerChain; });
        Deferred<> joined = Deferred<>::when(QList<Deferred<int>> { top });
        a.resolve(1);
        QCOMPARE(top.state(), 0);
        LogCapture log;
        b.reject(3);
        QCOMPARE(top.state(), 2);
        QCOMPARE(joined.state(), 2);
        QVERIFY(log.texts().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDeferred)
#include "tst_Deferred.moc"

#include "Deferred.h"

#include "LogCapture.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QPointer>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {

// Counts live instances, to see when a deferred's stored values are released.
struct Tracked
{
    static std::atomic<int> alive;
    int value = 0;
    explicit Tracked(int v = 0)
        : value(v)
    {
        ++alive;
    }
    Tracked(const Tracked& o)
        : value(o.value)
    {
        ++alive;
    }
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
    ~WorkerThread()
    {
        m_thread.quit();
        m_thread.wait();
    }
    // Runs f on the worker thread and waits for it.
    void run(const std::function<void()>& f) { QMetaObject::invokeMethod(&m_context, f, Qt::BlockingQueuedConnection); }
    QThread* thread() { return &m_thread; }
    void quit()
    {
        m_thread.quit();
        m_thread.wait();
    }

private:
    QThread m_thread;
    QObject m_context;
};

const QString kResolveWarning = QStringLiteral("Cannot resolve already processed deferred object.");
const QString kRejectWarning = QStringLiteral("Cannot reject already processed deferred object.");
const QString kNotifyWarning = QStringLiteral("Cannot notify already processed deferred object.");

} // namespace

class TestDeferred : public QObject
{
    Q_OBJECT

private slots:
    void settlesOnlyOnce();
    void valueCallbacksRunBeforeZeroArgumentOnes();
    void eachCallbackGetsItsOwnCopies();
    void progressRunsWhilePendingOnly();
    void connectionTypesDecideDelivery();
    void callbacksRunInTheRegisteringThread();
    void finishedThreadDropsQueuedDelivery();
    void callbackMayReleaseTheLastHandle();
    void pendingStateIsReleasedSilently();
    void thenAliasFollowsTheStep();
    void thenAliasForwardsFailures();
    void whenJoinsMembers();
    void emptyCallablesAreIgnored();
    void exitCleanerWritesOnceAfterFirstUse();
};

void TestDeferred::settlesOnlyOnce()
{
    LogCapture log;
    Deferred<int, QJsonValue> d;
    QList<int> doneValues;
    int failCalls = 0;
    d.done([&](int code, const QJsonValue&) { doneValues << code; }).fail([&](int, QJsonValue) { ++failCalls; });

    d.resolve(200, QJsonValue(QStringLiteral("first")));
    d.resolve(500, QJsonValue(QStringLiteral("second")));
    d.reject(404, QJsonValue());
    d.rejectZero();
    d.notify(50, QJsonValue());

    QCOMPARE(doneValues, QList<int> { 200 });
    QCOMPARE(failCalls, 0);
    QCOMPARE(log.count(kResolveWarning), 1);
    QCOMPARE(log.count(kRejectWarning), 2);
    QCOMPARE(log.count(kNotifyWarning), 1);
    QCOMPARE(log.texts(QtWarningMsg).size(), 4);

    // The first values stay: a late done gets them at once.
    QString late;
    d.done([&](int, QJsonValue body) { late = body.toString(); });
    QCOMPARE(late, QStringLiteral("first"));
    QCOMPARE(d.state(), 1);

    // fail on a handle rejected with values runs at once, on one rejected
    // without values it never runs while failZero does.
    Deferred<int, QJsonValue> rejected;
    rejected.reject(7, QJsonValue());
    int immediate = 0;
    rejected.fail([&](int code, QJsonValue) { immediate = code; });
    QCOMPARE(immediate, 7);

    Deferred<int, QJsonValue> zero;
    zero.rejectZero();
    bool valueFail = false, zeroFail = false;
    zero.fail([&](int, QJsonValue) { valueFail = true; });
    zero.failZero([&] { zeroFail = true; });
    QVERIFY(!valueFail);
    QVERIFY(zeroFail);
    QCOMPARE(zero.state(), 2);
}

void TestDeferred::valueCallbacksRunBeforeZeroArgumentOnes()
{
    QStringList order;
    Deferred<QString> d;
    d.doneZero([&] { order << "zero1"; });
    d.done([&](QString) { order << "value1"; });
    d.doneZero([&] { order << "zero2"; });
    d.done([&](QString) { order << "value2"; });
    d.resolve("x");
    QCOMPARE(order, (QStringList { "value1", "value2", "zero1", "zero2" }));

    // The same rule for Deferred<>, whose value callbacks take no arguments either.
    order.clear();
    Deferred<> e;
    e.failZero([&] { order << "zero"; });
    e.fail([&] { order << "value"; });
    e.done([&] { order << "done"; });
    e.reject();
    QCOMPARE(order, (QStringList { "value", "zero" }));
}

void TestDeferred::eachCallbackGetsItsOwnCopies()
{
    Deferred<int, QJsonValue> d;
    QJsonValue seenBySecond;
    int codeSeenBySecond = 0;
    d.done([](int code, QJsonValue body) {
        code = -1;
        body = QJsonValue(QStringLiteral("changed"));
        Q_UNUSED(code);
        Q_UNUSED(body);
    });
    d.done([&](int code, QJsonValue body) {
        codeSeenBySecond = code;
        seenBySecond = body;
    });
    d.resolve(201, QJsonObject { { "k", 1 } });
    QCOMPARE(codeSeenBySecond, 201);
    QCOMPARE(seenBySecond.toObject().value("k").toInt(), 1);
}

void TestDeferred::progressRunsWhilePendingOnly()
{
    Deferred<int, QJsonValue> d;
    QList<int> first, second;
    d.progress([&](int p, QJsonValue) { first << p; });
    d.progress([&](int p, QJsonValue text) {
        QCOMPARE(first.last(), p); // registration order
        QCOMPARE(text.toString(), QStringLiteral("Downloaded"));
        second << p;
    });
    d.notify(10, QJsonValue(QStringLiteral("Downloaded")));
    d.notify(60, QJsonValue(QStringLiteral("Downloaded")));
    d.resolve(200, QJsonValue());
    LogCapture log;
    d.notify(90, QJsonValue(QStringLiteral("Downloaded")));
    QCOMPARE(first, (QList<int> { 10, 60 }));
    QCOMPARE(second, (QList<int> { 10, 60 }));
    QCOMPARE(log.count(kNotifyWarning), 1);
}

void TestDeferred::connectionTypesDecideDelivery()
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
    QVERIFY(log.texts(QtWarningMsg).first().contains("never run"));

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

void TestDeferred::callbacksRunInTheRegisteringThread()
{
    WorkerThread worker;
    Deferred<QString> d;
    QThread* autoThread = nullptr;
    QThread* directThread = nullptr;
    QThread* zeroThread = nullptr;
    std::atomic<int> calls { 0 };
    worker.run([&] {
        d.done([&](QString) {
            autoThread = QThread::currentThread();
            ++calls;
        });
        d.done(
            [&](QString) {
                directThread = QThread::currentThread();
                ++calls;
            },
            Qt::DirectConnection);
        d.doneZero([&] {
            zeroThread = QThread::currentThread();
            ++calls;
        });
    });
    d.resolve("from main");
    QCOMPARE(directThread, QThread::currentThread());
    QTRY_COMPARE(calls.load(), 3);
    QCOMPARE(autoThread, worker.thread());
    QCOMPARE(zeroThread, worker.thread());

    // Progress is posted the same way, with the values of each notify.
    Deferred<int> p;
    QList<int> seen;
    QMutex mutex;
    worker.run([&] {
        p.progress([&](int v) {
            QMutexLocker lock(&mutex);
            QCOMPARE(QThread::currentThread(), worker.thread());
            seen << v;
        });
    });
    p.notify(1);
    p.notify(2);
    QTRY_COMPARE(seen, (QList<int> { 1, 2 }));
}

void TestDeferred::finishedThreadDropsQueuedDelivery()
{
    std::atomic<bool> ran { false };
    {
        Deferred<Tracked> d;
        {
            WorkerThread worker;
            worker.run([&] { d.done([&](Tracked) { ran = true; }); });
            worker.quit();
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
}

void TestDeferred::callbackMayReleaseTheLastHandle()
{
    std::optional<Deferred<Tracked>> holder;
    holder.emplace();
    QStringList order;
    holder->done([&](Tracked t) {
        order << QString::number(t.value);
        holder.reset(); // the last outside handle goes away mid-settle
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

void TestDeferred::pendingStateIsReleasedSilently()
{
    LogCapture log;
    bool ran = false;
    {
        Deferred<Tracked> d;
        d.done([&](Tracked) { ran = true; });
        d.fail([&](Tracked) { ran = true; });
    }
    QVERIFY(!ran);
    QVERIFY(log.texts().isEmpty());
    QCOMPARE(Tracked::alive.load(), 0);
}

void TestDeferred::thenAliasFollowsTheStep()
{
    // Outer already resolved and step returning a resolved handle: the chained
    // handle is settled before thenAlias returns.
    Deferred<int> outer;
    outer.resolve(2);
    int stepArg = 0;
    Deferred<QString> chained = outer.thenAlias<QString>([&](int v) {
        stepArg = v;
        Deferred<QString> inner;
        inner.resolve(QString::number(v * 10));
        return inner;
    });
    QCOMPARE(stepArg, 2);
    QCOMPARE(chained.state(), 1);
    QString got;
    chained.done([&](QString s) { got = s; });
    QCOMPARE(got, QStringLiteral("20"));

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
    inner.notify(70);
    inner.resolve(99);
    QCOMPARE(progress, (QList<int> { 30, 70 }));
    QCOMPARE(result, 99);

    // Inner rejection with values reaches fail callbacks with those values.
    Deferred<int> o3;
    Deferred<QString> i3;
    QString failText;
    o3.thenAlias<QString>([&](int) { return i3; }).fail([&](QString e) { failText = e; });
    o3.resolve(1);
    i3.reject("boom");
    QCOMPARE(failText, QStringLiteral("boom"));

    // A step handle already rejected, with values or without, is passed on the same way.
    Deferred<int> o4;
    Deferred<QString> rejected, rejectedZero;
    rejected.reject("early");
    rejectedZero.rejectZero();
    int zeroFails = 0;
    o4.thenAlias<QString>([&](int) { return rejected; }).fail([&](QString e) { failText = e; });
    o4.thenAlias<QString>([&](int) { return rejectedZero; }).fail([&](QString) { failText = "values"; }).failZero([&] {
        ++zeroFails;
    });
    o4.resolve(1);
    QCOMPARE(failText, QStringLiteral("early"));
    QCOMPARE(zeroFails, 1);
}

void TestDeferred::thenAliasForwardsFailures()
{
    // An outer failure leaves the step uncalled and rejects the chained handle
    // without values: its fail callbacks do not run, its zero-argument ones do.
    Deferred<int> outer;
    bool stepCalled = false;
    Deferred<int> chained = outer.thenAlias<int>([&](int) {
        stepCalled = true;
        return Deferred<int>();
    });
    bool valueFail = false, zeroFail = false;
    int outerFailValue = 0;
    chained.fail([&](int) { valueFail = true; });
    chained.failZero([&] { zeroFail = true; });
    outer.fail([&](int v) { outerFailValue = v; });
    outer.reject(5);
    QVERIFY(!stepCalled);
    QVERIFY(!valueFail);
    QVERIFY(zeroFail);
    QCOMPARE(outerFailValue, 5);
    QCOMPARE(chained.state(), 2);

    // The step returns a chained handle whose own outer handle then fails: the
    // rejection without values is forwarded instead of leaving the chain pending.
    Deferred<int> a;
    Deferred<int> b;
    Deferred<int> innerChain = b.thenAlias<int>([](int v) {
        Deferred<int> r;
        r.resolve(v);
        return r;
    });
    Deferred<int> top = a.thenAlias<int>([&](int) { return innerChain; });
    bool topZeroFail = false;
    top.failZero([&] { topZeroFail = true; });
    Deferred<> joined = Deferred<>::when(QList<Deferred<int>> { top });
    bool joinFailed = false;
    joined.fail([&] { joinFailed = true; });
    a.resolve(1);
    QCOMPARE(top.state(), 0);
    LogCapture log;
    b.reject(3);
    QCOMPARE(top.state(), 2);
    QVERIFY(topZeroFail);
    QVERIFY(joinFailed);
    QVERIFY(log.texts().isEmpty());

    // A chain whose inner handle rejects with values settles once, without warnings.
    Deferred<> c;
    Deferred<> ci;
    Deferred<> cchain = c.thenAlias<>([&] { return ci; });
    int fails = 0;
    cchain.fail([&] { ++fails; });
    c.resolve();
    ci.reject();
    QCOMPARE(fails, 1);
    QVERIFY(log.texts().isEmpty());
}

void TestDeferred::whenJoinsMembers()
{
    // Resolves once, on the last member, in any order.
    QList<Deferred<QString>> members { Deferred<QString>(), Deferred<QString>(), Deferred<QString>() };
    Deferred<> joined = Deferred<>::when(members);
    int done = 0;
    joined.done([&] { ++done; });
    members[2].resolve("c");
    members[0].resolve("a");
    QCOMPARE(done, 0);
    members[1].resolve("b");
    QCOMPARE(done, 1);

    // Two rejections reject the join once, without warnings.
    LogCapture log;
    QList<Deferred<QString>> failing { Deferred<QString>(), Deferred<QString>(), Deferred<QString>() };
    Deferred<> j2 = Deferred<>::when(failing);
    int fails = 0;
    j2.fail([&] { ++fails; });
    failing[1].reject("x");
    failing[0].reject("y");
    failing[2].resolve("z");
    QCOMPARE(fails, 1);
    QCOMPARE(j2.state(), 2);
    QVERIFY(log.texts().isEmpty());

    // Already resolved members give an already resolved join.
    QList<Deferred<QString>> ready { Deferred<QString>(), Deferred<QString>() };
    ready[0].resolve("a");
    ready[1].resolve("b");
    QCOMPARE(Deferred<>::when(ready).state(), 1);

    // A handle listed twice counts twice.
    Deferred<QString> twice;
    Deferred<> j3 = Deferred<>::when(QList<Deferred<QString>> { twice, twice });
    twice.resolve("t");
    QCOMPARE(j3.state(), 1);

    // An empty list resolves at once instead of never.
    Deferred<> empty = Deferred<>::when(QList<Deferred<QString>> {});
    QCOMPARE(empty.state(), 1);
}

void TestDeferred::emptyCallablesAreIgnored()
{
    Deferred<int> d;
    d.done(std::function<void(int)>());
    d.fail(std::function<void(int)>());
    d.doneZero(std::function<void()>());
    d.resolve(1);
    QCOMPARE(d.state(), 1);
}

void TestDeferred::exitCleanerWritesOnceAfterFirstUse()
{
    auto runProbe = [](const QString& mode) {
        QProcess probe;
        probe.setProcessChannelMode(QProcess::MergedChannels);
        probe.start(QCoreApplication::applicationFilePath(), { mode });
        if (!probe.waitForFinished(10000))
            return QString();
        return QString::fromUtf8(probe.readAll());
    };
    const QString used = runProbe(QStringLiteral("--exit-probe-register"));
    QCOMPARE(used.count(QStringLiteral("DeferredDataBase was deleted.")), 1);
    const QString unused = runProbe(QStringLiteral("--exit-probe-idle"));
    QVERIFY2(!unused.contains(QStringLiteral("DeferredDataBase")), qPrintable(unused));
}

int main(int argc, char** argv)
{
    // Child modes for the exit-cleaner test: the process ends right after.
    if (argc > 1 && qstrcmp(argv[1], "--exit-probe-register") == 0) {
        Deferred<int> d;
        d.done([](int) {});
        d.resolve(1);
        return 0;
    }
    if (argc > 1 && qstrcmp(argv[1], "--exit-probe-idle") == 0) {
        Deferred<int> d;
        d.resolve(1);
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestDeferred test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Deferred.moc"

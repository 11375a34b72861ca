// Blacklist sync of a large list through the back-office client (HTTPS from the
// simulator, JSON, one SQL transaction) beside the sqlite3 command line inserting
// the same uids in one transaction; the send queue's accepted transactions per
// second with synchronous=FULL beside bare prepared inserts of the same rows; the
// longest the main (GUI) thread cannot look at its events while a backlog drains, beside
// the same figure for a queue that holds one row at each send; the main thread's CPU time
// per back-office request on a new TLS connection, beside the same request on a kept one;
// and the resident memory after many heartbeats, each on a new TLS connection, beside that
// after the first 100, with heartbeats one after the other, back to back (each started from
// the callback of the one before) and four at a time, and after a backlog drained beside
// before it; and the time from the update service's last message (many download percentages,
// then the outcome) to the back office's answer to the outcome, beside the outcome alone with
// nothing waiting, with a back office that answers at once and one that answers in 200 ms. The
// servers that the thread figures are taken against run on threads of their own, so that only the
// client's work is counted.

#include "../tests/backend/BackendRig.h"
#include "PeakMemory.h"
#include "SqlDatabase.h"
#include "TlsTestServer.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <vector>

using Backend::Transaction;

namespace {

int g_uids = 100000;
int g_backlog = 10000;
int g_heartbeats = 20000;
int g_calls = 1000;
int g_percentages = 200;
BackendRig* g_rig = nullptr;
QStringList g_list;

void clearBlacklist(SqlDatabase& sql)
{
    QSqlQuery(sql.database()).exec("DELETE FROM Blacklist");
}

void BM_BlacklistSync(benchmark::State& state)
{
    Backend::CardBO& bo = g_rig->client();
    for (auto _ : state) {
        state.PauseTiming();
        clearBlacklist(g_rig->db->sql());
        state.ResumeTiming();
        QEventLoop loop;
        bool ok = false;
        bo.updateBlacklist("v1")
            .fail([&] { loop.quit(); })
            .done([&] {
                ok = true;
                loop.quit();
            });
        loop.exec();
        if (!ok || g_rig->db->blacklistCount() != g_uids)
            state.SkipWithError("sync failed");
    }
}

void BM_BlacklistApply(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        clearBlacklist(g_rig->db->sql());
        state.ResumeTiming();
        if (!g_rig->db->blacklistApply(g_list, {}))
            state.SkipWithError("apply failed");
    }
}

void BM_Sqlite3CliBulkInsert(benchmark::State& state)
{
    const QString db = g_rig->dir() + "/cli.db";
    const QString script = g_rig->dir() + "/bulk.sql";
    QFile file(script);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write("BEGIN;\n");
    for (const QString& uid : g_list)
        file.write("INSERT INTO Blacklist (uid) VALUES ('" + uid.toLatin1() + "');\n");
    file.write("COMMIT;\n");
    file.close();
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(db);
        QProcess::execute("sqlite3", { db, "CREATE TABLE Blacklist (uid     TEXT,PRIMARY KEY (uid))" });
        state.ResumeTiming();
        QProcess process;
        process.setStandardInputFile(script);
        process.start("sqlite3", { db });
        if (!process.waitForFinished(120000) || process.exitCode() != 0)
            state.SkipWithError("sqlite3 failed (is the sqlite3 package installed?)");
    }
}

void BM_QueueAccept(benchmark::State& state)
{
    // With no answer coming, the first record holds the send lock and every later
    // call only stores its record: what is measured is the acceptance.
    g_rig->config->set("card-bo/url", "https://127.0.0.1:9");
    Backend::CardBO& bo = g_rig->client();
    for (auto _ : state)
        bo.sendTransaction(Transaction::create(Transaction::Issuance, "SN-0001", "CARD"));
    state.SetItemsProcessed(state.iterations());
    g_rig->config->set("card-bo/url", g_rig->sim.url());
}

void BM_PreparedInsertFull(benchmark::State& state)
{
    QSqlQuery q(g_rig->db->sql().database());
    q.prepare("INSERT INTO Transactions (type, uuid, timestamp, deviceSerial, cardUid, morvaDbId, errorDetails, "
              "sendDate, sendSchedDate, sendStatus, sendAttempts, respStatus, respData) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
              "?, ?, ?, ?, ?)");
    for (auto _ : state) {
        const Transaction::Ptr t = Transaction::create(Transaction::Issuance, "SN-0001", "CARD");
        const QVariantList values { "ISSUANCE", t->uuid(), t->timestamp().toString(Qt::ISODate), "SN-0001", "CARD", "0",
            "", QVariant(QVariant::String), t->timestamp().toString(Qt::ISODate), "PENDING", 0, 0,
            QVariant(QVariant::ByteArray) };
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values.at(i));
        if (!q.exec())
            state.SkipWithError("insert failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// The longest stretch the calling thread could not look at its events, whatever held it
// (socket, timer, posted or database work): a 1 ms precise timer on that thread, and how
// late it fires.
class StretchProbe
{
public:
    StretchProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(IntervalMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { fired(); });
    }
    void start()
    {
        m_last.start();
        m_timer.start();
    }
    void stop()
    {
        fired();
        m_timer.stop();
    }
    double worstMs() const { return m_worst; }
    // Stretches longer than a frame at 60 Hz, and longer than 50 ms.
    int overFrame() const { return m_overFrame; }
    int over50() const { return m_over50; }

private:
    static constexpr int IntervalMs = 1;

    void fired()
    {
        const double late = m_last.nsecsElapsed() / 1e6 - IntervalMs;
        m_last.restart();
        m_worst = std::max(m_worst, late);
        m_overFrame += late > 16.7;
        m_over50 += late > 50;
    }

    QTimer m_timer;
    QElapsedTimer m_last;
    double m_worst = 0;
    int m_overFrame = 0;
    int m_over50 = 0;
};

void reportStretches(benchmark::State& state, const StretchProbe& probe)
{
    state.counters["worstStretchMs"] = probe.worstMs();
    state.counters["stretchesOver16.7ms"] = probe.overFrame();
    state.counters["stretchesOver50ms"] = probe.over50();
}

// CPU time of the calling thread alone, in ms.
double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Queues rows due now, in one SQL transaction.
void queueRows(int rows)
{
    QSqlDatabase db = g_rig->db->sql().database();
    db.transaction();
    for (int i = 0; i < rows; ++i)
        g_rig->db->transAdd(Transaction::create(Transaction::Issuance, "SN-0001", "CARD"));
    db.commit();
}

// Runs the event loop until every row is sent.
void drain(Backend::CardBO& bo)
{
    bo.processPendingTransactions();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!bo.sendInFlight())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

void BM_SendStall(benchmark::State& state)
{
    // Plain HTTP on a kept connection: what remains per send is the client's own work.
    TlsTestServer server;
    server.setKeepAlive(true);
    server.setHandler([](const TlsTestServer::Request&) { return TlsTestServer::json(201, "Created", "{}"); });
    if (!server.startInThread())
        return state.SkipWithError("no server");
    g_rig->config->set("card-bo/url", server.url(QString()));
    Backend::CardBO& bo = g_rig->client();
    QSqlQuery(g_rig->db->sql().database()).exec("DELETE FROM Transactions");
    const bool backlog = state.range(0) > 1;
    // The process's first request loads TLS and opens the connection: not a send's cost.
    queueRows(1);
    drain(bo);
    StretchProbe probe;
    for (auto _ : state) {
        if (backlog) {
            state.PauseTiming();
            queueRows(g_backlog);
            state.ResumeTiming();
            probe.start();
            drain(bo);
            probe.stop();
        } else {
            // As many sends as the backlog has, each with the queue holding only that row.
            for (int i = 0; i < g_backlog; ++i) {
                queueRows(1);
                probe.start();
                drain(bo);
                probe.stop();
            }
        }
        if (g_rig->db->transCount("PENDING") != 0)
            state.SkipWithError("rows left unsent");
    }
    reportStretches(state, probe);
    state.counters["sends"] = double(server.requests().size() - 1);
    g_rig->config->set("card-bo/url", g_rig->sim.url());
}

void BM_GuiThreadCpu(benchmark::State& state, bool fresh)
{
    // Heartbeats awaited one after the other, against a server as the back office is (TLS
    // 1.2, a client certificate required) that closes each connection after its reply, or
    // keeps it. Once measured for the thread's CPU time alone, once with the probe running.
    TlsTestServer server;
    server.setCertificate(g_rig->certs.serverCert(), g_rig->certs.serverKey());
    server.setCaCertificate(g_rig->certs.caCert());
    server.setRequireClientCertificate(true);
    server.setProtocol(QSsl::TlsV1_2);
    server.setKeepAlive(!fresh);
    server.setHandler([](const TlsTestServer::Request&) { return TlsTestServer::json(200, "OK", "{}"); });
    if (!server.startInThread())
        return state.SkipWithError("no server");
    g_rig->config->set("card-bo/url", server.url(QString()));
    Backend::CardBO& bo = g_rig->client();
    int failures = 0;
    const auto run = [&](int calls) {
        for (int i = 0; i < calls; ++i) {
            QEventLoop loop;
            bo.heartbeat().done([&] { loop.quit(); }).fail([&] {
                ++failures;
                loop.quit();
            });
            loop.exec();
        }
    };
    // The first calls load TLS and open the kept connection: not a call's cost.
    run(10);
    StretchProbe probe;
    double cpu = 0;
    for (auto _ : state) {
        const double start = threadCpuMs();
        run(g_calls);
        cpu = threadCpuMs() - start;
        probe.start();
        run(g_calls);
        probe.stop();
    }
    state.counters["guiCpuMsPerCall"] = cpu / g_calls;
    reportStretches(state, probe);
    state.counters["calls"] = double(server.requests().size() - 10);
    g_rig->config->set("card-bo/url", g_rig->sim.url());
    if (failures > 0)
        state.SkipWithError("heartbeats failed");
}

// While it lives, the simulator keeps no record of the requests it answers, so that what
// grows is the client's; counts the transactions it received.
class SimForgets
{
public:
    SimForgets()
    {
        const auto forget = [this](const BackOfficeSim::Entry& entry) {
            transactions += entry.path.endsWith(QLatin1String("/transaction"));
            g_rig->sim.clearJournal();
            g_rig->sim.clearTransactions();
        };
        m_connection = QObject::connect(&g_rig->sim, &BackOfficeSim::requestHandled, forget);
    }
    ~SimForgets() { QObject::disconnect(m_connection); }
    int transactions = 0;

private:
    QMetaObject::Connection m_connection;
};

void BM_HeartbeatMemory(benchmark::State& state, int parallel)
{
    // The simulator closes every connection: each heartbeat is a new TLS connection with a
    // full handshake. What the client keeps of them must not grow with their number. With
    // no parallel calls each heartbeat is awaited alone; else each starts the next from its
    // own callback, as the send queue does, with that many in flight.
    Backend::CardBO& bo = g_rig->client();
    g_rig->db->setParam(QStringLiteral("blacklistVer"), QStringLiteral("v1"));
    SimForgets forgets;
    int failures = 0;
    const auto run = [&](int calls) {
        int started = 0;
        int ended = 0;
        QEventLoop loop;
        std::function<void()> start;
        const auto end = [&] {
            ++ended;
            if (parallel > 0 && started < calls)
                start();
            else if (parallel == 0 || ended == calls)
                loop.quit();
        };
        start = [&] {
            ++started;
            bo.heartbeat().done(end).fail([&] {
                ++failures;
                end();
            });
        };
        while (started < calls) {
            for (int i = 0; i < std::max(1, parallel) && started < calls; ++i)
                start();
            loop.exec();
        }
    };
    const int first = std::min(100, g_heartbeats);
    double before = 0;
    double after = 0;
    for (auto _ : state) {
        run(first);
        before = testsupport::residentMemoryKiB() / 1024.0;
        run(g_heartbeats - first);
        after = testsupport::residentMemoryKiB() / 1024.0;
    }
    state.counters["rssAfter100MiB"] = before;
    state.counters["rssAfterAllMiB"] = after;
    state.counters["growthMiB"] = after - before;
    if (failures > 0)
        state.SkipWithError("heartbeats failed");
}

void BM_DrainMemory(benchmark::State& state)
{
    // The queue drains a backlog over a new TLS connection for each row, each send started
    // from the callback of the one before; then one heartbeat.
    Backend::CardBO& bo = g_rig->client();
    g_rig->db->setParam(QStringLiteral("blacklistVer"), QStringLiteral("v1"));
    QSqlQuery(g_rig->db->sql().database()).exec("DELETE FROM Transactions");
    SimForgets forgets;
    const int first = std::min(100, g_backlog);
    queueRows(first);
    drain(bo);
    double before = 0;
    double drained = 0;
    double beaten = 0;
    double peak = 0;
    bool beat = false;
    for (auto _ : state) {
        state.PauseTiming();
        queueRows(g_backlog);
        before = testsupport::residentMemoryKiB() / 1024.0;
        testsupport::resetPeakMemory();
        state.ResumeTiming();
        drain(bo);
        drained = testsupport::residentMemoryKiB() / 1024.0;
        peak = testsupport::peakMemoryKiB() / 1024.0;
        QEventLoop loop;
        bo.heartbeat()
            .done([&] {
                beat = true;
                loop.quit();
            })
            .fail([&] { loop.quit(); });
        loop.exec();
        beaten = testsupport::residentMemoryKiB() / 1024.0;
    }
    state.counters["rssBeforeMiB"] = before;
    state.counters["rssAfterDrainMiB"] = drained;
    state.counters["rssAfterHeartbeatMiB"] = beaten;
    state.counters["growthMiB"] = drained - before;
    state.counters["peakGrowthMiB"] = peak - before;
    if (!beat || forgets.transactions != first + g_backlog || g_rig->db->transCount("PENDING") != 0)
        state.SkipWithError("rows left unsent, sent twice, or the heartbeat failed");
}

// Reports as the relay makes them from the update service's messages, each in a pass of the
// event loop of its own as the messages come in: download percentages (when asked), then the
// outcome. Milliseconds from the outcome's report until the back office's answer to it is in.
double outcomeMs(Backend::CardBO& bo, int percentages)
{
    QEventLoop loop;
    QElapsedTimer clock;
    int made = 0;
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        if (made < percentages) {
            ++made;
            emit g_rig->terminal.updateProgress(QStringLiteral("Downloading"), made * 100 / (percentages + 1));
        } else if (!clock.isValid()) {
            clock.start();
            emit g_rig->terminal.updateProgress(QStringLiteral("Updated"), 100);
        } else if (!bo.progressSending() && bo.progressWaiting() == 0) {
            loop.quit();
        }
    });
    pace.start(0);
    loop.exec();
    return clock.nsecsElapsed() / 1e6;
}

void BM_OutcomeLatency(benchmark::State& state, int answerMs)
{
    Backend::CardBO& bo = g_rig->client();
    g_rig->sim.clearJournal();
    // The first report opens the TLS connection: not the queue's cost.
    outcomeMs(bo, 0);
    if (answerMs > 0)
        g_rig->sim.script("operation/status", ScriptedReply::delayed(answerMs), -1);
    double queued = 0;
    double alone = 0;
    for (auto _ : state) {
        const double ms = outcomeMs(bo, g_percentages);
        state.SetIterationTime(ms / 1e3);
        queued += ms;
        alone += outcomeMs(bo, 0);
    }
    g_rig->sim.clearScripts();
    const double runs = double(state.iterations());
    state.counters["outcomeMs"] = queued / runs;
    state.counters["aloneBaselineMs"] = alone / runs;
    state.counters["ratio"] = alone > 0 ? queued / alone : 0;
    const QList<BackOfficeSim::Entry> answered = g_rig->sim.answered("operation/status");
    if (answered.isEmpty() || !answered.last().query.endsWith(QLatin1String("operation=Updated")))
        state.SkipWithError("the outcome was not the last report answered");
    g_rig->sim.clearJournal();
}

} // namespace

int main(int argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--uids=", 7) == 0)
            g_uids = atoi(argv[i] + 7);
        else if (strncmp(argv[i], "--backlog=", 10) == 0)
            g_backlog = atoi(argv[i] + 10);
        else if (strncmp(argv[i], "--heartbeats=", 13) == 0)
            g_heartbeats = atoi(argv[i] + 13);
        else if (strncmp(argv[i], "--calls=", 8) == 0)
            g_calls = atoi(argv[i] + 8);
        else if (strncmp(argv[i], "--percentages=", 14) == 0)
            g_percentages = atoi(argv[i] + 14);
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    QCoreApplication app(argc, argv);
    // Debug lines of every statement would be measured too.
    QLoggingCategory::setFilterRules("*.debug=false\n*.info=false\n*.warning=false");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    BackendRig rig;
    if (!rig.setUp()) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(rig.error()));
        return 1;
    }
    g_rig = &rig;
    rig.sim.setApiKey(QString());
    for (int i = 0; i < g_uids; ++i)
        g_list.append(QStringLiteral("04%1").arg(i, 12, 16, QLatin1Char('0')).toUpper());
    rig.sim.setBlacklist("v1", g_list);

    const QString uids = QString::number(g_uids);
    benchmark::RegisterBenchmark(qPrintable("BlacklistSync/CardBO/" + uids), BM_BlacklistSync)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("BlacklistSync/DatabaseApplyOnly/" + uids), BM_BlacklistApply)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("BlacklistSync/Sqlite3CliBaseline/" + uids), BM_Sqlite3CliBulkInsert)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("QueueAccept/CardBO/syncFull", BM_QueueAccept)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("QueueAccept/PreparedInsertBaseline/syncFull", BM_PreparedInsertFull)
        ->UseRealTime()
        ->Unit(benchmark::kMicrosecond);
    const QString backlog = QString::number(g_backlog);
    benchmark::RegisterBenchmark(qPrintable("SendStall/Backlog/" + backlog), BM_SendStall)
        ->Arg(g_backlog)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("SendStall/OneRowBaseline/" + backlog + "sends"), BM_SendStall)
        ->Arg(1)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    const QString calls = QString::number(g_calls);
    benchmark::RegisterBenchmark(qPrintable("GuiThreadCpu/NewTlsConnection/" + calls), BM_GuiThreadCpu, true)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("GuiThreadCpu/KeptTlsConnectionBaseline/" + calls), BM_GuiThreadCpu, false)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    const QString heartbeats = QString::number(g_heartbeats);
    benchmark::RegisterBenchmark(qPrintable("HeartbeatMemory/FreshConnections/" + heartbeats), BM_HeartbeatMemory, 0)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("HeartbeatMemory/BackToBack/" + heartbeats), BM_HeartbeatMemory, 1)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("HeartbeatMemory/FourAtATime/" + heartbeats), BM_HeartbeatMemory, 4)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("DrainMemory/FreshConnections/" + backlog), BM_DrainMemory)
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    const QString percentages = QString::number(g_percentages);
    benchmark::RegisterBenchmark(qPrintable("UpdateOutcome/AnswerAtOnce/" + percentages), BM_OutcomeLatency, 0)
        ->Iterations(20)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(qPrintable("UpdateOutcome/Answer200ms/" + percentages), BM_OutcomeLatency, 200)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_rig->bo.reset();
    return 0;
}

// Blacklist sync of a large list through the back-office client (HTTPS from the
// simulator, JSON, one SQL transaction) beside the sqlite3 command line inserting
// the same uids in one transaction; and the send queue's accepted transactions per
// second with synchronous=FULL beside bare prepared inserts of the same rows.

#include "../tests/backend/BackendRig.h"
#include "SqlDatabase.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSqlQuery>

#include <cstdio>
#include <cstring>

using Backend::Transaction;

namespace {

int g_uids = 100000;
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

} // namespace

int main(int argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--uids=", 7) == 0)
            g_uids = atoi(argv[i] + 7);
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
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_rig->bo.reset();
    return 0;
}

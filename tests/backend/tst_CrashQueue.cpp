// Nothing lost: a child process queueing transactions is killed with SIGKILL at
// random instants, 50 times; a last run drains the queue. Every transaction the
// child reported as accepted must then be settled in its database and received by
// the simulator, duplicates only under the same transactionUid.

#include "BackendRig.h"
#include "SqlDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <unistd.h>

using Backend::CardBO;
using Backend::Transaction;

namespace {

// SIGKILL to this process after the given time, wherever its main thread then is. Timed
// here rather than by the test: a stalled test must not give the sender longer to queue.
void killAfter(int msec)
{
    std::thread([msec] {
        std::this_thread::sleep_for(std::chrono::milliseconds(msec));
        ::kill(::getpid(), SIGKILL);
    }).detach();
}

// Arguments: mode ("send" or "drain"), folder, CA, client certificate, key, URL; for
// "send" the kill delay and "first" if it counts from the first accepted transaction.
int child(const QStringList& args)
{
    const int killMsec = args.value(6).toInt();
    const bool fromFirst = args.value(7) == "first";
    if (killMsec > 0 && !fromFirst)
        killAfter(killMsec);
    const QString dir = args.value(1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir + "/user");
    Config config(dir + "/terminal.ini",
        { { "card-bo/rootCA", args.value(2) }, { "card-bo/pubCert", args.value(3) }, { "card-bo/privKey", args.value(4) },
            { "card-bo/url", args.value(5) }, { "card-bo/ignoreSslErrors", false } });
    Backend::Database db(config, nullptr, dir + "/terminal.db");
    FakeTerminal terminal;
    CardBO bo(config, db, terminal);
    QTimer timer;
    if (args.value(0) == "drain") {
        QSqlQuery(db.sql().database()).exec("UPDATE Transactions SET sendSchedDate = '2000-01-01T00:00:00'");
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (db.transCount("PENDING") == 0)
                QCoreApplication::quit();
            bo.processPendingTransactions();
        });
    } else {
        QObject::connect(&timer, &QTimer::timeout, [&, armed = !fromFirst]() mutable {
            const Transaction::Ptr t = Transaction::create(Transaction::Issuance, "SN-0001", "CARD");
            bo.sendTransaction(t);
            std::printf("%s\n", qPrintable(t->uuid()));
            std::fflush(stdout);
            if (!armed && killMsec > 0)
                killAfter(killMsec);
            armed = true;
        });
    }
    timer.start(3);
    return QCoreApplication::exec();
}

} // namespace

class tst_CrashQueue : public QObject
{
    Q_OBJECT

private slots:
    void killedSenderLosesNothing()
    {
        BackendRig rig;
        QVERIFY2(rig.setUp(), qPrintable(rig.error()));
        const QString dir = rig.dir() + "/child";
        QVERIFY(QDir().mkpath(dir));
        const QStringList common { dir, rig.certs.caCert(), rig.certs.clientCert(), rig.certs.clientKey(), rig.sim.url() };
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        qInfo("seed %u", seed);

        QSet<QString> accepted;
        // A sender kills itself (SIGKILL) after killAfterMsec, counted from its first accepted
        // transaction, not from the start: a slow start (sanitizers, a loaded machine) must not
        // leave the kills nothing to cut. The drain must end on its own and may take as long as
        // the simulator keeps receiving.
        const auto run = [&](const QString& mode, int killAfterMsec, bool fromFirst) {
            QProcess process;
            process.setProcessChannelMode(QProcess::SeparateChannels);
            process.setStandardErrorFile(QProcess::nullDevice());
            process.start(QCoreApplication::applicationFilePath(),
                QStringList { "--child", mode } + common
                    + QStringList { QString::number(killAfterMsec), fromFirst ? "first" : "start" });
            if (!process.waitForStarted())
                return false;
            // A limit on a time without progress, not on the whole run: the drain is one
            // request after another, its length depends on the backlog and the machine. It
            // outlasts a timed-out request (30 s) and its retry a minute later.
            QElapsedTimer still;
            still.start();
            int received = rig.sim.transactions().size();
            while (process.state() != QProcess::NotRunning && still.elapsed() < 120000) {
                QTest::qWait(5);
                if (rig.sim.transactions().size() != received) {
                    received = rig.sim.transactions().size();
                    still.restart();
                }
            }
            for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
                if (!line.isEmpty())
                    accepted.insert(QString::fromLatin1(line));
            }
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished();
                return false;
            }
            // A sender ends only by its kill; the drain by emptying the queue.
            return mode == "drain" ? process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
                                   : process.exitStatus() == QProcess::CrashExit;
        };
        // Every fifth kill may also hit the start (opening the database, loading keys).
        for (int i = 0; i < 50; ++i)
            QVERIFY(run("send", 10 + int(random.bounded(120)), i % 5 != 0));
        QVERIFY(accepted.size() > 50);
        QVERIFY(run("drain", 0, false));

        Backend::Database db(*rig.config, nullptr, dir + "/terminal.db");
        QVERIFY(QDir(dir).entryList({ "*.corrupt-*" }).isEmpty());
        QSet<QString> stored;
        for (const QString& uid : accepted) {
            const Transaction::Ptr t = db.transFind(uid);
            QVERIFY2(t, qPrintable("accepted but not stored: " + uid));
            QCOMPARE(t->sendDetails().sendStatus, QString("OK"));
        }
        QSqlQuery all(db.sql().database());
        QVERIFY(all.exec("SELECT uuid, sendStatus FROM Transactions"));
        while (all.next()) {
            stored.insert(all.value(0).toString());
            QCOMPARE(all.value(1).toString(), QString("OK"));
        }
        const QMap<QString, int> received = rig.sim.transactions();
        for (const QString& uid : stored)
            QVERIFY2(received.value(uid) >= 1, qPrintable("stored but never received: " + uid));
        for (auto it = received.cbegin(); it != received.cend(); ++it)
            QVERIFY2(stored.contains(it.key()), qPrintable("received but not stored: " + it.key()));
        qInfo("accepted %d, stored %d, received %d, duplicates %d", int(accepted.size()), int(stored.size()),
            int(received.size()), rig.sim.duplicates());
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == "--child")
        return child(args.mid(2));
    tst_CrashQueue test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_CrashQueue.moc"

// Nothing lost: a child process queueing transactions is killed with SIGKILL at
// random instants, 50 times; a last run drains the queue. Every transaction the
// child reported as accepted must then be settled in its database and received by
// the simulator, duplicates only under the same transactionUid. A child rescuing a
// corrupt store is killed between the rescue's steps and within its copy; after a
// restart every readable pending row is queued once.

#include "BackendRig.h"
#include "SqlDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
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

// Arguments: folder, then how the rescue is cut: "step:N" ends the process at the Nth
// rescue step, "after:MSEC" that long after the store starts opening, nothing runs it
// through. Prints how long opening the store took.
int rescueChild(const QStringList& args)
{
    const QString dir = args.value(0);
    const QString cut = args.value(1);
    Config config(dir + "/terminal.ini", {});
    if (cut.startsWith("step:")) {
        Backend::Database::setRescueHook([step = cut.mid(5).toInt()](Backend::Database::RescueStep reached) {
            if (int(reached) == step)
                ::kill(::getpid(), SIGKILL);
        });
    }
    if (cut.startsWith("after:"))
        killAfter(cut.mid(6).toInt());
    QElapsedTimer clock;
    clock.start();
    Backend::Database db(config, nullptr, dir + "/terminal.db");
    std::printf("%lld\n", clock.elapsed());
    return 0;
}

// Rows of the corrupt store the rescue tests start from.
constexpr int RescueRows = 20000;

} // namespace

class tst_CrashQueue : public QObject
{
    Q_OBJECT

    QTemporaryDir m_work;
    QSet<QString> m_readable; // uuids of the corrupt store's rows that can still be read

    // Runs a rescue child on the folder; 1 when it was killed, 0 when it finished (its
    // opening time in took), -1 when it failed otherwise.
    int rescue(const QString& dir, const QString& cut, qint64* took = nullptr)
    {
        QProcess process;
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QCoreApplication::applicationFilePath(), { "--rescue", dir, cut });
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (process.exitStatus() == QProcess::CrashExit)
            return 1;
        if (took)
            *took = process.readAllStandardOutput().trimmed().toLongLong();
        return process.exitCode() == 0 ? 0 : -1;
    }

private slots:
    // A store of 20,000 pending rows, one page of its queue destroyed.
    void initTestCase()
    {
        const QString path = m_work.filePath("corrupt.db");
        {
            Config config(m_work.filePath("t.ini"), {});
            Backend::Database db(config, nullptr, path);
            QSqlDatabase sql = db.sql().database();
            QVERIFY(sql.transaction());
            QSqlQuery insert(sql);
            QVERIFY(insert.prepare("INSERT INTO Transactions (type, uuid, timestamp, deviceSerial, cardUid, "
                                   "sendSchedDate, sendStatus, sendAttempts, respStatus) "
                                   "VALUES ('ISSUANCE', ?, ?, 'SN-0001', ?, ?, 'PENDING', 0, 0)"));
            const QString now = QDateTime::currentDateTime().toString(Qt::ISODate);
            for (int i = 0; i < RescueRows; ++i) {
                const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
                insert.addBindValue(uuid);
                insert.addBindValue(now);
                insert.addBindValue(QString("ROW-%1").arg(i, 5, 10, QChar('0')));
                insert.addBindValue(now);
                QVERIFY(insert.exec());
                m_readable.insert(uuid);
            }
            insert.finish();
            QVERIFY(sql.commit());
            QSqlQuery rows(sql);
            QVERIFY(rows.exec("SELECT uuid, cardUid FROM Transactions"));
            QHash<QString, QString> uuidOf;
            while (rows.next())
                uuidOf.insert(rows.value(1).toString(), rows.value(0).toString());
            rows.finish();
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray bytes = file.readAll();
            const int page = bytes.indexOf("ROW-10000") / 4096;
            const QString text = QString::fromLatin1(bytes.constData() + page * 4096, 4096);
            auto lost = QRegularExpression("ROW-\\d{5}").globalMatch(text);
            while (lost.hasNext())
                QVERIFY(m_readable.remove(uuidOf.value(lost.next().captured())));
            QVERIFY(file.seek(page * 4096) && file.write(QByteArray(4096, '\xff')) == 4096);
        }
        QVERIFY2(m_readable.size() > RescueRows - 100 && m_readable.size() < RescueRows,
            qPrintable(QString::number(m_readable.size())));
    }

    void killedRescueLosesNothing_data()
    {
        QTest::addColumn<QStringList>("cuts");
        QTest::newRow("not cut") << QStringList();
        QTest::newRow("copy committed") << QStringList { "step:0" };
        QTest::newRow("copy complete") << QStringList { "step:1" };
        QTest::newRow("corrupt file set aside") << QStringList { "step:2" };
        QTest::newRow("complete, then set aside") << QStringList { "step:1", "step:2" };
        QTest::newRow("at 0.1 s") << QStringList { "after:100" };
        QTest::newRow("at 0.3 s") << QStringList { "after:300" };
        QTest::newRow("at 0.1 s, 0.1 s, 0.3 s, copy committed")
            << QStringList { "after:100", "after:100", "after:300", "step:0" };
    }

    void killedRescueLosesNothing()
    {
        QFETCH(QStringList, cuts);
        QTemporaryDir dir;
        QVERIFY(QFile::copy(m_work.filePath("corrupt.db"), dir.filePath("terminal.db")));
        QStringList landed;
        for (const QString& cut : cuts) {
            const int killed = rescue(dir.path(), cut);
            QVERIFY(killed >= 0);
            // A kill at a step must have found it; a timed one may come before or after the rescue.
            QVERIFY(killed == 1 || cut.startsWith("after:"));
            const QStringList left = QDir(dir.path()).entryList({ "terminal.db.rescue*" });
            landed << cut + (killed == 0 ? " after the rescue" : left.isEmpty() ? "" : " left " + left.join(' '));
        }
        qint64 took = -1, reopened = -1;
        QCOMPARE(rescue(dir.path(), QString(), &took), 0);
        QCOMPARE(rescue(dir.path(), QString(), &reopened), 0);
        qInfo("%s; %d rows: the last start took %lld ms, a start on the rescued store %lld ms",
            qPrintable(landed.join(", ")), RescueRows, took, reopened);

        // The swap is finished: one copy of the corrupt file kept, no rescue file left.
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(files.filter(QRegularExpression("^terminal\\.db\\.corrupt-[-0-9]+$")).size(), 1);
        QCOMPARE(files.filter("rescue"), QStringList());
        QCOMPARE(int(QFileInfo(dir.filePath("terminal.db")).permissions()), 0x6600); // owner only, as before
        Config config(dir.filePath("terminal.ini"), {});
        Backend::Database db(config, nullptr, dir.filePath("terminal.db"));
        QSqlQuery pending(db.sql().database());
        QVERIFY(pending.exec("SELECT uuid FROM Transactions WHERE sendStatus = 'PENDING'"));
        QSet<QString> queued;
        int rows = 0;
        while (pending.next()) {
            queued.insert(pending.value(0).toString());
            ++rows;
        }
        QCOMPARE(rows, queued.size());
        QCOMPARE(queued.size(), m_readable.size());
        QVERIFY(queued == m_readable);
    }

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
    if (args.value(1) == "--rescue")
        return rescueChild(args.mid(2));
    tst_CrashQueue test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_CrashQueue.moc"

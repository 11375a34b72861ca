#include "DatabaseConnection.h"
#include "SqlDatabase.h"

#include "LogCapture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

const QString kCreating = QStringLiteral("[SqlDatabase] Creating new Database connection for thread ");

// Runs the sqlite3 command line on the file and returns its output, trimmed.
QString sqlite3(const QString& path, const QString& sql)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), { path, sql });
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QStringLiteral("<sqlite3 failed: %1>").arg(QString::fromUtf8(p.readAllStandardError()));
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

class tst_SqlDatabase : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;

    QString newPath() { return m_dir.filePath(QStringLiteral("db%1.sqlite").arg(++m_files)); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void oneConnectionPerThread()
    {
        LogCapture log;
        const QString path = newPath();
        QString mainName;
        {
            SqlDatabase db(path, nullptr);
            QVERIFY(!QFile::exists(path));
            QVERIFY(db.execute("CREATE TABLE Transactions (id INTEGER PRIMARY KEY, body TEXT)").isActive());
            QVERIFY(db.execute("CREATE VIEW TransactionView AS SELECT body FROM Transactions").isActive());
            QVERIFY(log.contains(QtInfoMsg, kCreating));
            mainName = db.database().connectionName();

            QString threadName;
            bool threadOk = false;
            QThread* thread = QThread::create([&] {
                QSqlQuery q = db.query("INSERT INTO Transactions (body) VALUES (?)");
                q.addBindValue(QStringLiteral("worker"));
                threadOk = db.execute(q) && db.tableExists("transactions");
                threadName = db.database().connectionName();
            });
            thread->start();
            QVERIFY(thread->wait(30000));
            delete thread;
            QVERIFY(threadOk);
            QVERIFY(!threadName.isEmpty() && threadName != mainName);
            // The worker's connection went with its thread.
            QVERIFY(!QSqlDatabase::connectionNames().contains(threadName));

            // Tables in any case; views, prefixes and the schema table are no tables.
            QVERIFY(db.tableExists("TRANSACTIONS") && db.tableExists("Transactions"));
            QVERIFY(!db.tableExists("Trans") && !db.tableExists("TransactionView") && !db.tableExists("sqlite_master"));
        }
        QVERIFY(!QSqlDatabase::connectionNames().contains(mainName));
        QCOMPARE(sqlite3(path, "SELECT count(*) FROM Transactions;"), QStringLiteral("1"));
    }

    void executeLogsAndReportsFailures()
    {
        SqlDatabase db(newPath(), nullptr);
        db.database();
        LogCapture log;
        QVERIFY(db.execute("CREATE TABLE Customs (id INTEGER PRIMARY KEY, name TEXT)").isActive());
        QVERIFY(log.contains(
            QtDebugMsg, "[SqlDatabase] Executed query : CREATE TABLE Customs (id INTEGER PRIMARY KEY, name TEXT)"));
        QSqlQuery bad = db.query("SELEC * FROM Customs");
        QVERIFY(!db.execute(bad));
        QVERIFY(log.contains(QtCriticalMsg, "[SqlDatabase] ERROR: Could not execute query : SELEC * FROM Customs"));
        // The reason is the one the preparation gave, not the execution's bare "No query".
        QVERIFY(log.contains(
            QtCriticalMsg, "[SqlDatabase] ERROR: near \"SELEC\": syntax error Unable to execute statement"));
    }

    void openFailureIsLoggedAndRetried()
    {
        LogCapture log;
        SqlDatabase db(m_dir.filePath("missing/dir/terminal.db"), nullptr);
        QVERIFY(!db.tableExists("Blacklist"));
        QCOMPARE(log.count(kCreating), 1);
        const QString openFailed = "[SqlDatabase] ERROR: Database open failed : ";
        QCOMPARE(log.startingWith(openFailed).size(), 1);
        // A statement run meanwhile fails with the reason the file would not open.
        QVERIFY(!db.execute("SELECT 1").isActive());
        const QString reason = log.startingWith(openFailed).value(0).mid(openFailed.size());
        QVERIFY(!reason.isEmpty());
        QVERIFY(log.contains(QtCriticalMsg, "[SqlDatabase] ERROR: " + reason));

        log.clear();
        // Once the directory exists, the next call opens the same record: no new connection, no second open error.
        QVERIFY(QDir(m_dir.path()).mkpath("missing/dir"));
        QVERIFY(db.execute("CREATE TABLE Blacklist (uid TEXT)").isActive());
        QVERIFY(db.tableExists("Blacklist"));
        QCOMPARE(log.count(kCreating), 0);
    }

    void waitsForAnotherProcessesLock()
    {
        const QString path = newPath();
        SqlDatabase db(path, nullptr);
        QVERIFY(db.execute("CREATE TABLE Transactions (body TEXT)").isActive());

        // A maintenance session takes the file's lock, signals it, and keeps it for 1.5 s.
        const QString marker = m_dir.filePath("locked");
        QProcess holder;
        holder.start("sqlite3", { path });
        QVERIFY(holder.waitForStarted(30000));
        holder.write(QStringLiteral("BEGIN EXCLUSIVE;\nINSERT INTO Transactions VALUES ('maintenance');\n"
                                    ".system sh -c \"touch '%1'; sleep 1.5\"\nCOMMIT;\n.quit\n")
                         .arg(marker)
                         .toUtf8());
        holder.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 30000);

        QElapsedTimer timer;
        timer.start();
        QSqlQuery insert = db.query("INSERT INTO Transactions VALUES ('lane')");
        QVERIFY2(db.execute(insert), qPrintable(insert.lastError().text()));
        // It really had to wait for the other process.
        QVERIFY2(timer.elapsed() >= 300, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(holder.exitCode(), 0);
        QCOMPARE(sqlite3(path, "SELECT group_concat(body) FROM Transactions;"), QStringLiteral("maintenance,lane"));
    }
};

QTEST_GUILESS_MAIN(tst_SqlDatabase)
#include "tst_SqlDatabase.moc"

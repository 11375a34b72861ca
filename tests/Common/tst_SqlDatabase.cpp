#include "DatabaseConnection.h"
#include "SqlDatabase.h"

#include "LogCapture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

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

bool isUuidName(const QString& name)
{
    static const QRegularExpression re(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));
    return re.match(name).hasMatch();
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
            QCOMPARE(log.count(kCreating), 0);

            QVERIFY(!db.tableExists(QStringLiteral("Transactions")));
            QCOMPARE(log.count(kCreating), 1);
            QCOMPARE(log.entries().first().type, QtInfoMsg);
            QSqlQuery create
                = db.query(QStringLiteral("CREATE TABLE Transactions (id INTEGER PRIMARY KEY, body TEXT)"));
            QVERIFY(db.execute(create));
            QVERIFY(db.tableExists(QStringLiteral("Transactions")));
            QSqlQuery insert = db.query(QStringLiteral("INSERT INTO Transactions (body) VALUES (?)"));
            insert.addBindValue(QStringLiteral("main"));
            QVERIFY(db.execute(insert));
            QCOMPARE(log.count(kCreating), 1);
            mainName = db.database().connectionName();
            QVERIFY2(isUuidName(mainName), qPrintable(mainName));
            QVERIFY(db.database().isOpen());

            QString threadName;
            bool threadOk = false;
            QThread* thread = QThread::create([&] {
                QSqlQuery q = db.query(QStringLiteral("INSERT INTO Transactions (body) VALUES (?)"));
                q.addBindValue(QStringLiteral("worker"));
                threadOk = db.execute(q) && db.tableExists(QStringLiteral("transactions"));
                threadName = db.database().connectionName();
            });
            thread->start();
            QVERIFY(thread->wait(30000));
            delete thread;
            QVERIFY(threadOk);
            QCOMPARE(log.count(kCreating), 2);
            QVERIFY(isUuidName(threadName));
            QVERIFY(threadName != mainName);
            // The worker's connection went with its thread.
            QVERIFY(!QSqlDatabase::connectionNames().contains(threadName));
            QVERIFY(QSqlDatabase::connectionNames().contains(mainName));

            QSqlQuery rows = db.execute(QStringLiteral("SELECT body FROM Transactions ORDER BY id"));
            QStringList bodies;
            while (rows.next())
                bodies << rows.value(0).toString();
            QCOMPARE(bodies, QStringList({ "main", "worker" }));
            QCOMPARE(log.count(kCreating), 2);
        }
        QVERIFY(!QSqlDatabase::connectionNames().contains(mainName));
        QCOMPARE(sqlite3(path, QStringLiteral("SELECT count(*) FROM Transactions;")), QStringLiteral("2"));
    }

    void twoObjectsOnOneFile()
    {
        const QString path = newPath();
        SqlDatabase a(path, nullptr);
        QString bName;
        {
            SqlDatabase b(path, nullptr);
            bName = b.database().connectionName();
            QVERIFY(a.database().connectionName() != bName);
            QVERIFY(
                a.execute(QStringLiteral("CREATE TABLE Parameters (name TEXT PRIMARY KEY, value TEXT)")).isActive());
            QVERIFY(a.execute(QStringLiteral("INSERT INTO Parameters VALUES ('lane', '7')")).isActive());
            QSqlQuery q = b.execute(QStringLiteral("SELECT value FROM Parameters WHERE name = 'lane'"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("7"));
        }
        QVERIFY(!QSqlDatabase::connectionNames().contains(bName));
        QVERIFY(a.tableExists(QStringLiteral("Parameters")));
    }

    void tableExistsIgnoresCase()
    {
        SqlDatabase db(newPath(), nullptr);
        QVERIFY(db.execute(QStringLiteral("CREATE TABLE Blacklist (uid TEXT)")).isActive());
        QVERIFY(db.execute(QStringLiteral("CREATE VIEW BlacklistView AS SELECT uid FROM Blacklist")).isActive());
        QVERIFY(db.tableExists(QStringLiteral("Blacklist")));
        QVERIFY(db.tableExists(QStringLiteral("BLACKLIST")));
        QVERIFY(db.tableExists(QStringLiteral("blacklist")));
        QVERIFY(!db.tableExists(QStringLiteral("Black")));
        QVERIFY(!db.tableExists(QStringLiteral("BlacklistView")));
        QVERIFY(!db.tableExists(QStringLiteral("sqlite_master")));
    }

    void executeLogsAndReportsFailures()
    {
        SqlDatabase db(newPath(), nullptr);
        db.database();
        LogCapture log;

        QVERIFY(db.execute(QStringLiteral("CREATE TABLE Customs (id INTEGER PRIMARY KEY, name TEXT)")).isActive());
        QCOMPARE(log.texts().size(), 2);
        QCOMPARE(log.entries().at(0).type, QtDebugMsg);
        QCOMPARE(log.texts().at(0),
            QStringLiteral("[SqlDatabase] Executed query : CREATE TABLE Customs (id INTEGER PRIMARY KEY, name TEXT)"));
        QCOMPARE(log.entries().at(1).type, QtDebugMsg);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\[SqlDatabase\\] Operation completed in : \\d+ msec\\(s\\)$"))
                     .match(log.texts().at(1))
                     .hasMatch(),
            qPrintable(log.texts().at(1)));

        log.clear();
        QSqlQuery bad = db.query(QStringLiteral("SELEC * FROM Customs"));
        QVERIFY(!db.execute(bad));
        QCOMPARE(log.texts().size(), 3);
        QCOMPARE(log.entries().at(0).type, QtDebugMsg);
        QCOMPARE(log.texts().at(0), QStringLiteral("[SqlDatabase] Executed query : SELEC * FROM Customs"));
        QCOMPARE(log.entries().at(1).type, QtCriticalMsg);
        QCOMPARE(
            log.texts().at(1), QStringLiteral("[SqlDatabase] ERROR: Could not execute query : SELEC * FROM Customs"));
        QCOMPARE(log.entries().at(2).type, QtCriticalMsg);
        QVERIFY2(log.texts().at(2).startsWith(QLatin1String("[SqlDatabase] ERROR: ")), qPrintable(log.texts().at(2)));
        QVERIFY2(log.texts().at(2).contains(QLatin1String("syntax error")), qPrintable(log.texts().at(2)));

        // A failing statement that did prepare reports its own error, also when run again.
        log.clear();
        QVERIFY(db.execute(QStringLiteral("INSERT INTO Customs VALUES (1, 'A')")).isActive());
        QSqlQuery dup = db.query(QStringLiteral("INSERT INTO Customs VALUES (?, ?)"));
        dup.addBindValue(1);
        dup.addBindValue(QStringLiteral("B"));
        QVERIFY(!db.execute(dup));
        QVERIFY(log.texts(QtCriticalMsg).last().contains(QLatin1String("UNIQUE constraint failed")));
        dup.addBindValue(2);
        dup.addBindValue(QStringLiteral("B"));
        QVERIFY(db.execute(dup));
        QCOMPARE(sqlite3(db.path(), QStringLiteral("SELECT group_concat(name) FROM Customs;")), QStringLiteral("A,B"));
    }

    void userVersion()
    {
        const QString path = newPath();
        SqlDatabase db(path, nullptr);
        LogCapture log;
        QCOMPARE(db.userVersion(), 0);
        QVERIFY(db.setUserVersion(7));
        QCOMPARE(db.userVersion(), 7);
        QCOMPARE(sqlite3(path, QStringLiteral("PRAGMA user_version;")), QStringLiteral("7"));
        QCOMPARE(sqlite3(path, QStringLiteral("PRAGMA user_version = 42; PRAGMA user_version;")), QStringLiteral("42"));
        QCOMPARE(db.userVersion(), 42);
        QVERIFY(db.setUserVersion(-3));
        QCOMPARE(sqlite3(path, QStringLiteral("PRAGMA user_version;")), QStringLiteral("-3"));
        // Neither goes through execute, so only the connection line is logged.
        QCOMPARE(log.texts(), QStringList { kCreating });
    }

    void openFailureIsLoggedAndRetried()
    {
        LogCapture log;
        SqlDatabase db(m_dir.filePath(QStringLiteral("missing/dir/terminal.db")), nullptr);
        QVERIFY(!db.tableExists(QStringLiteral("Blacklist")));
        const QStringList openErrors = log.startingWith(QStringLiteral("[SqlDatabase] ERROR: Database open failed : "));
        QCOMPARE(openErrors.size(), 1);
        QVERIFY(openErrors.first().size() > QStringLiteral("[SqlDatabase] ERROR: Database open failed : ").size());
        QCOMPARE(log.count(kCreating), 1);

        // The statement cannot even be prepared; the log says why.
        log.clear();
        QVERIFY(!db.execute(QStringLiteral("CREATE TABLE Blacklist (uid TEXT)")).isActive());
        QStringList errors = log.texts(QtCriticalMsg);
        QCOMPARE(errors.size(), 2);
        QVERIFY(errors.at(0).startsWith(QLatin1String("[SqlDatabase] ERROR: Could not execute query : ")));
        QVERIFY2(errors.at(1).startsWith(QLatin1String("[SqlDatabase] ERROR: unable to open database")),
            qPrintable(errors.at(1)));
        QCOMPARE(db.userVersion(), 0);
        QVERIFY(!db.setUserVersion(3));
        // Later calls retry the same record: no new connection, no second open error.
        QCOMPARE(log.count(kCreating), 0);
        QCOMPARE(log.startingWith(QStringLiteral("[SqlDatabase] ERROR: Database open failed")).size(), 0);

        // Once the directory exists, the next call opens the same record.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("missing/dir")));
        QVERIFY(db.execute(QStringLiteral("CREATE TABLE Blacklist (uid TEXT)")).isActive());
        QVERIFY(db.tableExists(QStringLiteral("Blacklist")));
        QCOMPARE(log.count(kCreating), 0);
    }

    void waitsForAnotherProcessesLock()
    {
        const QString path = newPath();
        SqlDatabase db(path, nullptr);
        const QSqlDatabase handle = db.database();
        QVERIFY(handle.connectOptions().contains(QLatin1String("QSQLITE_ENABLE_SHARED_CACHE")));
        QVERIFY(handle.connectOptions().contains(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(DatabaseConnection::BusyTimeoutMsec)));
        {
            QSqlQuery q = db.execute(QStringLiteral("PRAGMA busy_timeout"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), DatabaseConnection::BusyTimeoutMsec);
        }
        QVERIFY(db.execute(QStringLiteral("CREATE TABLE Transactions (body TEXT)")).isActive());

        // A maintenance session takes the file's lock, signals it, and keeps it for 1.5 s.
        const QString marker = m_dir.filePath(QStringLiteral("locked"));
        QProcess holder;
        holder.start(QStringLiteral("sqlite3"), { path });
        QVERIFY(holder.waitForStarted(30000));
        holder.write(QStringLiteral("BEGIN EXCLUSIVE;\n"
                                    "INSERT INTO Transactions VALUES ('maintenance');\n"
                                    ".system sh -c \"touch '%1'; sleep 1.5\"\n"
                                    "COMMIT;\n"
                                    ".quit\n")
                         .arg(marker)
                         .toUtf8());
        holder.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 30000);

        QElapsedTimer timer;
        timer.start();
        QSqlQuery insert = db.query(QStringLiteral("INSERT INTO Transactions VALUES (?)"));
        insert.addBindValue(QStringLiteral("lane"));
        QVERIFY2(db.execute(insert), qPrintable(insert.lastError().text()));
        // It really had to wait for the other process.
        QVERIFY2(timer.elapsed() >= 300, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(holder.exitCode(), 0);
        QCOMPARE(sqlite3(path, QStringLiteral("SELECT group_concat(body) FROM Transactions;")),
            QStringLiteral("maintenance,lane"));
    }
};

QTEST_GUILESS_MAIN(tst_SqlDatabase)
#include "tst_SqlDatabase.moc"

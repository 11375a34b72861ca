// The local store on a real SQLite file: tables, queue reads, all-or-nothing
// blacklist changes, reads that release the file, and a corrupt file set aside.

#include "Config.h"
#include "Database.h"
#include "LogCapture.h"
#include "SqlDatabase.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using Backend::Database;
using Backend::Transaction;

class tst_Database : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<Config> config;

    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("user"));
        config = std::make_unique<Config>(path("terminal.ini"), QVariantMap());
    }

    void storeAndQueue()
    {
        LogCapture log;
        { Database first(*config, nullptr, path("a.db")); }
        QCOMPARE(log.startingWith("[Backend::Database] Creating table : ").size(), 5);
        log.clear();
        Database db(*config, nullptr, path("a.db"));
        QVERIFY(log.startingWith("[Backend::Database] Creating table : ").isEmpty());

        QStringList order;
        for (const char* when : { "2001-01-01T00:00:03", "2999-01-01T00:00:00", "2001-01-01T00:00:01" }) {
            const Transaction::Ptr t = Transaction::create(Transaction::Scan, "SN", when);
            QCOMPARE(db.transAdd(t), Database::AddResult::Added);
            QSqlQuery(db.sql().database()).exec(QString("UPDATE Transactions SET sendSchedDate = '%1' WHERE uuid = '%2'").arg(QString(when), t->uuid()));
        }
        const QList<Transaction::Ptr> due = db.transDueForSend();
        for (const Transaction::Ptr& t : due)
            order << t->cardUid();
        QCOMPARE(order, QStringList({ "2001-01-01T00:00:03", "2001-01-01T00:00:01" }));
        QVERIFY(due.last()->sendDetails().sendDate.isNull());
        QVERIFY(due.last()->sendDetails().respData.isEmpty());
        QCOMPARE(db.transAdd(due.last()), Database::AddResult::Duplicate);
        QCOMPARE(db.transCount("PENDING"), 3);

        QVERIFY(db.blacklistApply({ "A", "B" }, {}));
        QVERIFY(db.blacklistApply({ "B", "C" }, { "A", "Z" }));
        QCOMPARE(db.blacklistCount(), 2);
        QVERIFY(!db.isBlacklisted("A"));

        QSignalSpy changed(&db, &Database::paramChanged);
        db.setParam("blacklistVer", "v1");
        db.setParam("blacklistVer", "v1");
        db.setParam("apiKey", "secret");
        QCOMPARE(changed.size(), 2);
        QCOMPARE(db.param("apiKey").toString(), QString("secret"));
        QCOMPARE(db.paramKeys(), QStringList({ "blacklistVer", "apiKey" }));
        db.setParam("apiKey", "");
    }

    void readsReleaseTheFile()
    {
        Database db(*config, nullptr, path("b.db"));
        db.transAdd(Transaction::create(Transaction::Scan, "SN", "UID"));
        db.setParam("k", "v");
        db.setCustoms({ { 1, "Office", "u-1" } });
        // A writer that never waits: it fails while any read transaction stays open.
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "writer");
        writer.setDatabaseName(path("b.db"));
        writer.setConnectOptions("QSQLITE_BUSY_TIMEOUT=0");
        QVERIFY(writer.open());
        const QList<std::function<void()>> reads { [&] { db.transDueForSend(); }, [&] { db.transCount("PENDING"); },
            [&] { db.param("k"); }, [&] { db.findCustoms(1); }, [&] { db.isBlacklisted("X"); } };
        for (int i = 0; i < reads.size(); ++i) {
            reads.at(i)();
            QSqlQuery write(writer);
            QVERIFY2(write.exec(QString("INSERT INTO Parameters (key, value) VALUES ('w%1', 'x')").arg(i)),
                qPrintable(QString("read %1 left the file locked: %2").arg(i).arg(write.lastError().text())));
        }
        writer.close();
        writer = QSqlDatabase();
        QSqlDatabase::removeDatabase("writer");
    }

    void corruptFileSetAside()
    {
        const QList<QPair<int, bool>> codes { { 11, true }, { 26, true }, { 267, true }, { 5, false }, { 6, false },
            { 8, false }, { 13, false }, { 19, false } };
        for (const auto& code : codes) {
            const QSqlError error("driver", "db", QSqlError::StatementError, QString::number(code.first));
            QCOMPARE(Database::isCorruptionError(error), code.second);
        }

        const QByteArray garbage(8192, 'x');
        QFile file(path("c.db"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(garbage) == garbage.size());
        file.close();
        LogCapture log;
        Database db(*config, nullptr, path("c.db"));
        QCOMPARE(log.startingWith("[Backend::Database] ERROR: Database file is corrupt; kept as ").size(), 1);
        const QStringList aside = QDir(dir.path()).entryList({ "c.db.corrupt-*" });
        QCOMPARE(aside.size(), 1);
        QFile kept(path(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), garbage);
        QCOMPARE(db.transAdd(Transaction::create(Transaction::Scan, "SN", "UID")), Database::AddResult::Added);
    }
};

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_Database.moc"

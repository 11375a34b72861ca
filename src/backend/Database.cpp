#include "Database.h"

#include "Config.h"
#include "PeerText.h"
#include "PrivateFile.h"
#include "SqlDatabase.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSettings>
#include <QSqlError>

#include <fcntl.h>
#include <unistd.h>

#define DB_LOG(level) level().noquote().nospace() << "[Backend::Database] "

namespace Backend {

namespace {

const QString ApiKey = QStringLiteral("apiKey");

QVariant dateValue(const QDateTime& date)
{
    return date.isNull() ? QVariant(QVariant::String) : QVariant(date.toString(Qt::ISODate));
}

QDateTime toDate(const QVariant& value)
{
    const QString text = value.toString();
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODate);
}

QJsonObject toObject(const QVariant& value)
{
    const QByteArray bytes = value.toByteArray();
    return bytes.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(bytes).object();
}

QString createStatement(const QString& table, const QStringList& columns)
{
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(table, columns.join(QLatin1Char(',')));
}

const QString Organisation = QStringLiteral("zent");
const QString Application = QStringLiteral("kstv-card-bo");

// A row-by-row statement of a bulk change: failures are logged like the SQL service's.
bool runRow(QSqlQuery& query, const QString& uid)
{
    query.bindValue(0, uid);
    if (query.exec())
        return true;
    DB_LOG(qCritical) << "ERROR: Could not execute query : " << query.lastQuery() << " (uid=" << PeerText::forLog(uid)
                      << ")";
    DB_LOG(qCritical) << "ERROR: " << query.lastError().text();
    return false;
}

const QString BuildingSuffix = QStringLiteral(".rescue");
const QString CompleteSuffix = QStringLiteral(".rescued");

std::function<void(Database::RescueStep)>& rescueHook()
{
    static std::function<void(Database::RescueStep)> hook;
    return hook;
}

void reachStep(Database::RescueStep step)
{
    if (rescueHook())
        rescueHook()(step);
}

void removeWithJournals(const QString& file)
{
    for (const char* suffix : { "", "-journal", "-wal", "-shm" })
        QFile::remove(file + QLatin1String(suffix));
}

// A rename is only lasting once the folder that holds the names is written out.
void syncFolder(const QString& file)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

Database::Database(Config& config, QObject* parent, const QString& path)
    : QObject(parent)
    , m_config(config)
    , m_path(path)
{
    open();
}

Database::~Database() = default;

void Database::open()
{
    finishRescue();
    m_sql = std::make_unique<SqlDatabase>(m_path);
    if (fileIsCorrupt()) {
        m_sql.reset();
        if (buildRescue())
            finishRescue();
        m_sql = std::make_unique<SqlDatabase>(m_path);
    }
    // A committed transaction record must survive a power cut.
    QSqlQuery sync = m_sql->execute(QStringLiteral("PRAGMA synchronous=FULL"));
    sync.finish();
    createTables();
}

void Database::setRescueHook(std::function<void(RescueStep)> hook)
{
    rescueHook() = std::move(hook);
}

bool Database::buildRescue()
{
    const QString building = m_path + BuildingSuffix;
    removeWithJournals(building); // what a cut copy left
    bool copied = false;
    m_sql = std::make_unique<SqlDatabase>(building);
    {
        // Synchronous at its commit; a rollback journal that is gone once the file is closed.
        QSqlQuery pragmas(m_sql->database());
        copied = pragmas.exec(QStringLiteral("PRAGMA synchronous=FULL"))
            && pragmas.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        pragmas.finish();
        if (copied) {
            createTables();
            copied = rescueTransactions(m_path);
        }
    }
    m_sql.reset();
    if (copied)
        reachStep(RescueStep::Copied);
    const QString complete = m_path + CompleteSuffix;
    if (copied && !QFile::rename(building, complete)) {
        DB_LOG(qCritical) << "ERROR: Rescued copy could not be renamed : " << building;
        copied = false;
    }
    if (!copied) {
        removeWithJournals(building);
        DB_LOG(qCritical) << "ERROR: Database file is corrupt and stays in use until its rows can be copied : "
                          << m_path;
        return false;
    }
    syncFolder(m_path);
    reachStep(RescueStep::Completed);
    return true;
}

void Database::finishRescue()
{
    const QString complete = m_path + CompleteSuffix;
    if (!QFile::exists(complete)) {
        removeWithJournals(m_path + BuildingSuffix);
        return;
    }
    // Named after the copy's completion, so that a swap finished by a later start keeps
    // the corrupt file and its journals together under one name.
    const QString aside = m_path + QStringLiteral(".corrupt-")
        + QFileInfo(complete).lastModified().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"));
    // Journals first: one left under the old name would be played into the copy. The file
    // itself moves only after them, so a failure leaves it in use with its journals.
    bool moved = true;
    for (const char* suffix : { "-journal", "-wal", "-shm", "" }) {
        const QString from = m_path + QLatin1String(suffix);
        moved = !QFile::exists(from) || QFile::rename(from, aside + QLatin1String(suffix));
        if (!moved)
            break;
    }
    if (!moved) {
        DB_LOG(qCritical) << "ERROR: Database file is corrupt and could not be moved aside : " << m_path;
        return;
    }
    syncFolder(m_path);
    reachStep(RescueStep::SetAside);
    if (!QFile::rename(complete, m_path)) {
        DB_LOG(qCritical) << "ERROR: Rescued copy could not be put in place : " << complete;
        return;
    }
    syncFolder(m_path);
    DB_LOG(qCritical) << "ERROR: Database file is corrupt; kept as " << aside
                      << " and replaced by a copy of its readable rows : " << m_path;
}

bool Database::isCorruptionError(const QSqlError& error)
{
    // SQLITE_CORRUPT and SQLITE_NOTADB (and their extended codes); never busy,
    // locked, full or read-only, which say nothing about the file's contents.
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok && ((code & 0xff) == 11 || (code & 0xff) == 26);
}

bool Database::fileIsCorrupt()
{
    if (!QFile::exists(m_path))
        return false;
    QSqlQuery check(m_sql->database());
    if (!check.exec(QStringLiteral("PRAGMA quick_check(1)")))
        return isCorruptionError(check.lastError());
    const bool corrupt = check.next() && check.value(0).toString() != QLatin1String("ok");
    check.finish();
    return corrupt;
}

bool Database::rescueTransactions(const QString& source)
{
    // Unsent records must not stay behind in the corrupt file: every row that can
    // still be read goes into the new one. Rows are read in rowid order; where a
    // damaged page stops that, the rowids are tried one by one until the reading
    // goes on, so the page loses only its own rows.
    // Past this many unreadable rowids in a row the rest of the file is given up.
    static constexpr int MaxMisses = 100000;
    const QString columns = QStringLiteral("type, uuid, timestamp, deviceSerial, cardUid, morvaDbId, errorDetails, "
                                           "sendDate, sendSchedDate, sendStatus, sendAttempts, respStatus, respData");
    const QString name = QStringLiteral("rescue-") + source;
    int saved = 0, unreadable = 0, unstored = 0;
    QString failure;
    bool written = true;
    {
        QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        old.setDatabaseName(source);
        // Read-only: the corrupt file stays as it was found.
        old.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery last(old);
        QSqlDatabase db = m_sql->database();
        if (!old.open() || !last.exec(QStringLiteral("SELECT MAX(rowid) FROM Transactions")) || !last.next()) {
            failure = old.isOpen() ? last.lastError().text() : old.lastError().text();
        } else if (!db.transaction()) {
            failure = db.lastError().text();
            written = false;
        } else {
            const qint64 lastRow = last.value(0).toLongLong();
            last.finish();
            QSqlQuery next(old);
            next.prepare(QStringLiteral("SELECT rowid, %1 FROM Transactions WHERE rowid > ? ORDER BY rowid LIMIT 1")
                             .arg(columns));
            QSqlQuery probe(old);
            probe.prepare(QStringLiteral("SELECT rowid, %1 FROM Transactions WHERE rowid = ?").arg(columns));
            QSqlQuery write(db);
            write.prepare(QStringLiteral("INSERT OR IGNORE INTO Transactions (%1) VALUES (?%2)")
                              .arg(columns, QStringLiteral(", ?").repeated(12)));
            qint64 row = 0; // the last rowid dealt with
            bool seeking = true;
            int misses = 0;
            while (row < lastRow && misses < MaxMisses) {
                QSqlQuery& read = seeking ? next : probe;
                read.bindValue(0, seeking ? row : row + 1);
                const bool found = read.exec() && read.next();
                const bool failed = !found && read.lastError().isValid();
                if (seeking && !found) {
                    if (!failed)
                        break; // no row after this one
                    seeking = false; // a damaged page lies ahead
                    continue;
                }
                if (!seeking)
                    ++row;
                if (failed) {
                    ++unreadable;
                    ++misses;
                    continue;
                }
                seeking = true;
                misses = 0;
                if (!found)
                    continue; // a rowid never used
                row = read.value(0).toLongLong();
                for (int i = 0; i < 13; ++i)
                    write.bindValue(i, read.value(i + 1));
                read.finish();
                if (write.exec())
                    ++saved;
                else
                    ++unstored;
            }
            // All rows or none: a copy that misses some must not replace the file that has them.
            if (unstored > 0) {
                db.rollback();
                written = false;
            } else if (!db.commit()) {
                failure = db.lastError().text();
                written = false;
            }
        }
        last.finish();
        old.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!written) {
        DB_LOG(qCritical) << "ERROR: Transactions of the corrupt file could not be copied : "
                          << (failure.isEmpty() ? QStringLiteral("%1 rows refused").arg(unstored) : failure);
        return false;
    }
    if (!failure.isEmpty())
        DB_LOG(qCritical) << "ERROR: Transactions of the corrupt file not copied : " << failure;
    else if (unreadable > 0 || unstored > 0)
        DB_LOG(qCritical) << "ERROR: Transactions copied from the corrupt file : " << saved << " saved, " << unreadable
                          << " could not be read, " << unstored << " could not be stored";
    else
        DB_LOG(qWarning) << "WARN: Transactions copied from the corrupt file : " << saved
                         << " saved, 0 could not be read";
    return true;
}

void Database::createTables()
{
    const QStringList reference { QStringLiteral("id      INTEGER"), QStringLiteral("name    TEXT"),
        QStringLiteral("uuid    TEXT"), QStringLiteral("PRIMARY KEY (id)") };
    const QList<QPair<QString, QStringList>> tables {
        { QStringLiteral("Customs"), reference },
        { QStringLiteral("Locations"), reference },
        { QStringLiteral("Parameters"),
            { QStringLiteral("key     TEXT"), QStringLiteral("value   TEXT"), QStringLiteral("PRIMARY KEY (key)") } },
        { QStringLiteral("Blacklist"), { QStringLiteral("uid     TEXT"), QStringLiteral("PRIMARY KEY (uid)") } },
        { QStringLiteral("Transactions"),
            { QStringLiteral("type           TEXT"), QStringLiteral("uuid           TEXT"),
                QStringLiteral("timestamp      TEXT"), QStringLiteral("deviceSerial   TEXT"),
                QStringLiteral("cardUid        TEXT"), QStringLiteral("morvaDbId      TEXT"),
                QStringLiteral("errorDetails   TEXT"), QStringLiteral("sendDate       TEXT"),
                QStringLiteral("sendSchedDate  TEXT"), QStringLiteral("sendStatus     TEXT"),
                QStringLiteral("sendAttempts   INTEGER"), QStringLiteral("respStatus     INTEGER"),
                QStringLiteral("respData       BLOB"), QStringLiteral("PRIMARY KEY (uuid)") } },
    };
    for (const auto& table : tables) {
        if (m_sql->tableExists(table.first))
            continue;
        DB_LOG(qInfo) << "Creating table : " << table.first;
        QSqlQuery q = m_sql->execute(createStatement(table.first, table.second));
        q.finish();
    }
    // The queue reads its next due row and counts the due ones at every send: without
    // this each read would scan every row ever kept.
    QSqlQuery index = m_sql->execute(
        QStringLiteral("CREATE INDEX IF NOT EXISTS TransactionsDue ON Transactions (sendStatus, sendSchedDate)"));
    index.finish();
}

void Database::blacklistAdd(const QString& uid)
{
    QSqlQuery q = m_sql->query(QStringLiteral("INSERT INTO Blacklist (uid) VALUES (?)"));
    q.addBindValue(uid);
    m_sql->execute(q);
    q.finish();
}

void Database::blacklistRemove(const QString& uid)
{
    QSqlQuery q = m_sql->query(QStringLiteral("DELETE FROM Blacklist WHERE uid = ?"));
    q.addBindValue(uid);
    m_sql->execute(q);
    q.finish();
}

bool Database::isBlacklisted(const QString& uid)
{
    QSqlQuery q = m_sql->query(QStringLiteral("SELECT * FROM Blacklist WHERE uid = ?"));
    q.addBindValue(uid);
    const bool found = m_sql->execute(q) && q.next();
    q.finish();
    return found;
}

bool Database::blacklistApply(const QStringList& added, const QStringList& removed)
{
    QSqlDatabase db = m_sql->database();
    if (!db.transaction()) {
        DB_LOG(qCritical) << "ERROR: Could not begin blacklist update : " << db.lastError().text();
        return false;
    }
    bool ok = true;
    {
        QSqlQuery insert(db);
        ok = insert.prepare(QStringLiteral("INSERT OR IGNORE INTO Blacklist (uid) VALUES (?)"));
        for (int i = 0; ok && i < added.size(); ++i)
            ok = runRow(insert, added.at(i));
        QSqlQuery remove(db);
        ok = ok && remove.prepare(QStringLiteral("DELETE FROM Blacklist WHERE uid = ?"));
        for (int i = 0; ok && i < removed.size(); ++i)
            ok = runRow(remove, removed.at(i));
    }
    if (ok && db.commit())
        return true;
    DB_LOG(qCritical) << "ERROR: Blacklist update rolled back : " << db.lastError().text();
    db.rollback();
    return false;
}

int Database::blacklistCount()
{
    QSqlQuery q = m_sql->execute(QStringLiteral("SELECT COUNT(*) FROM Blacklist"));
    const int count = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    return count;
}

int Database::transCount(const QString& status)
{
    QSqlQuery q = m_sql->query(QStringLiteral("SELECT COUNT(*) FROM Transactions WHERE sendStatus = ?"));
    q.addBindValue(status);
    const int count = m_sql->execute(q) && q.next() ? q.value(0).toInt() : 0;
    q.finish();
    return count;
}

Database::AddResult Database::transAdd(const Transaction::Ptr& trans)
{
    QSqlQuery q = m_sql->query(QStringLiteral(
        "INSERT INTO Transactions (type, uuid, timestamp, deviceSerial, cardUid, morvaDbId, errorDetails, sendDate, "
        "sendSchedDate, sendStatus, sendAttempts, respStatus, respData) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(Transaction::typeToStr(trans->type()));
    q.addBindValue(trans->uuid());
    q.addBindValue(dateValue(trans->timestamp()));
    q.addBindValue(trans->deviceSerial());
    q.addBindValue(trans->cardUid());
    q.addBindValue(trans->morvaDbId());
    q.addBindValue(trans->errorDetails());
    q.addBindValue(QVariant(QVariant::String));
    q.addBindValue(dateValue(QDateTime::currentDateTime()));
    q.addBindValue(QStringLiteral("PENDING"));
    q.addBindValue(0);
    q.addBindValue(0);
    q.addBindValue(QVariant(QVariant::ByteArray));
    const bool ok = m_sql->execute(q);
    q.finish();
    if (ok)
        return AddResult::Added;
    // Retrying a record whose uuid is stored already would fail for ever.
    return transFind(trans->uuid()) ? AddResult::Duplicate : AddResult::Failed;
}

bool Database::transUpdate(const Transaction::Ptr& trans)
{
    return transUpdate(*m_sql, trans);
}

bool Database::transUpdate(const SqlDatabase& sql, const Transaction::Ptr& trans)
{
    const Transaction::SendDetails& details = trans->sendDetails();
    QSqlQuery q = sql.query(QStringLiteral("UPDATE Transactions SET sendDate = ?, sendStatus = ?, sendSchedDate = ?, "
                                           "sendAttempts = ?, respStatus = ?, respData = ? WHERE uuid = ?"));
    q.addBindValue(dateValue(details.sendDate));
    q.addBindValue(details.sendStatus);
    q.addBindValue(dateValue(details.sendSchedDate));
    q.addBindValue(details.sendAttempts);
    q.addBindValue(details.respStatus);
    q.addBindValue(QJsonDocument(details.respData).toJson(QJsonDocument::Compact));
    q.addBindValue(trans->uuid());
    const bool ok = sql.execute(q) && q.numRowsAffected() == 1;
    q.finish();
    return ok;
}

void Database::transCleanup(const QDateTime& before)
{
    QSqlQuery q = m_sql->query(
        QStringLiteral("DELETE FROM Transactions WHERE sendDate IS NOT NULL AND sendDate < ? AND sendStatus = 'OK'"));
    q.addBindValue(dateValue(before));
    m_sql->execute(q);
    q.finish();
}

QList<Transaction::Ptr> Database::readTransactions(QSqlQuery& query)
{
    QList<Transaction::Ptr> list;
    while (query.next()) {
        Transaction::Ptr trans(new Transaction);
        trans->setType(Transaction::strToType(query.value(0).toString()));
        trans->setUuid(query.value(1).toString());
        trans->setTimestamp(toDate(query.value(2)));
        trans->setDeviceSerial(query.value(3).toString());
        trans->setCardUid(query.value(4).toString());
        trans->setMorvaDbId(query.value(5).toString());
        trans->setErrorDetails(query.value(6).toString());
        Transaction::SendDetails& details = trans->sendDetails();
        details.sendDate = toDate(query.value(7));
        details.sendSchedDate = toDate(query.value(8));
        details.sendStatus = query.value(9).toString();
        details.sendAttempts = query.value(10).toInt();
        details.respStatus = query.value(11).toInt();
        details.respData = toObject(query.value(12));
        list.append(trans);
    }
    // An unfinished read keeps a read transaction open and blocks writers.
    query.finish();
    return list;
}

QList<Transaction::Ptr> Database::transPending()
{
    QSqlQuery q = m_sql->execute(QStringLiteral("SELECT * FROM Transactions WHERE sendStatus = 'PENDING'"));
    return readTransactions(q);
}

Transaction::Ptr Database::transDueForSend(int* dueCount)
{
    // Only the next row is read: with a backlog, reading every due row at each send
    // would stall the caller and make draining the queue quadratic.
    const QString due = QStringLiteral("FROM Transactions WHERE sendStatus = 'PENDING' AND sendSchedDate <= ?");
    const QVariant now = dateValue(QDateTime::currentDateTime());
    if (dueCount) {
        QSqlQuery count = m_sql->query(QStringLiteral("SELECT COUNT(*) ") + due);
        count.addBindValue(now);
        *dueCount = m_sql->execute(count) && count.next() ? count.value(0).toInt() : 0;
        count.finish();
    }
    QSqlQuery q
        = m_sql->query(QStringLiteral("SELECT * ") + due + QStringLiteral(" ORDER BY sendSchedDate, rowid LIMIT 1"));
    q.addBindValue(now);
    if (!m_sql->execute(q))
        return {};
    const QList<Transaction::Ptr> list = readTransactions(q);
    return list.isEmpty() ? Transaction::Ptr() : list.first();
}

Transaction::Ptr Database::transFind(const QString& uuid)
{
    QSqlQuery q = m_sql->query(QStringLiteral("SELECT * FROM Transactions WHERE uuid = ?"));
    q.addBindValue(uuid);
    if (!m_sql->execute(q))
        return {};
    const QList<Transaction::Ptr> list = readTransactions(q);
    return list.isEmpty() ? Transaction::Ptr() : list.first();
}

Database::DataRecord Database::findRecord(const QString& table, int id)
{
    QSqlQuery q = m_sql->query(QStringLiteral("SELECT * FROM %1 WHERE id = ?").arg(table));
    q.addBindValue(id);
    DataRecord record;
    if (m_sql->execute(q) && q.next())
        record = DataRecord { q.value(0).toInt(), q.value(1).toString(), q.value(2).toString() };
    q.finish();
    return record;
}

Database::DataRecord Database::findCustoms(int id)
{
    return findRecord(QStringLiteral("Customs"), id);
}

Database::DataRecord Database::findLocation(int id)
{
    return findRecord(QStringLiteral("Locations"), id);
}

QList<Database::DataRecord> Database::records(const QString& table)
{
    QSqlQuery q = m_sql->execute(QStringLiteral("SELECT * FROM %1").arg(table));
    QList<DataRecord> list;
    while (q.next())
        list.append(DataRecord { q.value(0).toInt(), q.value(1).toString(), q.value(2).toString() });
    q.finish();
    return list;
}

QList<Database::DataRecord> Database::customs()
{
    return records(QStringLiteral("Customs"));
}

QList<Database::DataRecord> Database::locations()
{
    return records(QStringLiteral("Locations"));
}

void Database::setRecords(const QString& table, const QList<DataRecord>& records)
{
    for (const DataRecord& record : records) {
        QSqlQuery q = m_sql->query(QStringLiteral("INSERT OR REPLACE INTO %1 (id, name, uuid) VALUES (?, ?, ?)").arg(table));
        q.addBindValue(record.id);
        q.addBindValue(record.name);
        q.addBindValue(record.uuid);
        m_sql->execute(q);
        q.finish();
    }
}

void Database::setCustoms(const QList<DataRecord>& records)
{
    setRecords(QStringLiteral("Customs"), records);
    emit customsChanged();
}

void Database::setLocations(const QList<DataRecord>& records)
{
    setRecords(QStringLiteral("Locations"), records);
    emit locationsChanged();
}

QVariant Database::param(const QString& key)
{
    if (key == ApiKey)
        return QVariant(QSettings(Organisation, Application).value(ApiKey).toString());
    QSqlQuery q = m_sql->query(QStringLiteral("SELECT value FROM Parameters WHERE key = ?"));
    q.addBindValue(key);
    QVariant value;
    if (m_sql->execute(q) && q.next())
        value = q.value(0).toString();
    q.finish();
    return value;
}

void Database::setParam(const QString& key, const QVariant& value)
{
    if (param(key) == value)
        return;
    if (key == ApiKey) {
        QSettings store(Organisation, Application);
        PrivateFile::prepare(store.fileName());
        store.setValue(ApiKey, value);
        store.sync();
        emit paramChanged(key, value);
        return;
    }
    QSqlQuery q = m_sql->query(QStringLiteral("INSERT OR REPLACE INTO Parameters (key, value) VALUES (?, ?)"));
    q.addBindValue(key);
    q.addBindValue(value);
    const bool ok = m_sql->execute(q);
    q.finish();
    if (ok)
        emit paramChanged(key, value);
}

QStringList Database::paramKeys()
{
    QSqlQuery q = m_sql->execute(QStringLiteral("SELECT key FROM Parameters"));
    QStringList keys;
    while (q.next())
        keys.append(q.value(0).toString());
    q.finish();
    keys.append(ApiKey);
    return keys;
}

} // namespace Backend

#include "SqlDatabase.h"

#include "DatabaseConnection.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>

SqlDatabase::SqlDatabase(const QString& path, QObject* parent)
    : QObject(parent)
    , m_path(path)
    , m_busyTimeoutMsec(DatabaseConnection::BusyTimeoutMsec)
{
}

SqlDatabase::SqlDatabase(const QString& path, int busyTimeoutMsec, QObject* parent)
    : QObject(parent)
    , m_path(path)
    , m_sharedCache(false)
    , m_busyTimeoutMsec(busyTimeoutMsec)
{
}

SqlDatabase::~SqlDatabase()
{
    // Qt reuses the storage slot for the next QThreadStorage; a record left here
    // would be handed to that one.
    if (m_connections.hasLocalData())
        m_connections.setLocalData(nullptr);
}

QSqlDatabase SqlDatabase::database() const
{
    if (!m_connections.hasLocalData()) {
        qInfo().noquote().nospace() << "[SqlDatabase] Creating new Database connection for thread ";
        m_connections.setLocalData(new DatabaseConnection(m_path, m_sharedCache, m_busyTimeoutMsec));
    }
    return QSqlDatabase::database(m_connections.localData()->name(), true);
}

QSqlQuery SqlDatabase::query(const QString& sql) const
{
    QSqlQuery q(database());
    q.prepare(sql);
    return q;
}

bool SqlDatabase::execute(QSqlQuery& query) const
{
    QElapsedTimer timer;
    timer.start();
    // exec() replaces the error of a failed prepare by a bare "No query"; keep it for the log.
    const QSqlError prepareError = query.lastError();
    const bool ok = query.exec();
    qDebug().noquote().nospace() << "[SqlDatabase] Executed query : " << query.executedQuery();
    if (ok) {
        qDebug().noquote().nospace() << "[SqlDatabase] Operation completed in : " << timer.elapsed() << " msec(s)";
    } else {
        // A statement that never prepared fails without an SQLite code of its own.
        QSqlError error = query.lastError();
        if (error.nativeErrorCode().isEmpty() && prepareError.isValid())
            error = prepareError;
        // On a connection that would not open, the reason is the driver's.
        const QSqlDriver* driver = query.driver();
        if (driver && !driver->isOpen() && driver->lastError().isValid())
            error = driver->lastError();
        qCritical().noquote().nospace() << "[SqlDatabase] ERROR: Could not execute query : " << query.executedQuery();
        qCritical().noquote().nospace() << "[SqlDatabase] ERROR: " << error.text();
    }
    return ok;
}

QSqlQuery SqlDatabase::execute(const QString& sql) const
{
    QSqlQuery q = query(sql);
    execute(q);
    return q;
}

int SqlDatabase::userVersion() const
{
    QSqlQuery q(database());
    if (q.exec(QStringLiteral("PRAGMA user_version;")) && q.next())
        return q.value(0).toInt();
    return 0;
}

bool SqlDatabase::setUserVersion(int version)
{
    QSqlQuery q(database());
    return q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version));
}

bool SqlDatabase::tableExists(const QString& name) const
{
    return database().tables(QSql::Tables).contains(name, Qt::CaseInsensitive);
}

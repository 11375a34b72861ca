#include "DatabaseConnection.h"

#include "PrivateFile.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QUuid>

DatabaseConnection::DatabaseConnection(const QString& path, bool sharedCache, int busyTimeoutMsec)
    : m_name(QUuid::createUuid().toString())
{
    // SQLite gives its journal files the mode of the database file. It makes no folder,
    // so neither is one made here.
    const QFileInfo file(path);
    if (file.absoluteDir().exists() && path != QLatin1String(":memory:") && !path.startsWith(QLatin1String("file:")))
        PrivateFile::prepare(path);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    db.setConnectOptions(connectOptions(sharedCache, busyTimeoutMsec));
    db.open();
    if (!db.isOpen())
        qCritical().noquote().nospace() << "[SqlDatabase] ERROR: Database open failed : " << db.lastError().text();
}

DatabaseConnection::~DatabaseConnection()
{
    {
        // The handle must be gone before removeDatabase, or Qt reports it still in use.
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QString DatabaseConnection::connectOptions(bool sharedCache, int busyTimeoutMsec)
{
    const QString busy = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMsec);
    return sharedCache ? QStringLiteral("QSQLITE_ENABLE_SHARED_CACHE;") + busy : busy;
}

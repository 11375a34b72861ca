#pragma once
// Access to one SQLite file: one connection per thread that uses it, prepared
// queries, timed and logged execution, the user version and table lookup.

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QThreadStorage>

class DatabaseConnection;

class SqlDatabase : public QObject
{
    Q_OBJECT
public:
    explicit SqlDatabase(const QString& path, QObject* parent = nullptr);
    // Connections of their own, outside the process's shared cache: they meet the shared
    // ones through the file's locks, and wait up to busyTimeoutMsec for another writer.
    SqlDatabase(const QString& path, int busyTimeoutMsec, QObject* parent = nullptr);
    // Closes the calling thread's connection. Other threads must be done with
    // the object before it goes.
    ~SqlDatabase() override;

    // The calling thread's connection, created on its first use and (re)opened.
    QSqlDatabase database() const;
    // A query on the thread's connection with sql prepared; a failed preparation
    // shows up when the query is executed.
    QSqlQuery query(const QString& sql) const;
    bool execute(QSqlQuery& query) const;
    QSqlQuery execute(const QString& sql) const;

    int userVersion() const;
    bool setUserVersion(int version);
    bool tableExists(const QString& name) const;

    QString path() const { return m_path; }

private:
    QString m_path;
    bool m_sharedCache = true;
    int m_busyTimeoutMsec = 0;
    mutable QThreadStorage<DatabaseConnection*> m_connections;
};

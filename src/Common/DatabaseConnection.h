#pragma once
// One registered SQLite connection of one thread, removed again when the record goes.

#include <QString>

class DatabaseConnection
{
public:
    // Busy time-out given to SQLite: a maintenance session or a backup holding the
    // file's lock makes writes wait this long instead of failing at once.
    static constexpr int BusyTimeoutMsec = 5000;

    // A shared connection shares the process's cache of the file with its other shared
    // connections; a private one has its own and meets them through the file's locks.
    explicit DatabaseConnection(const QString& path, bool sharedCache = true, int busyTimeoutMsec = BusyTimeoutMsec);
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    // Name under which the connection is registered with QSqlDatabase.
    QString name() const { return m_name; }

    static QString connectOptions(bool sharedCache = true, int busyTimeoutMsec = BusyTimeoutMsec);

private:
    QString m_name;
};

#pragma once
// One registered SQLite connection of one thread, removed again when the record goes.

#include <QString>

class DatabaseConnection
{
public:
    // Busy time-out given to SQLite: a maintenance session or a backup holding the
    // file's lock makes writes wait this long instead of failing at once.
    static constexpr int BusyTimeoutMsec = 5000;

    explicit DatabaseConnection(const QString& path);
    ~DatabaseConnection();
    DatabaseConnection(const DatabaseConnection&) = delete;
    DatabaseConnection& operator=(const DatabaseConnection&) = delete;

    // Name under which the connection is registered with QSqlDatabase.
    QString name() const { return m_name; }

    static QString connectOptions();

private:
    QString m_name;
};

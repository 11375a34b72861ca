#pragma once
// The terminal's local SQLite store: reference data (customs offices, locations), the
// card blacklist, key-value parameters (the API key apart, in the per-user settings)
// and the queue of transactions waiting for the back office.

#include "Transaction.h"

#include <QList>
#include <QObject>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

class Config;
class QSqlError;
class SqlDatabase;

namespace Backend {

class Database : public QObject
{
    Q_OBJECT
public:
    struct DataRecord
    {
        int id = 0;
        QString name;
        QString uuid;
    };

    enum class AddResult { Added, Duplicate, Failed };

    explicit Database(Config& config, QObject* parent = nullptr, const QString& path = QStringLiteral("terminal.db"));
    ~Database() override;

    void blacklistAdd(const QString& uid);
    void blacklistRemove(const QString& uid);
    bool isBlacklisted(const QString& uid);
    // All of a blacklist change or nothing: true only when every uid went in or out
    // (a uid already present, or an absent one removed, counts as done).
    bool blacklistApply(const QStringList& added, const QStringList& removed);
    int blacklistCount();

    int transCount(const QString& status);
    // Queues the record as PENDING, due now. Duplicate when its uuid is stored already.
    AddResult transAdd(const Transaction::Ptr& trans);
    bool transUpdate(const Transaction::Ptr& trans);
    // The same on another SQL service of the file (the send queue's, on its own thread).
    static bool transUpdate(const SqlDatabase& sql, const Transaction::Ptr& trans);
    void transCleanup(const QDateTime& before);
    QList<Transaction::Ptr> transPending();
    // The due record scheduled earliest (null when none is due); dueCount, when given,
    // gets the number of due records.
    Transaction::Ptr transDueForSend(int* dueCount = nullptr);
    Transaction::Ptr transFind(const QString& uuid);

    DataRecord findCustoms(int id);
    DataRecord findLocation(int id);
    QList<DataRecord> customs();
    QList<DataRecord> locations();
    void setCustoms(const QList<DataRecord>& records);
    void setLocations(const QList<DataRecord>& records);

    QVariant param(const QString& key);
    void setParam(const QString& key, const QVariant& value);
    QStringList paramKeys();

    QString path() const { return m_path; }
    SqlDatabase& sql() { return *m_sql; }

    static bool isCorruptionError(const QSqlError& error);

    // The points between the steps of a corrupt file's rescue: the copy committed in the
    // file being built, that file complete, the corrupt file moved aside.
    enum class RescueStep { Copied, Completed, SetAside };
    // Called at each of those points; tests end the process there to see a restart finish the job.
    static void setRescueHook(std::function<void(RescueStep)> hook);

signals:
    void paramChanged(const QString& key, const QVariant& value);
    void customsChanged();
    void locationsChanged();

private:
    // A corrupt file is rescued in steps a kill may cut anywhere: its readable rows go into
    // a file built beside it, which takes its place only once complete. Until then the
    // corrupt file stays the store, and the next start begins the copy again; after
    // that, the next start finishes the swap.
    void open();
    bool fileIsCorrupt();
    // Builds the copy; false when it could not be completed (the corrupt file then stays).
    bool buildRescue();
    // Puts a completed copy in place of the corrupt file, which is kept under another name.
    void finishRescue();
    // False when rows read could not all be written to the file being built.
    bool rescueTransactions(const QString& source);
    void createTables();
    DataRecord findRecord(const QString& table, int id);
    QList<DataRecord> records(const QString& table);
    void setRecords(const QString& table, const QList<DataRecord>& records);
    QList<Transaction::Ptr> readTransactions(QSqlQuery& query);

    [[maybe_unused]] Config& m_config;
    QString m_path;
    std::unique_ptr<SqlDatabase> m_sql;
};

} // namespace Backend

#pragma once
// Keeps the terminal known to the back office: registration, reference data,
// heartbeats with the device status and their announcements (blacklist, software,
// configuration), update progress, and the persistent transaction send queue.

#include "Database.h"
#include "Deferred.h"
#include "HttpClient.h"
#include "QueueRecorder.h"
#include "TerminalInfo.h"
#include "Transaction.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QTimer>
#include <QUrlQuery>

class Config;

namespace Backend {

class CardBO : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString reason READ reason NOTIFY stateChanged)
    Q_PROPERTY(QDateTime lastComms READ lastComms NOTIFY lastCommsChanged)
public:
    enum State { Init = 0, NotRegistered = 1, Online = 2, Error = 3, Stopped = 4 };
    Q_ENUM(State)

    static constexpr int FirstTickMsec = 500;
    static constexpr int IdleTickMsec = 30000;
    static constexpr int ErrorTickMsec = 5000;
    static constexpr int QueueIntervalMsec = 120000;
    static constexpr int RequestTimeoutMsec = 30000;
    // Progress reports waiting for the one before them to be answered; beyond it the oldest
    // waiting one that is not an outcome goes.
    static constexpr int MaxProgressWaiting = 16;

    CardBO(Config& config, Database& database, TerminalInfo& terminal, QObject* parent = nullptr);
    ~CardBO() override;

    State state() const { return m_state; }
    QString reason() const { return m_reason; }
    QDateTime lastComms() const { return m_lastComms; }
    static QString stateToStr(int state);

    Deferred<> registerDevice();
    Deferred<> updateData();
    Deferred<> heartbeat();
    Deferred<> updateBlacklist(const QString& after);
    Deferred<> clearProgress();
    Deferred<> transmitTransaction(const Transaction::Ptr& trans);

    // Bodies and reports, built afresh for every request.
    QJsonObject registrationBody() const;
    QJsonObject heartbeatBody();
    QJsonArray statusReport() const;
    QString cardLevel() const;
    QJsonObject networkReport() const;
    QJsonArray configReport() const;

    static bool shouldRetransmit(int status);
    static QDateTime nextSendDate(int attempts);

    // Interval the tick timer runs with next; tests read it.
    int tickInterval() const { return m_tickTimer.interval(); }
    bool sendInFlight() const { return m_sending; }
    int retryBufferSize() const { return m_retryBuffer.size(); }
    int progressWaiting() const { return m_progressWaiting.size(); }
    bool progressSending() const { return m_progressSending; }
    // Tests shorten the request time-out.
    void setRequestTimeout(int msec) { m_requestTimeout = msec; }

public slots:
    void start();
    void stop();
    void sendTransaction(Backend::Transaction::Ptr trans);
    void sendProgress(const QString& operation, int percent);
    void processPendingTransactions();

signals:
    void stateChanged();
    void lastCommsChanged();

private slots:
    void onTick();
    void onParamChanged(const QString& key, const QVariant& value);
    void onConfigChanged(const QVariantMap& changes);

private:
    struct ProgressReport
    {
        QString operation;
        int percent = 0;
        // "Updated" or a failure: what the back office must hear whatever waits.
        bool isOutcome() const { return percent >= 100; }
    };

    void initClient();
    void initTimer();
    void setState(State state, const QString& reason);
    void processStateInit();
    void processStateNotRegistered();
    void processStateOnline();
    bool checkTerminalReady();
    bool checkTerminalRegistered();
    QUrl createUrl(const QString& path, const QUrlQuery& query = QUrlQuery()) const;
    // Runs the handler on success, logs through handleErrorResponse on failure.
    Deferred<> relay(Deferred<int, QJsonValue> request, std::function<bool(int, const QJsonValue&)> handler);
    void handleErrorResponse(int status, const QJsonValue& body) const;
    void handleRegisterResponse(const QJsonValue& body);
    void handleUpdateDataResponse(int status, const QJsonValue& body);
    bool handleBlacklistResponse(int status, const QJsonValue& body);
    void handleHeartbeatResponse(int status, const QJsonValue& body);
    // Settles once the delivery state is stored, on the queue's own thread.
    Deferred<> handleTransResponse(const Transaction::Ptr& trans, int status, const QJsonValue& body, bool completed);
    void triggerSoftware(const QJsonObject& reply);
    void applyConfig(const QJsonArray& config);
    void updateLastComms();
    void flushRetryBuffer();
    void releaseSendLock();
    void sendNextProgress();
    static QList<Database::DataRecord> parseData(const QJsonArray& array);

    Config& m_config;
    Database& m_database;
    TerminalInfo& m_terminal;
    State m_state = Stopped;
    QString m_reason;
    QDateTime m_lastComms;
    HttpClient m_http;
    QueueRecorder m_recorder;
    QTimer m_tickTimer;
    QTimer m_queueTimer;
    QMutex m_sendLock;
    bool m_sending = false;
    // Records the database would not take; stored again at every queue run.
    QList<Transaction::Ptr> m_retryBuffer;
    // Counts starts and stops: a reply of an older run changes no state.
    int m_run = 0;
    bool m_replyRecorded = false;
    int m_requestTimeout = RequestTimeoutMsec;
    // The version and operation last logged as not ordered while the update service was busy.
    QString m_softwareBusyNoted;
    QList<ProgressReport> m_progressWaiting;
    bool m_progressSending = false;
};

} // namespace Backend

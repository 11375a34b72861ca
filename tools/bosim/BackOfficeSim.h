#pragma once
// The back office's device REST service for tests and local runs: HTTPS on
// loopback with TLS 1.2 and a required client certificate, every device endpoint,
// replies scriptable per endpoint, the API key checked once a device registered,
// transactions counted by transactionUid, and a journal of every request.

#include "ScriptedReply.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <QTcpServer>

class QSslSocket;

class BackOfficeSim : public QTcpServer
{
    Q_OBJECT
public:
    struct Entry
    {
        QString method;
        QString path;
        QString query;
        QMap<QString, QString> headers; // names in lower case
        QByteArray body;
        QString clientSubject;
        int status = 0;
        QJsonObject toJson() const;
    };

    explicit BackOfficeSim(QObject* parent = nullptr);

    // PEM files: the CA that signs client certificates, the server's certificate and key.
    bool setCertificates(const QString& caPath, const QString& certPath, const QString& keyPath);
    QString error() const { return m_error; }
    bool start(quint16 port = 0);
    QString url() const;

    // Replies an endpoint ("register", "updateData", "heartbeat", "blacklist",
    // "operation/status", "transaction") gives before its own; times -1 keeps it for ever.
    void script(const QString& endpoint, const ScriptedReply& reply, int times = 1);
    void clearScripts() { m_scripts.clear(); }
    // Extra members of every heartbeat reply ("blacklistVersion" is added by setBlacklist).
    void setHeartbeatReply(const QJsonObject& reply) { m_heartbeatReply = reply; }
    // Publishes a blacklist version; the heartbeat announces the latest one.
    void setBlacklist(const QString& version, const QStringList& uids);
    void setReferenceData(const QJsonArray& customs, const QJsonArray& locations);
    QString apiKey() const { return m_apiKey; }
    void setApiKey(const QString& key) { m_apiKey = key; }

    QList<Entry> journal() const { return m_journal; }
    QList<Entry> journal(const QString& endpoint) const;
    // Requests in the order their answers went out (a dropped one is not answered).
    QList<Entry> answered(const QString& endpoint) const;
    void clearJournal();
    // Answers every held reply, in the order the requests came.
    void release();
    // Receipts per transactionUid; a count above 1 is a duplicate delivery.
    QMap<QString, int> transactions() const { return m_transactions; }
    void clearTransactions() { m_transactions.clear(); }
    int duplicates() const;

signals:
    void requestHandled(const BackOfficeSim::Entry& entry);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Script
    {
        ScriptedReply reply;
        int times = 1;
    };
    struct Answer
    {
        Answer(int code = 200, const QByteArray& bytes = QByteArray())
            : status(code)
            , body(bytes)
        {
        }
        int status;
        QByteArray body;
        QString location;
        bool stall = false;
    };

    void onReadyRead(QSslSocket* socket);
    void handle(QSslSocket* socket, Entry entry);
    Answer own(const QString& endpoint, const Entry& entry);
    Answer control(const QString& command, const Entry& entry);
    Answer blacklist(const QString& after) const;
    void answer(QSslSocket* socket, const Entry& entry, const Answer& answer);
    static void respond(QSslSocket* socket, const Answer& answer);
    static QByteArray json(const QJsonValue& value);

    QList<QSslCertificate> m_ca;
    QSslCertificate m_cert;
    QSslKey m_key;
    QString m_error;
    QMap<QString, QList<Script>> m_scripts;
    QJsonObject m_heartbeatReply;
    QMap<QString, QStringList> m_blacklists;
    QString m_blacklistVersion;
    QJsonArray m_customs;
    QJsonArray m_locations;
    QString m_apiKey;
    int m_nextId = 1;
    QList<Entry> m_journal;
    QList<Entry> m_answered;
    struct Held
    {
        QPointer<QSslSocket> socket;
        Entry entry;
        Answer answer;
    };
    QList<Held> m_held;
    QMap<QString, int> m_transactions;
};

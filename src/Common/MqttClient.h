#pragma once
// The process's one connection to the local MQTT broker: remembers its
// subscriptions and renews them after every reconnection, reconnects without
// end at a fixed interval, and carries request/response calls over topics.

#include "Deferred.h"
#include "MosquittoClient.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <map>
#include <memory>

class QTimer;

namespace manager {

class MqttClient : public QObject
{
    Q_OBJECT
public:
    explicit MqttClient(QObject* parent = nullptr);
    ~MqttClient() override;

    // Each setter only stores its value; the next connect() applies it.
    void setHostname(const QString& hostname) { m_hostname = hostname; }
    void setPort(unsigned int port) { m_port = port; }
    void setUsername(const QString& username) { m_username = username; }
    void setPassword(const QString& password) { m_password = password; }
    void setRetryMillis(unsigned int millis) { m_retryMillis = millis; }
    void setEncrypted(bool encrypted) { m_encrypted = encrypted; }
    void setCleanSession(bool clean) { m_cleanSession = clean; }
    void setClientId(const QString& id) { m_clientId = id; }
    void setKeepAlive(unsigned char seconds) { m_keepAlive = seconds; }
    void setWillMessage(const QByteArray& message) { m_willMessage = message; }
    void setWillQoS(unsigned char qos) { m_willQoS = qos; }
    void setWillRetain(bool retain) { m_willRetain = retain; }
    void setWillTopic(const QString& topic) { m_willTopic = topic; }

    Q_INVOKABLE void connect();
    Q_INVOKABLE void disconnect();
    Q_INVOKABLE void subscribe(const QString& topic, quint8 qos = 0);
    Q_INVOKABLE bool publish(const QByteArray& data, const QString& topic, quint8 qos = 0, bool retain = false);
    // True while connected to the broker: a publish now is handed to it.
    bool isConnected() const;
    // Publishes request on topic + "/request/" + rpcId and resolves with the
    // JSON object that arrives on topic + "/response/" + rpcId.
    Q_INVOKABLE Deferred<QJsonValue> executeRpc(
        const QString& topic, const QString& rpcId, const QJsonObject& request, int msec = 3000);
    // Resolves with the first JSON object on topic; msec 0 waits for ever.
    Q_INVOKABLE Deferred<QJsonValue> waitTopic(const QString& topic, int msec = 3000);

    // A reply payload as a wait reads it: up to the first NUL, empty as {}.
    // False when it is not one JSON object.
    static bool parseReply(const QByteArray& payload, QJsonObject& object);

signals:
    void connected();
    void disconnected();
    void received(QByteArray data, QByteArray from);
    void error(QString message);

private slots:
    void onConnected();
    void onDisconnected();
    void onStateChanged(MosquittoClient::ClientState state);
    void onReceived(const QByteArray& message, const MqttTopicName& topic);
    void onError(MosquittoClient::ClientError error);
    void onTimeout();
    void onReconnect();

private:
    struct Wait;
    using WaitPtr = std::shared_ptr<Wait>;

    // The settings a connection attempt was made with.
    struct Settings
    {
        QString hostname;
        unsigned int port;
        QString username;
        QString password;
        bool cleanSession;
        QString clientId;
        unsigned char keepAlive;
        QByteArray willMessage;
        unsigned char willQoS;
        bool willRetain;
        QString willTopic;
        bool operator==(const Settings& other) const;
    };

    void initTimer();
    void initClient();
    Settings settings() const;
    void doSubscribe(const MqttTopicFilter& filter, quint8 qos);
    bool attachWait(const WaitPtr& wait);
    void endWait(const WaitPtr& wait);
    void onWaitMessage(quint64 id, const MqttMessage& message);
    void onWaitTimeout(quint64 id);
    void onWaitRefused(quint64 id);

    MosquittoClient* m_client = nullptr;
    QTimer* m_timer = nullptr;
    QList<QPair<MqttTopicFilter, quint8>> m_subscriptions;
    QString m_hostname = QStringLiteral("127.0.0.1");
    unsigned int m_port = 1883;
    QString m_username;
    QString m_password;
    unsigned int m_retryMillis = 3000;
    bool m_encrypted = false;
    bool m_cleanSession = true;
    QString m_clientId;
    unsigned char m_keepAlive = 5;
    QByteArray m_willMessage;
    unsigned char m_willQoS = 2;
    bool m_willRetain = true;
    QString m_willTopic;

    // One reconnection scheduled at a time, however often the link drops.
    QTimer* m_reconnectTimer = nullptr;
    Settings m_live {};
    std::map<quint64, WaitPtr> m_waits;
    quint64 m_nextWait = 0;
};

} // namespace manager

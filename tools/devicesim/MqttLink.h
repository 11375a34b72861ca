#pragma once
// One libmosquitto connection driven by the Qt event loop: keeps reconnecting,
// renews its subscriptions on every connect and carries an optional will.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;

class MqttLink : public QObject
{
    Q_OBJECT

public:
    MqttLink(const QString& clientId, const QString& host, quint16 port, QObject* parent = nullptr);
    ~MqttLink() override;

    // Published retained at QoS 1 by the broker when the connection is lost
    // without a clean disconnect. Must be set before start().
    void setWill(const QString& topic, const QByteArray& payload);
    // Subscribed at QoS 1 on every connect.
    void addSubscription(const QString& filter);
    void start();
    bool isConnected() const { return m_connected; }
    // Connected, and the broker granted every subscription: messages on them reach this link.
    bool isSubscribed() const { return m_connected && m_pendingSubscriptions.isEmpty() && !m_subscriptionRefused; }

    // QoS 1. Returns false when the message could not be queued (not connected).
    bool publish(const QString& topic, const QByteArray& payload, bool retain = false);
    // Clean disconnect that flushes what is queued; no reconnect afterwards.
    void shutdown();

signals:
    void connected();
    void disconnected();
    // The broker acknowledged the subscriptions and granted them all.
    void subscribed();
    void messageReceived(const QString& topic, const QByteArray& payload);

private:
    static void onConnectCallback(mosquitto* mosq, void* self, int rc);
    static void onDisconnectCallback(mosquitto* mosq, void* self, int rc);
    static void onMessageCallback(mosquitto* mosq, void* self, const mosquitto_message* message);
    static void onSubscribeCallback(mosquitto* mosq, void* self, int mid, int count, const int* granted);

    void tryConnect();
    void subscribe(const QString& filter);
    void armNotifiers();
    void dropNotifiers();
    void updateWriteNotifier();
    void onReadable();
    void onWritable();
    void scheduleRetry();

    QString m_clientId;
    QString m_host;
    quint16 m_port;
    QStringList m_subscriptions;
    // Sent and not yet acknowledged, by message id.
    QHash<int, QString> m_pendingSubscriptions;
    bool m_subscriptionRefused = false;
    mosquitto* m_mosq = nullptr;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer m_miscTimer;
    QTimer m_retryTimer;
    bool m_connected = false;
    bool m_stopping = false;
    bool m_connectFailureLogged = false;
};

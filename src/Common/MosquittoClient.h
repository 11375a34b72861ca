#pragma once
// MQTT 3.1.1 client on libmosquitto, driven by the Qt event loop of its thread:
// the library's only boundary. Connection states, error codes, subscriptions
// and signal order are those the rest of the system expects of an MQTT client.

#include "MqttMessage.h"
#include "MqttSubscription.h"
#include "MqttTopicFilter.h"
#include "MqttTopicName.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <vector>

struct mosquitto;
struct mosquitto_message;
class QHostInfo;
class QSocketNotifier;
class QTimer;

class MosquittoClient : public QObject
{
    Q_OBJECT
public:
    enum ClientState { Disconnected = 0, Connecting, Connected };
    Q_ENUM(ClientState)

    enum ClientError {
        NoError = 0,
        // Return codes of a refused CONNACK.
        InvalidProtocolVersion = 1,
        IdRejected = 2,
        ServerUnavailable = 3,
        BadUsernameOrPassword = 4,
        NotAuthorized = 5,
        // Refused, closed, cut or keep-alive lost.
        TransportInvalid = 256,
        ProtocolViolation = 257,
        UnknownError = 258
    };
    Q_ENUM(ClientError)

    enum ProtocolVersion { MQTT_3_1 = 3, MQTT_3_1_1 = 4 };

    explicit MosquittoClient(QObject* parent = nullptr);
    // Closes a live session with DISCONNECT, so the broker drops the will.
    ~MosquittoClient() override;

    // Settings take effect with the next connectToHost.
    void setHostname(const QString& hostname) { m_hostname = hostname; }
    void setPort(quint16 port) { m_port = port; }
    void setUsername(const QString& username) { m_username = username; }
    void setPassword(const QString& password) { m_password = password; }
    void setCleanSession(bool clean) { m_cleanSession = clean; }
    void setClientId(const QString& id) { m_clientId = id; }
    void setKeepAlive(quint16 seconds) { m_keepAlive = seconds; }
    void setWillMessage(const QByteArray& message) { m_willMessage = message; }
    void setWillQoS(quint8 qos) { m_willQoS = qos; }
    void setWillRetain(bool retain) { m_willRetain = retain; }
    void setWillTopic(const QString& topic) { m_willTopic = topic; }
    void setProtocolVersion(ProtocolVersion version) { m_protocolVersion = version; }

    QString hostname() const { return m_hostname; }
    quint16 port() const { return m_port; }
    QString username() const { return m_username; }
    QString password() const { return m_password; }
    bool cleanSession() const { return m_cleanSession; }
    QString clientId() const { return m_clientId; }
    quint16 keepAlive() const { return m_keepAlive; }
    QByteArray willMessage() const { return m_willMessage; }
    quint8 willQoS() const { return m_willQoS; }
    bool willRetain() const { return m_willRetain; }
    QString willTopic() const { return m_willTopic; }
    ProtocolVersion protocolVersion() const { return m_protocolVersion; }

    ClientState state() const { return m_state; }
    ClientError error() const { return m_error; }

    // Starts a connection attempt without blocking; ignored unless Disconnected.
    void connectToHost();
    // Sends DISCONNECT and closes the session (no will).
    void disconnectFromHost();
    // Drops the socket at once without DISCONNECT, like a lost connection.
    void closeTransport();

    // Null when not Connected or for an invalid filter. A filter already
    // subscribed gives the same object with one more user.
    MqttSubscription* subscribe(const MqttTopicFilter& filter, quint8 qos = 0);
    // One user less; UNSUBSCRIBE goes out when the filter has no user left.
    void unsubscribe(const MqttTopicFilter& filter);
    // The message id (0 for QoS 0), or -1 when not Connected, for a topic with
    // wildcards or when the library refuses the message.
    qint32 publish(
        const MqttTopicName& topic, const QByteArray& message = QByteArray(), quint8 qos = 0, bool retain = false);

    // Live subscription objects, pending unsubscriptions included.
    int subscriptionCount() const;

signals:
    void connected();
    void disconnected();
    void stateChanged(MosquittoClient::ClientState state);
    void errorChanged(MosquittoClient::ClientError error);
    void messageReceived(const QByteArray& message, const MqttTopicName& topic);

private:
    struct Event
    {
        enum Kind { Connack, Lost, Message, Suback, Unsuback };
        Event(Kind k, quint64 g)
            : kind(k)
            , generation(g)
        {
        }
        Kind kind;
        quint64 generation;
        int code = 0;
        int mid = 0;
        int qos = 0;
        bool retain = false;
        QByteArray topic;
        QByteArray payload;
    };

    static void onConnectCallback(mosquitto* mosq, void* self, int rc);
    static void onDisconnectCallback(mosquitto* mosq, void* self, int rc);
    static void onMessageCallback(mosquitto* mosq, void* self, const mosquitto_message* message);
    static void onSubscribeCallback(mosquitto* mosq, void* self, int mid, int count, const int* granted);
    static void onUnsubscribeCallback(mosquitto* mosq, void* self, int mid);

    bool createHandle();
    void releaseHandle();
    // Tries the addresses in turn while the library refuses them at once.
    void connectTo(const QStringList& hosts);
    void onHostFound(quint64 generation, const QHostInfo& info);
    void onReadable();
    void onWritable();
    void onMiscTimer();
    void record(Event::Kind kind, int code = 0);
    // After every library call: follow the socket and the wish to write.
    void followSocket();
    // After an API call: what happened is delivered from the event loop.
    void afterLibraryCall();
    // After a loop_* call from the event loop: delivered at once.
    void afterLoopCall();
    void scheduleDispatch();
    void dispatchEvents();
    void handle(const Event& event);
    void handleLost(int code);
    void dropNotifiers();
    void setState(ClientState state);
    static ClientError errorFromLibrary(int rc);

    QString m_hostname;
    quint16 m_port = 1883;
    QString m_username;
    QString m_password;
    bool m_cleanSession = true;
    QString m_clientId;
    quint16 m_keepAlive = 60;
    QByteArray m_willMessage;
    quint8 m_willQoS = 0;
    bool m_willRetain = false;
    QString m_willTopic;
    ProtocolVersion m_protocolVersion = MQTT_3_1_1;

    ClientState m_state = Disconnected;
    ClientError m_error = NoError;
    // CONNACK return code of the attempt in progress, reported with its loss.
    int m_refusal = 0;

    mosquitto* m_mosq = nullptr;
    // Events of an earlier handle are stale once a new one exists.
    quint64 m_generation = 0;
    int m_socket = -1;
    // The host name lookup in progress, -1 when none.
    int m_lookupId = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_miscTimer;

    std::deque<Event> m_events;
    bool m_dispatching = false;
    bool m_dispatchScheduled = false;

    // Live subscription of each filter; guarded in case a user deletes one.
    QHash<QString, QPointer<MqttSubscription>> m_subscriptions;
    QHash<int, QPointer<MqttSubscription>> m_pendingSubacks;
    QHash<int, QPointer<MqttSubscription>> m_pendingUnsubacks;
};

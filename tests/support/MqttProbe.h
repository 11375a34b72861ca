#pragma once
// A raw libmosquitto client for tests, on its own network thread: publishes,
// subscribes and records every message it receives in arrival order. It plays
// the peer of a program under test without using any of the terminal's classes.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

struct mosquitto;

class MqttProbe
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;

        // The payload as a JSON object; empty when it is none.
        QJsonObject json() const;
    };

    // An empty client id picks a unique one.
    explicit MqttProbe(const QString& clientId = QString());
    ~MqttProbe();
    MqttProbe(const MqttProbe&) = delete;
    MqttProbe& operator=(const MqttProbe&) = delete;

    // Connects and waits for the broker's acknowledgement. The waits below run Qt events meanwhile.
    bool connectTo(const QString& host, quint16 port, int timeoutMs = 5000);
    bool isConnected() const;
    void disconnect();
    // QoS 1; waits for the broker's SUBACK.
    bool subscribe(const QString& filter, int timeoutMs = 5000);
    // QoS 1; waits for the broker's PUBACK, so the message is routed when this returns.
    bool publish(const QString& topic, const QByteArray& payload, bool retain = false, int timeoutMs = 5000);
    // QoS 1, handed to the network thread without waiting and without running Qt events: a
    // client under test on this thread takes nothing in meanwhile.
    bool publishNow(const QString& topic, const QByteArray& payload);

    QList<Message> messages() const;
    QList<Message> messages(const QString& topic) const;
    int count() const;
    void clear();
    // Index of the first message on topic at or after index from, waiting up to timeoutMs; -1 if none came.
    int waitFor(const QString& topic, int timeoutMs = 5000, int from = 0);
    // As waitFor, for the first message that also satisfies the predicate.
    int waitFor(
        const QString& topic, const std::function<bool(const Message&)>& predicate, int timeoutMs = 5000, int from = 0);
    Message at(int index) const;

    // A request of the device envelope: subscribes to base+path+"/response/"+id, publishes the
    // parameters on base+path+"/request/"+id, and returns the reply; none on time-out.
    std::optional<Message> call(
        const QString& base, const QString& path, const QString& id, const QJsonObject& params, int timeoutMs = 5000);

    // Answers each message on a topic with "/request/" in it on the matching "/response/" topic
    // (QoS 1) with what answer returns for its payload; an empty function answers nothing.
    void setResponder(const std::function<QByteArray(const QByteArray&)>& answer);

    // Runs Qt events until the condition holds or the time is up.
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

private:
    static void onAck(mosquitto* mosq, void* self, int mid);

    bool acked(int mid) const;

    mosquitto* m_mosq = nullptr;
    bool m_loopRunning = false;
    mutable QMutex m_mutex;
    QList<Message> m_messages;
    std::function<QByteArray(const QByteArray&)> m_responder;
    QSet<int> m_acked;
    bool m_connected = false;
};

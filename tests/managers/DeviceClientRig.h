#pragma once
// A real broker, the terminal's MQTT client and a raw MQTT peer that plays a
// device service, with barriers that make "nothing happened" checkable.

#include "Deferred.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QStringList>

#include <memory>
#include <optional>

// The outcome of a deferred result as the test sees it.
template<class R> struct Outcome
{
    int state = 0; // 0 pending, 1 resolved, 2 rejected
    R value {};
    int calls = 0;
};

template<class R> std::shared_ptr<Outcome<R>> follow(const Deferred<R>& d)
{
    auto out = std::make_shared<Outcome<R>>();
    d.done([out](const R& value) {
        out->state = 1;
        out->value = value;
        ++out->calls;
    });
    d.fail([out](const R& value) {
        out->state = 2;
        out->value = value;
        ++out->calls;
    });
    return out;
}

template<class R> bool settles(const std::shared_ptr<Outcome<R>>& out, int timeoutMs = 5000)
{
    return MqttProbe::waitUntil([out] { return out->state != 0; }, timeoutMs);
}

inline QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline QJsonObject parseObject(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object();
}

class DeviceClientRig
{
public:
    MosquittoBroker broker;
    manager::MqttClient client;

    explicit DeviceClientRig(const QString& root)
        : m_root(root)
        , m_peer(std::make_unique<MqttProbe>())
    {
        QObject::connect(&client, &manager::MqttClient::received, &client,
            [this](const QByteArray&, const QByteArray& topic) { m_received << QString::fromUtf8(topic); });
    }

    // Starts the broker and the peer (which hears everything under the root), then
    // connects the client; device clients built before this are subscribed when it returns.
    bool up()
    {
        if (!broker.start() || !connectPeer())
            return false;
        // Subscribed last, so the device clients' subscriptions are in place once it works.
        client.subscribe(m_root + QStringLiteral("/sync/#"));
        client.setHostname(broker.host());
        client.setPort(broker.port());
        client.setRetryMillis(500);
        client.setClientId(QStringLiteral("terminal-under-test"));
        QSignalSpy connected(&client, &manager::MqttClient::connected);
        client.connect();
        if (connected.isEmpty() && !connected.wait(5000))
            return false;
        return sync();
    }

    // Returns once everything the peer published before has reached the client.
    bool sync()
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const QString topic = m_root + QStringLiteral("/sync/") + QString::number(++m_syncs);
            if (!peer().publish(topic, "{}"))
                return false;
            if (MqttProbe::waitUntil([this, topic] { return m_received.contains(topic); }, 200))
                return true;
        }
        return false;
    }

    // The peer publishes one message and waits until the client has it.
    bool feed(const QString& topic, const QByteArray& payload) { return peer().publish(topic, payload) && sync(); }

    // Returns the index of a mark the client publishes: every message the client sent
    // before it has reached the peer at a lower index.
    int mark()
    {
        const QString topic = m_root + QStringLiteral("/mark/") + QString::number(++m_marks);
        if (!client.publish("{}", topic))
            return -1;
        return peer().waitFor(topic, 5000, 0);
    }

    // Topics the peer saw from index from up to (not including) to, barrier messages left out.
    QStringList seen(int from, int to) const
    {
        QStringList topics;
        for (int i = from; i < to; ++i) {
            const QString topic = peer().at(i).topic;
            if (!topic.startsWith(m_root + QStringLiteral("/sync/"))
                && !topic.startsWith(m_root + QStringLiteral("/mark/")))
                topics << topic;
        }
        return topics;
    }

    // Waits for the request on topic + "/request/" + id; its payload, or none when it did not come.
    std::optional<QByteArray> request(const QString& topic, const QString& id, int from = 0, int timeoutMs = 5000)
    {
        const int index = peer().waitFor(topic + QStringLiteral("/request/") + id, timeoutMs, from);
        if (index < 0)
            return std::nullopt;
        return peer().at(index).payload;
    }

    bool reply(const QString& topic, const QString& id, const QByteArray& payload)
    {
        return peer().publish(topic + QStringLiteral("/response/") + id, payload);
    }

    QString root() const { return m_root; }
    MqttProbe& peer() const { return *m_peer; }

    // A new peer in place of the old one, for instance after a broker restart.
    bool renewPeer()
    {
        m_peer = std::make_unique<MqttProbe>();
        return connectPeer();
    }

private:
    bool connectPeer()
    {
        return m_peer->connectTo(broker.host(), broker.port()) && m_peer->subscribe(m_root + QStringLiteral("/#"));
    }

    QString m_root;
    QStringList m_received;
    int m_syncs = 0;
    int m_marks = 0;
    std::unique_ptr<MqttProbe> m_peer;
};

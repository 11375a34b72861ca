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
#include <QTimer>

#include <algorithm>

#include <memory>
#include <optional>

// The outcome of a deferred result as the test sees it; request is what the peer received.
template<class R> struct Outcome
{
    int state = 0; // 0 pending, 1 resolved, 2 rejected, -1 exchange broken
    R value {};
    QByteArray request;
};

template<class R> std::shared_ptr<Outcome<R>> follow(const Deferred<R>& d)
{
    auto out = std::make_shared<Outcome<R>>();
    const auto keep = [out](int state) { return [out, state](const R& value) { *out = { state, value, {} }; }; };
    d.done(keep(1)).fail(keep(2));
    return out;
}

template<class R> bool settles(const std::shared_ptr<Outcome<R>>& out, int timeoutMs = 5000)
{
    return MqttProbe::waitUntil([out] { return out->state != 0; }, timeoutMs);
}

// Follows d until it settles (or the time is up).
template<class R> std::shared_ptr<Outcome<R>> settled(const Deferred<R>& d, int timeoutMs = 5000)
{
    const auto out = follow(d);
    settles(out, timeoutMs);
    return out;
}

inline QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

class DeviceClientRig
{
public:
    MosquittoBroker broker;
    manager::MqttClient client;
    MqttProbe peer;

    explicit DeviceClientRig(const QString& root)
        : m_root(root)
    {
        QObject::connect(&client, &manager::MqttClient::received, &client,
            [this](const QByteArray&, const QByteArray& topic) { m_received << QString::fromUtf8(topic); });
    }

    // Starts the broker and the peer, then connects the client; device clients built
    // before this are subscribed when it returns (their subscriptions precede the sync one).
    bool up()
    {
        if (!broker.start() || !peer.connectTo(broker.host(), broker.port()) || !peer.subscribe(m_root + "/#"))
            return false;
        client.subscribe(m_root + "/sync/#");
        client.setHostname(broker.host());
        client.setPort(broker.port());
        client.setRetryMillis(500);
        client.setClientId("terminal-under-test");
        QSignalSpy connected(&client, &manager::MqttClient::connected);
        client.connect();
        return (!connected.isEmpty() || connected.wait(5000)) && sync();
    }

    // Returns once everything the peer published before has reached the client.
    bool sync()
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const QString topic = m_root + "/sync/" + QString::number(++m_barriers);
            if (!peer.publish(topic, "{}"))
                return false;
            if (MqttProbe::waitUntil([this, topic] { return m_received.contains(topic); }, 200))
                return true;
        }
        return false;
    }

    bool feed(const QString& topic, const QByteArray& payload) { return peer.publish(topic, payload) && sync(); }

    // Index of a mark the client publishes: everything it sent before reached the peer at a lower index.
    int mark()
    {
        const QString topic = m_root + "/mark/" + QString::number(++m_barriers);
        return client.publish("{}", topic) ? peer.waitFor(topic, 5000, 0) : -1;
    }

    // Topics the peer saw from index from up to (not including) to, barrier messages left out.
    QStringList seen(int from, int to) const
    {
        QStringList topics;
        for (int i = from; i < to; ++i) {
            const QString topic = peer.at(i).topic;
            if (!topic.startsWith(m_root + "/sync/") && !topic.startsWith(m_root + "/mark/"))
                topics << topic;
        }
        return topics;
    }

    // The payload of the (never retained) request on topic + "/request/" + id; none when it did not come.
    std::optional<QByteArray> request(const QString& topic, const QString& id, int timeoutMs = 5000)
    {
        const int index = peer.waitFor(topic + "/request/" + id, timeoutMs, 0);
        if (index < 0 || peer.at(index).retained)
            return std::nullopt;
        return peer.at(index).payload;
    }

    // Intervals of the client's pending waits (their single-shot timers), in rising order.
    QList<int> waitIntervals() const
    {
        QList<int> intervals;
        for (QTimer* timer : client.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
            if (timer->isSingleShot() && timer->isActive())
                intervals << timer->interval();
        std::sort(intervals.begin(), intervals.end());
        return intervals;
    }

    bool reply(const QString& topic, const QString& id, const QByteArray& payload)
    {
        return peer.publish(topic + "/response/" + id, payload);
    }

    // Follows d, answers its request with payload and waits until it settles.
    template<class R>
    std::shared_ptr<Outcome<R>> exchange(const QString& topic, const QString& id, const Deferred<R>& d,
        const QByteArray& payload = R"({"completed":true})")
    {
        auto out = follow(d);
        const auto sent = request(topic, id);
        if (!sent || !reply(topic, id, payload) || !settles(out))
            out->state = -1;
        else
            out->request = *sent;
        return out;
    }

private:
    QString m_root;
    QStringList m_received;
    int m_barriers = 0;
};

#pragma once
// A second MQTT client for tests: publishes, records what it receives.

#include "MosquittoClient.h"

#include <QList>
#include <QPair>
#include <QTest>

class MqttTestPeer : public MosquittoClient
{
public:
    explicit MqttTestPeer(quint16 port)
    {
        setHostname(QStringLiteral("127.0.0.1"));
        setPort(port);
        connect(this, &MosquittoClient::messageReceived, this,
            [this](const QByteArray& payload, const MqttTopicName& topic) {
                messages.append(qMakePair(topic.name(), payload));
            });
    }
    // Connects and subscribes to filter (if given); false on failure.
    bool start(const QString& filter = QString())
    {
        connectToHost();
        if (!QTest::qWaitFor([this] { return state() == Connected; }, 5000))
            return false;
        if (filter.isEmpty())
            return true;
        MqttSubscription* subscription = subscribe(MqttTopicFilter(filter), 1);
        return subscription
            && QTest::qWaitFor([subscription] { return subscription->state() == MqttSubscription::Subscribed; }, 5000);
    }
    QStringList topics() const
    {
        QStringList out;
        for (const auto& m : messages)
            out << m.first;
        return out;
    }
    QList<QPair<QString, QByteArray>> messages;
};

#pragma once
// A real broker, the terminal's MQTT client and the service simulator, for the
// clients of the local system services.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "ServiceSimulator.h"

#include <QRegularExpression>
#include <QSignalSpy>

class ServiceRig
{
public:
    MosquittoBroker broker;
    manager::MqttClient client;
    ServiceSimulator sim;

    explicit ServiceRig(const QStringList& simArgs = {})
        : sim(broker.port(), simArgs)
    {
    }

    // Starts broker and simulator, then connects the client (clients built before are subscribed by then).
    bool up()
    {
        if (!broker.start() || !sim.start())
            return false;
        client.setHostname(broker.host());
        client.setPort(broker.port());
        client.setRetryMillis(300);
        client.setClientId("terminal");
        QSignalSpy connected(&client, &manager::MqttClient::connected);
        client.connect();
        return !connected.isEmpty() || connected.wait(5000);
    }

    // The topics the client subscribed, in order, from the broker's log.
    QStringList subscriptions()
    {
        QStringList topics;
        auto it = QRegularExpression("\\d+: terminal \\d (\\S+)").globalMatch(broker.log());
        while (it.hasNext())
            topics << it.next().captured(1);
        return topics;
    }
};

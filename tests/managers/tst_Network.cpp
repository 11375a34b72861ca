// The network and Ethernet clients against the service simulator over a real broker.

#include "Network.h"
#include "ServiceRig.h"

#include <QJsonObject>
#include <QTest>

using manager::Ethernet;
using manager::Network;

class TestNetwork : public QObject
{
    Q_OBJECT

private slots:
    void againstSimulator();
    void saveWhileDisconnected();
};

void TestNetwork::againstSimulator()
{
    ServiceRig rig;
    Network network(rig.client, "zent/network");
    Ethernet& ethernet = *network.ethernet();
    QVERIFY(rig.up());

    // Subscribed at construction, renewed on connect; the Ethernet client asks for state and configuration.
    QTRY_COMPARE(rig.subscriptions(),
        QStringList({ "zent/network/ethernet/state", "zent/network/ethernet/config", "zent/network/info",
            "zent/network/status" }));
    QVERIFY(rig.sim.waitForRequest("network /ethernet/state/get"));
    QVERIFY(rig.sim.waitForRequest("network /ethernet/config/get"));
    QTRY_COMPARE(network.hostname(), QString("lane-sim"));
    QCOMPARE(QStringList({ network.status(), network.version(), network.connectionState(), network.connectivity(),
                 network.primaryConnection()->interface(), network.primaryConnection()->ipv4()->address() }),
        QStringList({ "online", "1.4.0-sim", "connected", "full", "eth0", "127.0.0.10" }));
    QTRY_COMPARE(ethernet.state(), QString("Connected"));
    QTRY_COMPARE(ethernet.method(), QString("auto"));
    QCOMPARE(QStringList({ ethernet.interface(), ethernet.mac(), ethernet.ipv4()->mask(), ethernet.method(),
                 ethernet.config()->dns0() }),
        QStringList({ "eth0", "02:00:00:00:00:01", "255.0.0.0", "auto", "127.0.0.53" }));

    // Manual settings go out with all seven keys; the service's answer updates the client.
    ethernet.setMethod("manual");
    ethernet.config()->setAddress("127.0.0.20");
    ethernet.config()->setGateway("");
    ethernet.config()->setDns1("127.0.0.54");
    QVERIFY(ethernet.save());
    QJsonObject sent { { "interface", "eth0" }, { "method", "manual" }, { "address", "127.0.0.20" },
        { "netmask", "255.0.0.0" }, { "gateway", "" }, { "dns0", "127.0.0.53" }, { "dns1", "127.0.0.54" } };
    QCOMPARE(rig.sim.waitForRequest("network /ethernet/config/set")->value("payload").toObject(), sent);
    QTRY_COMPARE(ethernet.ipv4()->address(), QString("127.0.0.20"));
    // Any other method, even "Manual", sends the five settings empty.
    ethernet.setMethod("Manual");
    QVERIFY(ethernet.save());
    for (const char* key : { "address", "netmask", "dns0", "dns1" })
        sent.insert(key, "");
    sent.insert("method", "Manual");
    QCOMPARE(rig.sim.waitForRequest("network /ethernet/config/set")->value("payload").toObject(), sent);
    QTRY_VERIFY(ethernet.config()->address().isEmpty());

    // Status faults: "service" false, of another type or missing leaves every property as it was.
    LogCapture log;
    for (const char* mode : { "servicefalse", "types", "empty", "badjson" }) {
        QVERIFY(rig.sim.fault("network/status", mode, 1));
        QVERIFY(rig.sim.control("network", { { "hostname", mode } }));
        if (QByteArray(mode) == "badjson")
            QTRY_COMPARE(log.startingWith("[Network] Failed to parse JSON message: ").size(), 1);
        else
            QTRY_COMPARE(network.status(), QString("offline"));
        QCOMPARE(network.hostname(), QString("lane-sim"));
    }
    QVERIFY(rig.sim.control("network", { { "hostname", "lane-2" } }));
    QTRY_COMPARE(network.hostname(), QString("lane-2"));
    QCOMPARE(log.startingWith("[Network] Status changed : "),
        QStringList({ "[Network] Status changed : offline", "[Network] Status changed : online" }));
}

void TestNetwork::saveWhileDisconnected()
{
    // The configuration cannot reach the service: the log and the result must not say it is being saved.
    manager::MqttClient client;
    Network network(client, "zent/network");
    network.ethernet()->setMethod("manual");
    LogCapture log;
    QVERIFY(!network.ethernet()->save());
    QCOMPARE(log.startingWith("[Network][Ethernet] "),
        QStringList({ "[Network][Ethernet] ERROR: Configuration not sent, no connection to the network service" }));
}

QTEST_GUILESS_MAIN(TestNetwork)
#include "tst_Network.moc"

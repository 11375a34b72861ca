// The simulators' readiness: "ready" on their control status only once the broker
// granted every subscription, so that a request sent after it reaches its service.

#include "DeviceSimulator.h"
#include "MosquittoBroker.h"
#include "MqttProbe.h"

#include <QProcess>
#include <QTest>

class tst_simulators : public QObject
{
    Q_OBJECT

private slots:
    void readiness_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("denied");
        const QString services = qEnvironmentVariable("LANE_BINARY_DIR") + "/tools/servicesim/servicesim";
        QTest::newRow("services") << services << "";
        QTest::newRow("services, update refused") << services << "zent/update/#";
        QTest::newRow("devices") << DeviceSimulator::programPath() << "";
        QTest::newRow("devices, dispenser refused") << DeviceSimulator::programPath() << "zent/dispenser/#";
    }

    void readiness()
    {
        QFETCH(QString, program);
        QFETCH(QString, denied);
        MosquittoBroker broker;
        QVERIFY(denied.isEmpty() || broker.denySubscriptions({ denied }));
        QVERIFY(broker.start());
        MqttProbe peer;
        QVERIFY(peer.connectTo(broker.host(), broker.port()));
        QVERIFY(peer.subscribe("sim/status"));
        QProcess sim;
        sim.setProcessChannelMode(QProcess::MergedChannels);
        sim.start(program, { "--port", QString::number(broker.port()), "--control-root", "sim" });
        QVERIFY(sim.waitForStarted(10000));

        // A command is answered once the control topics are subscribed.
        int id = 0;
        QVERIFY(MqttProbe::waitUntil(
            [&] { return peer.call("sim/", "journal/get", QString::number(++id), {}, 500).has_value(); }, 20000));
        const auto ready = [](const MqttProbe::Message& m) { return m.json().value("ready").toBool(); };
        if (denied.isEmpty()) {
            QVERIFY(peer.waitFor("sim/status", ready, 10000) >= 0);
        } else {
            // The answer left after "ready" would have: a service's refused subscription withholds it.
            QVERIFY(peer.waitFor("sim/status", ready, 0) < 0);
            QByteArray output;
            QVERIFY(MqttProbe::waitUntil([&] { return (output += sim.readAll()).contains("refused"); }, 10000));
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(tst_simulators)
#include "tst_simulators.moc"

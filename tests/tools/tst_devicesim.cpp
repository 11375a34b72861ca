// Smoke test of the device simulator program: it comes up on a broker, answers
// one card road over raw MQTT, and refuses a bad command line. The card tests
// drive it end to end.

#include "DeviceSimulator.h"
#include "MosquittoBroker.h"

#include <QTest>

class TestDeviceSimulator : public QObject
{
    Q_OBJECT

private slots:
    void smoke()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        DeviceSimulator sim(broker.port(), { "--cards", "2" });
        QVERIFY2(sim.start(), qPrintable(sim.lastError()));
        MqttProbe peer;
        QVERIFY(peer.connectTo(broker.host(), broker.port()));
        for (const char* path : { "/issue", "/eject" })
            QCOMPARE(peer.call("zent/dispenser", path, "1", {})->json().value("completed"), QJsonValue(true));
        QVERIFY(sim.take());
        QCOMPARE(sim.journalLines(), QStringList({ "dispenser /issue 1", "dispenser /eject 1" }));
        QCOMPARE(sim.state().value("cards").toObject().value("cartridge").toArray().size(), 1);
        sim.stop();
        QVERIFY(!sim.output().contains("Sanitizer"));

        QProcess bad;
        bad.start(DeviceSimulator::programPath(), { "--port", "many" });
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDeviceSimulator)
#include "tst_devicesim.moc"

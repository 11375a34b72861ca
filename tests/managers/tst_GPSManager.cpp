// The GPS client against the service simulator over a real broker.

#include "GPSManager.h"
#include "ServiceRig.h"

#include <QTest>

using manager::GPSManager;

class TestGPSManager : public QObject
{
    Q_OBJECT

private slots:
    void againstSimulator();
};

void TestGPSManager::againstSimulator()
{
    ServiceRig rig({ "--gps-data-ms", "30" });
    GPSManager gps(rig.client, "zent/gps");
    QVERIFY(!gps.enable());
    QSignalSpy info(&gps, &GPSManager::infoChanged);
    QVERIFY(rig.up());

    QTRY_COMPARE(rig.subscriptions(), QStringList({ "zent/gps/#" }));
    QTRY_COMPARE(gps.info().imei, QString("356938035643809"));
    QCOMPARE(info.count(), 1);
    QCOMPARE(info.at(0).at(0).value<GPSManager::Info>().serviceType, QString("gpsd"));
    QVERIFY(gps.info().assisted);
    QTRY_COMPARE(gps.status().fix, 3);
    QVERIFY(gps.status().simulation && gps.status().state == 1 && gps.status().error.isEmpty());

    // Telemetry as texts, then as JSON numbers: both are read.
    QTRY_VERIFY(gps.telemetry().latitude > 41.29);
    QCOMPARE(gps.telemetry().horizontalAccuracy, 2.25);
    QVERIFY(rig.sim.control("gps", { { "numbers", true } }));
    QVERIFY(rig.sim.control("gps", { { "dataMs", 0 } }));
    const double latest = gps.telemetry().latitude;
    QVERIFY(rig.sim.control("gps", { { "dataMs", 30 } }));
    QTRY_VERIFY(gps.telemetry().latitude > latest);
    QCOMPARE(gps.telemetry().magneticVariation, 4.75);

    // The service gone reads as offline.
    QVERIFY(rig.sim.control("gps", { { "offline", true } }));
    QTRY_COMPARE(gps.status().error, QString("Manager is offline"));
    QCOMPARE(gps.status().state, -1);

    QVERIFY(gps.disable() && gps.enable());
    QVERIFY(rig.sim.waitForRequest("gps /disable"));
    QVERIFY(rig.sim.waitForRequest("gps /enable"));

    // An empty payload is not JSON here.
    LogCapture log;
    const int infos = info.count();
    gps.onMqttReceived("", "zent/gps/info");
    gps.onMqttReceived(R"({"latitude":"1"})", "zent/gps/data/x");
    QCOMPARE(log.texts(QtCriticalMsg), QStringList({ "[GPSManager] Failed to parse JSON message: " }));
    QCOMPARE(info.count(), infos);
}

QTEST_GUILESS_MAIN(TestGPSManager)
#include "tst_GPSManager.moc"

// The system-inspector client against the service simulator over a real broker.

#include "Inspector.h"
#include "ServiceRig.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTest>

using manager::Inspector;

class TestInspector : public QObject
{
    Q_OBJECT

private slots:
    void againstSimulator();
    void powerWhileDisconnected();
};

void TestInspector::againstSimulator()
{
    ServiceRig rig;
    Inspector inspector(rig.client, "zent/inspector");
    QVERIFY(rig.up());

    QTRY_COMPARE(rig.subscriptions(),
        QStringList({ "zent/inspector/info", "zent/inspector/status", "zent/inspector/audio",
            "zent/inspector/stats/cpu", "zent/inspector/stats/memory", "zent/inspector/stats/disk" }));
    for (const char* request : { "/audio/get", "/stats/memory/get", "/stats/disk/get", "/stats/cpu/get" })
        QCOMPARE(rig.sim.waitForRequest(QString("inspector ") + request)->value("payload").toObject(), QJsonObject());
    QTRY_COMPARE(inspector.audioVolume(), 50);
    QTRY_COMPARE(inspector.status(), QString("online"));
    QCOMPARE(inspector.info().value("version").toString(), QString("2.1.0-sim"));

    // The volume follows the service's report, not the request.
    QSignalSpy volume(&inspector, &Inspector::audioVolumeChanged);
    inspector.setAudioVolume(40);
    QCOMPARE(inspector.audioVolume(), 50);
    QCOMPARE(rig.sim.waitForRequest("inspector /audio/set")->value("payload").toObject(),
        QJsonObject({ { "internal", QJsonObject { { "volume", 40 } } } }));
    QTRY_COMPARE(inspector.audioVolume(), 40);
    inspector.audioPlay("/usr/share/sounds/beep.wav");
    QCOMPARE(rig.sim.waitForRequest("inspector /audio/play")->value("payload").toObject(),
        QJsonObject({ { "device", "internal" }, { "filepath", "/usr/share/sounds/beep.wav" } }));
    QCOMPARE(volume.count(), 1);

    // "service" of another type, or the service gone, reads as offline.
    QVERIFY(rig.sim.fault("inspector/status", "types", 1));
    QVERIFY(rig.sim.control("inspector"));
    QTRY_COMPARE(inspector.status(), QString("offline"));
    QVERIFY(rig.sim.control("inspector", { { "offline", false } }));
    QTRY_COMPARE(inspector.status(), QString("online"));

    // The reboot is announced at once and requested 2000 ms later.
    QSignalSpy reboot(&inspector, &Inspector::systemRebootStarted);
    QElapsedTimer clock;
    clock.start();
    inspector.systemReboot();
    QCOMPARE(reboot.count(), 1);
    const auto request = rig.sim.waitForRequest("inspector /power/reboot/request/1", 4000);
    QVERIFY(request && request->value("payload").isNull());
    QVERIFY2(clock.elapsed() >= 2000 && clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));

    // A delayed shutdown: the first schedule stands, an abort withdraws it.
    LogCapture log;
    inspector.setPowerDelay(20);
    QSignalSpy shutdown(&inspector, &Inspector::systemShutdownStarted);
    inspector.scheduleShutdown(1);
    inspector.scheduleShutdown(0);
    inspector.abortShutdown();
    inspector.abortShutdown();
    QTest::qWait(1200);
    QCOMPARE(shutdown.count(), 0);
    inspector.scheduleShutdown(0);
    QVERIFY(rig.sim.waitForRequest("inspector /power/shutdown/request/1"));
    QCOMPARE(shutdown.count(), 1);
    QCOMPARE(log.startingWith("[Inspector] "),
        QStringList({ "[Inspector] Scheduling System shutdown in : 1 sec(s)", "[Inspector] Aborting System shutdown",
            "[Inspector] Scheduling System shutdown in : 0 sec(s)", "[Inspector] Requesting System shutdown" }));
}

void TestInspector::powerWhileDisconnected()
{
    // A request the broker never got is an error, not a shutdown under way.
    manager::MqttClient client;
    Inspector inspector(client, "zent/inspector");
    inspector.setPowerDelay(10);
    LogCapture log;
    inspector.systemShutdown();
    QTRY_COMPARE(log.texts(QtCriticalMsg),
        QStringList({ "[Inspector] ERROR: System shutdown request not sent, no connection to the inspector service" }));
}

QTEST_GUILESS_MAIN(TestInspector)
#include "tst_Inspector.moc"

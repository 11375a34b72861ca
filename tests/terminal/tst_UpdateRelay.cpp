// The terminal's software-update client and its progress relay to the back office,
// against the update service simulator on a real broker and the back-office simulator.

#include "../backend/BackendRig.h"
#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "ServiceSimulator.h"
#include "Terminal.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_UpdateRelay : public QObject
{
    Q_OBJECT

private slots:
    void operationInProgress();
};

// A service that reports a download or an installation less often than the check timer runs:
// a check meanwhile must not offer Install, and the back office hears each operation's real outcome.
void tst_UpdateRelay::operationInProgress()
{
    QTemporaryDir work;
    QVERIFY(QDir::setCurrent(work.path()));
    BackendRig bo;
    QVERIFY2(bo.setUp(), qPrintable(bo.error()));
    MosquittoBroker broker;
    ServiceSimulator sim(broker.port());
    QVERIFY(broker.start() && sim.start());

    QVariantMap settings = bo.defaults();
    settings.insert({ { "topics/update", "zent/update" }, { "topics/rfid", "zent/rfid" },
        { "topics/dispenser", "zent/dispenser" }, { "topics/network", "zent/network" },
        { "terminal/deviceId", "TERM-1" }, { "terminal/customsId", "1" }, { "terminal/locationId", "7" } });
    Config config(work.filePath("gui.conf"), settings);
    manager::MqttClient mqtt;
    Terminal terminal(config, mqtt);
    manager::Update& update = *terminal.update();
    update.setCheckTimeout(300);
    QStringList relayed;
    QStringList onOutcome; // relayed once the service's last report came in
    connect(&terminal, &Terminal::updateProgress, this, [&](const QString& operation, int percent) {
        relayed << QString("%1 %2").arg(percent).arg(operation);
        if (update.progressMessage() == "Installation complete")
            onOutcome << relayed.last();
    });
    mqtt.setHostname(broker.host());
    mqtt.setPort(broker.port());
    mqtt.setClientId("terminal");
    mqtt.connect();
    QTRY_COMPARE(update.current(), QString("1.0.0"));

    QVERIFY(sim.control("update", { { "available", "1.2.0" } }));
    update.check();
    QTRY_COMPARE(update.status(), QString("Ready to install"));

    // The download reports nothing until the test lets it go on.
    QVERIFY(sim.control("update", { { "stepMs", 600000 } }));
    update.trigger("1.3.0", "http://127.0.0.1/pkg/1.3.0");
    QTRY_COMPARE(update.status(), QString("Downloading"));
    const QStringList operations { "Downloading", "Installing" };
    for (const QString& operation : operations) {
        LogCapture log;
        update.check();
        QVERIFY(sim.waitForRequest("update /check"));
        QTRY_VERIFY(log.contains("[Update] No pedning updates"));
        QCOMPARE(update.status(), operation);
        update.install();
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList({ "[Update] WARN: Cannot install. The service is busy : " + operation }));
        QVERIFY(sim.control("update", { { "stepMs", 20 } }));
        if (operation == "Downloading") {
            QTRY_COMPARE(update.pending(), QString("1.3.0"));
            QCOMPARE(update.status(), QString("Ready to install"));
            QVERIFY(sim.control("update", { { "stepMs", 600000 } }));
            update.install();
            QTRY_COMPARE(update.status(), QString("Installing"));
        }
    }
    QTRY_COMPARE(update.status(), QString("Installation success"));

    // Every report reached the back office, the last being the installation's outcome.
    const auto received = [&] {
        QStringList queries;
        for (const auto& entry : bo.sim.journal("operation/status"))
            queries << entry.query;
        return queries;
    };
    QTRY_COMPARE(received().size(), relayed.size());
    // Only the outcome goes with the last report: a stale one beside it could reach the back office after it.
    QCOMPARE(onOutcome, QStringList({ "100 Updated" }));
    QVERIFY2(relayed.filter("failed").isEmpty(), qPrintable(relayed.join(", ")));
    QCOMPARE(relayed.last(), QString("100 Updated"));
    QCOMPARE(received().last(), QString("progress=100&operation=Updated"));
}

QTEST_GUILESS_MAIN(tst_UpdateRelay)
#include "tst_UpdateRelay.moc"

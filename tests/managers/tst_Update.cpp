// The software-update client against the service simulator over a real broker.

#include "ServiceRig.h"
#include "Update.h"

#include <QJsonObject>
#include <QTest>

using manager::Update;

class TestUpdate : public QObject
{
    Q_OBJECT

private slots:
    void againstSimulator();
    void progressCodes();
};

void TestUpdate::againstSimulator()
{
    ServiceRig rig;
    Update update(rig.client, "zent/update");
    update.setCheckTimeout(300);
    QStringList statuses;
    connect(&update, &Update::statusChanged, this, [&] { statuses << update.status(); });
    QCOMPARE(update.status(), QString("Disconnected"));
    QVERIFY(rig.up());

    QTRY_COMPARE(rig.subscriptions(), QStringList({ "zent/update/status", "zent/update/progress" }));
    QVERIFY(rig.sim.waitForRequest("update /status/get"));
    QTRY_COMPARE(update.current(), QString("1.0.0"));
    QCOMPARE(update.status(), QString("Idle"));

    // A check: the service names a pending version, the timer settles the status.
    QVERIFY(rig.sim.control("update", { { "available", "1.1.0" } }));
    statuses.clear();
    update.check();
    QVERIFY(rig.sim.waitForRequest("update /check"));
    QTRY_COMPARE(update.status(), QString("Ready to install"));
    QCOMPARE(statuses, QStringList({ "Checking for updates", "Idle", "Ready to install" }));
    QCOMPARE(update.pending(), QString("1.1.0"));

    // An installation that succeeds, a download with progress, an installation that fails.
    update.install();
    QTRY_COMPARE(update.status(), QString("Installation success"));
    QCOMPARE(update.progressPercent(), 100);
    update.trigger("1.2.0", "http://127.0.0.1/pkg/1.2.0");
    QCOMPARE(rig.sim.waitForRequest("update /trigger")->value("payload").toObject(),
        QJsonObject({ { "v", "1.2.0" }, { "uri", "http://127.0.0.1/pkg/1.2.0" }, { "md5", "" }, { "at", 0 } }));
    QTRY_COMPARE(update.pending(), QString("1.2.0"));
    QVERIFY(rig.sim.control("update", { { "install", "fail" }, { "failCode", 104 } }));
    statuses.clear();
    update.install();
    QTRY_COMPARE(update.status(), QString("Installation failed"));
    QCOMPARE(statuses, QStringList({ "Installing", "Installation failed" }));

    // The service says it does not run: the versions stay.
    QVERIFY(rig.sim.fault("update/status", "servicefalse", 1));
    update.check();
    QTRY_COMPARE(update.status(), QString("Service not running"));
    QCOMPARE(update.pending(), QString("1.2.0"));
    QTRY_COMPARE(update.status(), QString("Ready to install"));

    // A disconnect stops a running check, and no check starts without the broker.
    update.setCheckTimeout(600);
    statuses.clear();
    update.check();
    rig.broker.kill();
    QTRY_COMPARE(update.status(), QString("Disconnected"));
    QTest::qWait(800);
    QVERIFY2(!statuses.contains("Ready to install"), qPrintable(statuses.join(", ")));
    LogCapture log;
    update.check();
    QCOMPARE(update.status(), QString("Disconnected"));
    QCOMPARE(log.texts(QtCriticalMsg),
        QStringList({ "[Update] ERROR: Cannot check for updates, no connection to the service" }));
}

void TestUpdate::progressCodes()
{
    manager::MqttClient client;
    Update update(client, QString()); // no root: bare topics
    const QList<QPair<int, QString>> codes { { 100, "Installation failed" }, { 101, "x" },
        { 102, "Installation failed" }, { 103, "Installation failed" }, { 104, "Installation failed" }, { 105, "x" },
        { 200, "x" }, { 204, "Installation success" }, { 0, "x" } };
    for (const auto& [code, status] : codes) {
        update.onMqttReceived(R"({"state":"x"})", "/status");
        update.onMqttReceived(
            QStringLiteral(R"({"progress":%1,"percent":45.5,"description":"d"})").arg(code).toUtf8(), "/progress");
        QCOMPARE(update.status(), status);
        QCOMPARE(update.progressPercent(), 0);
    }
    update.onMqttReceived("", "/status");
    QCOMPARE(
        QStringList({ update.status(), update.pending(), update.progressMessage() }), QStringList({ "", "", "Idle" }));
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_Update.moc"

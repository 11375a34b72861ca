// The clients of the local system services (network and Ethernet, inspector,
// software update, GPS) against the service simulator over a real broker.

#include "Config.h"
#include "GPSManager.h"
#include "GUIManager.h"
#include "Inspector.h"
#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"
#include "Network.h"
#include "ServiceSimulator.h"
#include "Update.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace manager;

namespace {

// A real broker, the terminal's MQTT client and the service simulator.
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
    bool up(bool simulator = true)
    {
        if (!broker.start() || (simulator && !sim.start()))
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

} // namespace

class tst_Services : public QObject
{
    Q_OBJECT

private slots:
    void network();
    void inspector();
    void whileDisconnected();
    void update();
    void progressCodes();
    void ordersWhileBusy_data();
    void ordersWhileBusy();
    void heldOrderAtExit();
    void gps();
    void rootsInLogLines();
};

void tst_Services::network()
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
        QStringList({ "online", "1.4.0-sim", "Connected", "Full", "eth0", "127.0.0.10" }));
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
}

void tst_Services::inspector()
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

    // "service" of another type, or the service gone, reads as offline.
    QVERIFY(rig.sim.fault("inspector/status", "types", 1));
    QVERIFY(rig.sim.control("inspector"));
    QTRY_COMPARE(inspector.status(), QString("offline"));
    QVERIFY(rig.sim.control("inspector", { { "offline", false } }));
    QTRY_COMPARE(inspector.status(), QString("online"));

    // The reboot is announced at once and requested 2000 ms later. Times are measured from before
    // the call, so that a stalled test process can only lengthen them.
    QSignalSpy reboot(&inspector, &Inspector::systemRebootStarted);
    QElapsedTimer clock;
    clock.start();
    inspector.systemReboot();
    QCOMPARE(reboot.count(), 1);
    const auto request = rig.sim.waitForRequest("inspector /power/reboot/request/1", 10000);
    QVERIFY(request && request->value("payload").isNull());
    QVERIFY2(clock.elapsed() >= 2000, qPrintable(QString::number(clock.elapsed())));

    // A scheduled shutdown counts in seconds: a coarse timer may end 5 % early, counted from
    // its due time with the fraction of a millisecond dropped.
    qint64 startedAt = -1;
    connect(&inspector, &Inspector::systemShutdownStarted, this, [&] { startedAt = clock.elapsed(); });
    clock.restart();
    inspector.scheduleShutdown(1);
    QTRY_VERIFY_WITH_TIMEOUT(startedAt >= 0, 10000);
    QVERIFY2(startedAt >= 950 - 1, qPrintable(QString::number(startedAt)));
    QVERIFY(rig.sim.waitForRequest("inspector /power/shutdown/request/1", 10000));

    // The broker lost while a request waits out its delay: a failure, not "Rebooting" with nothing sent.
    inspector.setPowerDelay(3000);
    QSignalSpy failed(&inspector, &Inspector::systemPowerFailed);
    inspector.systemReboot();
    QCOMPARE(reboot.count(), 2);
    rig.broker.stop();
    QTRY_VERIFY(!rig.client.isConnected());
    QTRY_COMPARE_WITH_TIMEOUT(failed, QList<QVariantList>({ { "reboot" } }), 10000);
}

void tst_Services::whileDisconnected()
{
    // Requests the broker never got are errors, not a configuration being saved or a shutdown under way.
    manager::MqttClient client;
    Network network(client, "zent/network");
    Inspector inspector(client, "zent/inspector");
    network.ethernet()->setMethod("manual");
    inspector.setPowerDelay(10);
    LogCapture log;
    QSignalSpy started(&inspector, &Inspector::systemShutdownStarted);
    QSignalSpy failed(&inspector, &Inspector::systemPowerFailed);
    QVERIFY(!network.ethernet()->save());
    inspector.systemShutdown();
    QTRY_COMPARE(log.texts(QtCriticalMsg),
        QStringList({ "[Network][Ethernet] ERROR: Configuration not sent, no connection to the network service",
            "[Inspector] ERROR: System shutdown request not sent, no connection to the inspector service" }));
    QCOMPARE(started.count(), 0);
    QCOMPARE(failed, QList<QVariantList>({ { "shutdown" } }));
}

void tst_Services::update()
{
    ServiceRig rig;
    // The root as the local run configures it (the built-in defaults have none) meets the simulator's.
    QTemporaryDir dir;
    QVERIFY(QFile::copy(qEnvironmentVariable("LANE_SOURCE_DIR") + "/scripts/run-gui.conf", dir.filePath("gui.conf")));
    Config config(dir.filePath("gui.conf"), GUIManager::Defaults);
    Update update(rig.client, config.get("topics/update").toString());
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

    // An installation that succeeds, a download with progress, an installation that fails. After
    // each outcome the service is asked for its status: the installed version shows without a check.
    statuses.clear();
    update.install();
    QTRY_COMPARE(update.current(), QString("1.1.0"));
    QCOMPARE(statuses, QStringList({ "Install requested", "Installing", "Installation success", "Idle" }));
    update.trigger("1.2.0", "http://127.0.0.1/pkg/1.2.0");
    QCOMPARE(rig.sim.waitForRequest("update /trigger")->value("payload").toObject(),
        QJsonObject({ { "v", "1.2.0" }, { "uri", "http://127.0.0.1/pkg/1.2.0" }, { "md5", "" }, { "at", 0 } }));
    QTRY_COMPARE(update.pending(), QString("1.2.0"));
    QVERIFY(rig.sim.control("update", { { "install", "fail" }, { "failCode", 104 } }));
    statuses.clear();
    update.install();
    QTRY_COMPARE(statuses, QStringList({ "Install requested", "Installing", "Installation failed", "Idle" }));

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

void tst_Services::progressCodes()
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
        // An outcome ends the operation: Install goes out at once, not only after the next status report.
        update.onMqttReceived(R"({"state":"Installing","pending":"1.1.0"})", "/status");
        update.onMqttReceived(QStringLiteral(R"({"progress":%1})").arg(code).toUtf8(), "/progress");
        LogCapture log;
        update.install();
        QCOMPARE(log.texts(QtWarningMsg).isEmpty(), status != "x");
    }
    update.onMqttReceived("", "/status");
    QCOMPARE(
        QStringList({ update.status(), update.pending(), update.progressMessage() }), QStringList({ "", "", "Idle" }));
}

void tst_Services::ordersWhileBusy_data()
{
    QTest::addColumn<QStringList>("steps"); // the service's messages and the client's calls, in order
    QTest::addColumn<QStringList>("requests"); // what the service gets meanwhile, in order
    QTest::addColumn<QString>("status");
    const QString held = "trigger 1.5.0";
    const auto row = [](const char* name, const QString& steps, const QStringList& requests, const QString& status) {
        QTest::newRow(name) << steps.split(", ") << requests << status;
    };
    // Install out, the service's answer not yet in: a second Install, or an order, would be refused
    // with a failure code read as the installation's outcome.
    row("second Install waits for the service", "install, install, order 1.5.0, installing, install, 204, installed",
        { "install", "status/get", held }, "Idle");
    row("a status ends the wait", "install, order 1.5.0, ready", { "install", held }, "Ready to install");
    row("a refusal ends it, the status asked for", "install, order 1.5.0, 103, ready",
        { "install", "status/get", held }, "Ready to install");
    row("a progress report without outcome does not", "install, 101, install, order 1.5.0, installing, 204, installed",
        { "install", "status/get", held }, "Idle");
    row("silent service: Install again after the check time", "install, order 1.5.0, silence, install",
        { "install", "install" }, "Install requested");
    row("a disconnect ends it", "install, reconnect, install", { "install", "status/get", "install" },
        "Install requested");
    row("the service's death ends it, the order waits for its return", "install, order 1.5.0, down, check, ready",
        { "install", "check", held }, "Ready to install");
    // A later order replaces a held one, also when it goes out at once.
    row("later order sent", "downloading, order 1.5.0, down, order 1.6.0, downloading, ready", { "trigger 1.6.0" },
        "Ready to install");
    row("later order held", "downloading, order 1.5.0, order 1.6.0, ready", { "trigger 1.6.0" }, "Ready to install");
    // The service's answer to the status asked for after a reconnect, while it is still busy.
    row("Downloading after a reconnect", "downloading, order 1.5.0, reconnect, downloading, check, ready",
        { "status/get", "check", held }, "Ready to install");
    row("Installing after a reconnect", "installing, order 1.5.0, reconnect, installing, check, 204, installed",
        { "status/get", "check", "status/get", held }, "Idle");
}

// Install and download orders while the service is busy or has not answered an Install: what ends
// the wait, what replaces a held order, and that a held order goes out only after the operation.
void tst_Services::ordersWhileBusy()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, requests);
    QFETCH(QString, status);
    ServiceRig rig;
    Update update(rig.client, "zent/update");
    update.setCheckTimeout(steps.contains("silence") ? 300 : 60000);
    int taken = 0; // service messages the client took in
    connect(&rig.client, &MqttClient::received, this, [&taken] { ++taken; });
    QVERIFY(rig.up(false));
    MqttProbe service; // the test plays the service
    QVERIFY(service.connectTo(rig.broker.host(), rig.broker.port()));
    QVERIFY(service.subscribe("zent/update/#"));
    const auto got = [&service] {
        QStringList list;
        for (const MqttProbe::Message& message : service.messages()) {
            const QString path = message.topic.mid(QString("zent/update/").size());
            if (path != "status" && path != "progress")
                list << (path == "trigger" ? "trigger " + message.json().value("v").toString() : path);
        }
        return list;
    };
    QTRY_COMPARE(rig.subscriptions(), QStringList({ "zent/update/status", "zent/update/progress" }));
    const QString version = R"("version":"1.0.0","pending":"1.4.0")";
    const QMap<QString, QPair<QString, QString>> messages {
        { "ready", { "status", R"({"state":"Ready to install",)" + version + "}" } },
        { "downloading", { "status", R"({"state":"Downloading","version":"1.0.0","pending":""})" } },
        { "installing", { "status", R"({"state":"Installing",)" + version + "}" } },
        { "installed", { "status", R"({"state":"Idle","version":"1.4.0","pending":""})" } },
        { "down", { "status", R"({"service":false})" } },
        { "101", { "progress", R"({"progress":101,"percent":50,"description":"Installing"})" } },
        { "103", { "progress", R"({"progress":103,"percent":0,"description":"Busy"})" } },
        { "204", { "progress", R"({"progress":204,"percent":100,"description":"Done"})" } },
    };
    const auto publish = [&](const QString& name) {
        const int before = taken;
        return service.publish("zent/update/" + messages[name].first, messages[name].second.toUtf8())
            && QTest::qWaitFor([&] { return taken > before; });
    };
    QVERIFY(publish("ready"));
    service.clear();
    LogCapture log;
    for (const QString& step : qAsConst(steps)) {
        const int before = got().size();
        if (messages.contains(step)) {
            QVERIFY2(publish(step), qPrintable(step));
        } else if (step == "install") {
            update.install();
        } else if (step == "check") {
            update.check();
        } else if (step.startsWith("order ")) {
            update.trigger(step.mid(6), "http://127.0.0.1/pkg");
        } else if (step == "silence") {
            QTRY_COMPARE(log.count("[Update] No pedning updates"), 1);
        } else if (step == "reconnect") {
            QSignalSpy connected(&rig.client, &MqttClient::connected);
            rig.client.disconnect();
            QTRY_COMPARE(update.status(), QString("Disconnected"));
            rig.client.connect();
            QTRY_VERIFY(got().mid(before).contains("status/get"));
        }
    }
    QCOMPARE(update.status(), status);
    update.check(); // after anything sent before
    QTRY_COMPARE(got().count("check"), steps.count("check") + 1);
    QCOMPARE(got(), requests + QStringList { "check" });
    QCOMPARE(log.count("[Update] Triggerring held download : v=1.5.0, uri=http://127.0.0.1/pkg, checksum="),
        requests.count("trigger 1.5.0"));
}

// The client going down with an order held says which version was not sent.
void tst_Services::heldOrderAtExit()
{
    manager::MqttClient client;
    LogCapture log;
    {
        Update update(client, QString());
        update.onMqttReceived(R"({"state":"Downloading"})", "/status");
        update.trigger("1.5.0", "http://127.0.0.1/pkg");
    }
    QCOMPARE(log.startingWith("[Update] WARN: Held download"),
        QStringList({ "[Update] WARN: Held download not sent : v=1.5.0" }));
}

void tst_Services::gps()
{
    ServiceRig rig({ "--gps-data-ms", "30" });
    GPSManager gps(rig.client, "zent/gps");
    QVERIFY(!gps.enable());
    QSignalSpy info(&gps, &GPSManager::infoChanged);
    QVERIFY(rig.up());

    QTRY_COMPARE(rig.subscriptions(), QStringList({ "zent/gps/#" }));
    QTRY_COMPARE(gps.info().imei, QString("356938035643809"));
    QCOMPARE(info.count(), 1);
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
}

QTEST_GUILESS_MAIN(tst_Services)
#include "tst_Services.moc"

// Topic roots from the settings may hold a line separator, which topics carry: the lines that
// name a topic stay one line.
void tst_Services::rootsInLogLines()
{
    ServiceRig rig;
    const QString odd = QString::fromUtf8("zent/odd\u2028");
    Network network(rig.client, odd + "network");
    Inspector inspector(rig.client, odd + "inspector");
    QVERIFY(rig.up());
    LogCapture log;
    MqttProbe peer;
    QVERIFY(peer.connectTo(rig.broker.host(), rig.broker.port()));
    const QStringList topics { "network/status", "network/info", "network/ethernet/state", "network/ethernet/config",
        "inspector/status", "inspector/info" };
    for (const QString& topic : topics) // retained: they reach the subscription whenever it is in place
        QVERIFY(peer.publish(odd + topic, "{}", true));
    for (const QString& topic : topics) {
        const QString line = QString("Processing %1 topic zent/odd\\u2028%2").arg(topic.section('/', -1), topic);
        QTRY_VERIFY2(!log.texts().filter(line).isEmpty(), qPrintable(line));
    }
    const QStringList unsafe = log.unsafeLines();
    QVERIFY2(unsafe.isEmpty(), qPrintable(unsafe.value(0)));
}

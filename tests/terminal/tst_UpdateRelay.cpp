// The terminal's software-update client and its progress relay to the back office,
// against the update service simulator (or the test as the service) on a real broker
// and the back-office simulator.

#include "../backend/BackendRig.h"
#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"
#include "ServiceSimulator.h"
#include "Terminal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrlQuery>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <memory>

namespace {

const QString StatusTopic = "zent/update/status";
const QString ProgressTopic = "zent/update/progress";

// This process's TCP connections to a port.
QSet<int> connectionsTo(quint16 port)
{
    QSet<int> found;
    for (const QString& name :
        QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        sockaddr_in peer {};
        socklen_t size = sizeof peer;
        if (::getpeername(name.toInt(), reinterpret_cast<sockaddr*>(&peer), &size) == 0 && peer.sin_family == AF_INET
            && ntohs(peer.sin_port) == port)
            found.insert(name.toInt());
    }
    return found;
}

QStringList queries(const QList<BackOfficeSim::Entry>& entries)
{
    QStringList list;
    for (const auto& entry : entries)
        list << entry.query;
    return list;
}

// A report as the relay makes it ("percent operation") as the back office receives it.
QString asQuery(const QString& report)
{
    return QString("progress=%1&operation=%2").arg(report.section(' ', 0, 0), report.section(' ', 1));
}

// Reports in query form as a back office that answers late hears them: of a run of one
// operation's reports the last, each outcome (100).
QStringList lastOfEachRun(const QStringList& reports)
{
    QStringList runs;
    for (const QString& report : reports) {
        const QUrlQuery now(report);
        const QUrlQuery before(runs.value(runs.size() - 1));
        if (!runs.isEmpty() && before.queryItemValue("progress").toInt() < 100
            && before.queryItemValue("operation") == now.queryItemValue("operation"))
            runs.last() = report;
        else
            runs << report;
    }
    return runs;
}

// The terminal on a real broker, its back office the simulator; the update service is the
// service simulator or the test itself.
struct Lane
{
    QTemporaryDir work;
    BackendRig bo;
    MosquittoBroker broker;
    std::unique_ptr<ServiceSimulator> service;
    std::unique_ptr<Config> config;
    manager::MqttClient mqtt;
    std::unique_ptr<Terminal> terminal;
    QStringList relayed;
    int socket = -1; // the terminal's connection to the broker

    bool setUp(bool simulator)
    {
        if (!QDir::setCurrent(work.path()) || !bo.setUp() || !broker.start())
            return false;
        service = simulator ? std::make_unique<ServiceSimulator>(broker.port()) : nullptr;
        if (service && !service->start())
            return false;
        QVariantMap settings = bo.defaults();
        settings.insert({ { "topics/update", "zent/update" }, { "topics/rfid", "zent/rfid" },
            { "topics/dispenser", "zent/dispenser" }, { "topics/network", "zent/network" },
            { "terminal/deviceId", "TERM-1" }, { "terminal/customsId", "1" }, { "terminal/locationId", "7" } });
        config = std::make_unique<Config>(work.filePath("gui.conf"), settings);
        terminal = std::make_unique<Terminal>(*config, mqtt);
        QObject::connect(terminal.get(), &Terminal::updateProgress,
            [this](const QString& operation, int percent) { relayed << QString("%1 %2").arg(percent).arg(operation); });
        const QSet<int> before = connectionsTo(broker.port());
        mqtt.setHostname(broker.host());
        mqtt.setPort(broker.port());
        mqtt.setClientId("terminal");
        mqtt.connect();
        if (!QTest::qWaitFor([this] { return mqtt.isConnected(); }))
            return false;
        const QSet<int> added = connectionsTo(broker.port()) - before;
        socket = added.size() == 1 ? *added.begin() : -1;
        return socket != -1;
    }

    manager::Update& update() { return *terminal->update(); }

    int unread() const
    {
        int bytes = -1;
        return ::ioctl(socket, FIONREAD, &bytes) == 0 ? bytes : -1;
    }

    // Publishes back to back while this thread, and with it the terminal, takes nothing in; true
    // once all of them wait in the terminal's socket: its next read takes them in one pass.
    bool burst(MqttProbe& peer, const QList<QPair<QString, QByteArray>>& messages) const
    {
        int bytes = unread();
        for (const auto& [topic, payload] : messages) {
            const int remaining = 2 + topic.toUtf8().size() + payload.size(); // QoS 0 to the terminal
            bytes += 1 + (remaining < 128 ? 1 : 2) + remaining;
            if (!peer.publishNow(topic, payload))
                return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (unread() < bytes && !clock.hasExpired(5000))
            QThread::usleep(200);
        return unread() >= bytes;
    }
};

} // namespace

class tst_UpdateRelay : public QObject
{
    Q_OBJECT

private slots:
    void operationInProgress();
    void reportsInOrder_data();
    void reportsInOrder();
    void reportQueue();
    void reportsMerged_data();
    void reportsMerged();
    void reportsWaitingAtStop();
    void downloadHeldWhileBusy_data();
    void downloadHeldWhileBusy();
    void heldOrderReplaced();
};

// A service that reports a download or an installation less often than the check timer runs:
// a check meanwhile must not offer Install, and the back office hears each operation's real outcome.
void tst_UpdateRelay::operationInProgress()
{
    Lane lane;
    QVERIFY(lane.setUp(true));
    ServiceSimulator& sim = *lane.service;
    manager::Update& update = lane.update();
    update.setCheckTimeout(300);
    const QStringList& relayed = lane.relayed;
    QStringList onOutcome; // relayed once the service's last report came in
    connect(lane.terminal.get(), &Terminal::updateProgress, this, [&] {
        if (update.progressMessage() == "Installation complete")
            onOutcome << relayed.last();
    });
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
    QTRY_VERIFY(!onOutcome.isEmpty());

    // Every change of operation reached the back office in order, the last being the installation's
    // outcome; of a run of one operation's reports the last, or more when the back office kept up.
    const auto received = [&] { return queries(lane.bo.sim.journal("operation/status")); };
    const auto answered = [&] { return queries(lane.bo.sim.answered("operation/status")); };
    QTRY_VERIFY2(answered().endsWith("progress=100&operation=Updated"), qPrintable(answered().join(", ")));
    QStringList made;
    for (const QString& report : relayed)
        made << asQuery(report);
    QCOMPARE(lastOfEachRun(received()), lastOfEachRun(made));
    // Only the outcome goes with the last report: a stale one beside it could reach the back office after it.
    QCOMPARE(onOutcome, QStringList({ "100 Updated" }));
    QVERIFY2(relayed.filter("failed").isEmpty(), qPrintable(relayed.join(", ")));
    QCOMPARE(relayed.last(), QString("100 Updated"));
    QCOMPARE(received().last(), QString("progress=100&operation=Updated"));
}

void tst_UpdateRelay::reportsInOrder_data()
{
    QTest::addColumn<QStringList>("reads"); // the service's messages, those of one read apart by blanks
    QTest::addColumn<bool>("slow"); // the back office holds its answer to the first report
    QTest::addColumn<QStringList>("reports");
    const QStringList installed { "0 Installing", "100 Updated" };
    QTest::newRow("204 and status in one read") << QStringList { "installing", "204 installed" } << false << installed;
    QTest::newRow("102 and status in one read") << QStringList { "installing", "102 idle" } << false
                                                << QStringList { "0 Installing", "100 Installation failed" };
    QTest::newRow("whole install in one read") << QStringList { "installing 204 installed" } << false << installed;
    QTest::newRow("back office slow over Installing")
        << QStringList { "installing", "204", "installed" } << true << installed;
    QTest::newRow("slow, whole install in one read") << QStringList { "installing 204 installed" } << true << installed;
}

// Every report, one per change of the update client, reaches the back office in the order made,
// the outcome last: with the service's messages taken in by one read, and with a back office that
// answers one report late.
void tst_UpdateRelay::reportsInOrder()
{
    QFETCH(QStringList, reads);
    QFETCH(bool, slow);
    QFETCH(QStringList, reports);
    const QMap<QString, QPair<QString, QByteArray>> messages {
        { "idle", { StatusTopic, R"({"state":"Idle","version":"1.0.0","pending":"1.3.0"})" } },
        { "installing", { StatusTopic, R"({"state":"Installing","version":"1.0.0","pending":"1.3.0"})" } },
        { "installed", { StatusTopic, R"({"state":"Idle","version":"1.3.0","pending":""})" } },
        { "204", { ProgressTopic, R"({"progress":204,"percent":100,"description":"Installation complete"})" } },
        { "102", { ProgressTopic, R"({"progress":102,"percent":0,"description":"Installation failed"})" } },
    };
    Lane lane;
    QVERIFY(lane.setUp(false));
    MqttProbe service;
    QVERIFY(service.connectTo(lane.broker.host(), lane.broker.port()));
    QVERIFY(service.publish(StatusTopic, messages["idle"].second));
    QTRY_COMPARE(lane.update().status(), QString("Idle")); // the terminal's subscriptions are in place
    if (slow) {
        lane.bo.sim.script("operation/status", ScriptedReply::held());
    }
    for (const QString& read : reads) {
        QList<QPair<QString, QByteArray>> burst;
        for (const QString& name : read.split(' '))
            burst << messages.value(name);
        QVERIFY(lane.burst(service, burst));
        QTRY_COMPARE(lane.unread(), 0);
    }
    QTRY_COMPARE(lane.relayed, reports);
    const auto arrived = [&] { return queries(lane.bo.sim.journal("operation/status")); };
    if (slow) { // the first answered once the last is sent or waiting
        QTRY_VERIFY(arrived().size() == reports.size()
            || (arrived().size() == 1 && lane.terminal->cardBO()->progressWaiting() > 0));
        lane.bo.sim.release();
    }
    QStringList sent;
    for (const QString& report : reports)
        sent << QString("progress=%1&operation=%2").arg(report.section(' ', 0, 0), report.section(' ', 1));
    QTRY_COMPARE(queries(lane.bo.sim.answered("operation/status")), sent);
    QCOMPARE(arrived(), sent);
}

// Reports wait in order while one is out, a failed one logged and not sent again.
void tst_UpdateRelay::reportQueue()
{
    BackendRig rig;
    QVERIFY2(rig.setUp(), qPrintable(rig.error()));
    Backend::CardBO& bo = rig.client();
    rig.sim.script("operation/status", ScriptedReply::held());
    rig.sim.script("operation/status", ScriptedReply::withStatus(500));
    LogCapture log;
    const auto report
        = [&](const QString& operation, int percent) { emit rig.terminal.updateProgress(operation, percent); };
    const auto answered = [&] { return queries(rig.sim.answered("operation/status")); };
    report("Downloading", 10);
    QTRY_COMPARE(rig.sim.journal("operation/status").size(), 1);
    report("Downloading", 20);
    report("Installing", 0);
    report("Installation failed", 100);
    QCOMPARE(bo.progressWaiting(), 3);
    rig.sim.release();
    const QStringList sent { "progress=10&operation=Downloading", "progress=20&operation=Downloading",
        "progress=0&operation=Installing", "progress=100&operation=Installation failed" };
    QTRY_COMPARE(answered(), sent);
    QTRY_VERIFY(!bo.progressSending());
    QCOMPARE(queries(rig.sim.journal("operation/status")), sent);
    QCOMPARE(log.startingWith("[Backend::CardBO] ERROR: Operation failed : (500)").size(), 1);
}

void tst_UpdateRelay::reportsMerged_data()
{
    QTest::addColumn<QStringList>("made"); // "percent operation"; the first one's answer is held
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QStringList>("dropped");
    const auto run = [](const QString& operation, int from, int to) {
        QStringList list;
        for (int percent = from; percent <= to; ++percent)
            list << QString("%1 %2").arg(percent).arg(operation);
        return list;
    };
    QStringList installing; // each step of an installation makes one
    for (int step = 0; step < 6; ++step)
        installing << "0 Installing";
    QTest::newRow("percentages") << run("Downloading", 10, 100) << QStringList { "10 Downloading", "100 Downloading" }
                                 << QStringList();
    QTest::newRow("failed install tried again")
        << installing + QStringList { "100 Installation failed" } + installing + QStringList { "100 Updated" }
        << QStringList { "0 Installing", "0 Installing", "100 Installation failed", "0 Installing", "100 Updated" }
        << QStringList();
    QTest::newRow("outcomes one after the other")
        << QStringList { "0 Installing", "100 Installation failed", "100 Installation failed", "100 Download failed" }
        << QStringList { "0 Installing", "100 Installation failed", "100 Installation failed", "100 Download failed" }
        << QStringList();
    QTest::newRow("a new download after a whole one")
        << QStringList { "50 Downloading", "100 Downloading", "3 Downloading", "60 Downloading" }
        << QStringList { "50 Downloading", "100 Downloading", "60 Downloading" } << QStringList();

    // At the bound the oldest waiting report that is not an outcome goes, never an outcome.
    QStringList changes; // each a change of operation
    for (int i = 1; i <= Backend::CardBO::MaxProgressWaiting; ++i)
        changes << (i % 2 ? QString("%1 Downloading").arg(i) : QString("0 Installing"));
    const QStringList first { "0 Installing", "100 Installation failed" };
    const QStringList last { "0 Installing", "100 Updated" }; // the first merged as below the bound
    QTest::newRow("bound") << first + changes + last << first + changes.mid(2) + last.mid(1)
                           << QStringList(changes.mid(0, 2));
    QStringList failures;
    for (int i = 1; i <= Backend::CardBO::MaxProgressWaiting + 1; ++i)
        failures << QString("100 Installation failed %1").arg(i);
    QTest::newRow("bound, only outcomes wait")
        << QStringList { "0 Installing" } + failures << QStringList { "0 Installing" } + failures.mid(1)
        << QStringList(failures.mid(0, 1));
}

// While the back office holds its answer to the first report: a later report of the operation
// of the newest waiting one takes its place, an outcome and a change of operation stay.
void tst_UpdateRelay::reportsMerged()
{
    QFETCH(QStringList, made);
    QFETCH(QStringList, sent);
    QFETCH(QStringList, dropped);
    BackendRig rig;
    QVERIFY2(rig.setUp(), qPrintable(rig.error()));
    Backend::CardBO& bo = rig.client();
    rig.sim.script("operation/status", ScriptedReply::held());
    LogCapture log;
    for (int i = 0; i < made.size(); ++i) {
        emit rig.terminal.updateProgress(made.at(i).section(' ', 1), made.at(i).section(' ', 0, 0).toInt());
        if (i == 0)
            QTRY_COMPARE(rig.sim.journal("operation/status").size(), 1);
    }
    QCOMPARE(bo.progressWaiting(), sent.size() - 1);
    rig.sim.release();
    QStringList queried;
    for (const QString& report : sent)
        queried << asQuery(report);
    QTRY_COMPARE(queries(rig.sim.answered("operation/status")), queried);
    QCOMPARE(queries(rig.sim.journal("operation/status")), queried);
    QStringList warned;
    for (const QString& report : dropped)
        warned << QString("[Backend::CardBO] WARN: Progress report dropped, too many waiting : [%1%%] %2")
                      .arg(report.section(' ', 0, 0), report.section(' ', 1));
    QCOMPARE(log.startingWith("[Backend::CardBO] WARN: Progress report dropped"), warned);
}

// The application stopping with reports waiting says in one line how many were not sent.
void tst_UpdateRelay::reportsWaitingAtStop()
{
    BackendRig rig;
    QVERIFY2(rig.setUp(), qPrintable(rig.error()));
    LogCapture log;
    const QString line = "[Backend::CardBO] WARN: Progress reports not sent at exit : ";
    rig.client();
    emit rig.terminal.updateProgress("Downloading", 40);
    QTRY_COMPARE(rig.sim.answered("operation/status").size(), 1);
    QTRY_VERIFY(!rig.bo->progressSending());
    rig.bo.reset(); // nothing waits: nothing to say
    QCOMPARE(log.startingWith(line), QStringList());

    rig.sim.script("operation/status", ScriptedReply::held());
    rig.client();
    for (const auto& [operation, percent] : QList<QPair<QString, int>> { { "Downloading", 50 }, { "Downloading", 70 },
             { "Installing", 0 }, { "Installation failed", 100 }, { "Installing", 0 }, { "Updated", 100 } })
        emit rig.terminal.updateProgress(operation, percent);
    QTRY_COMPARE(rig.sim.journal("operation/status").size(), 2);
    rig.bo.reset();
    QCOMPARE(log.startingWith(line), QStringList({ line + "5 (last [100%%] Updated)" }));
    rig.sim.release();
}

void tst_UpdateRelay::downloadHeldWhileBusy_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QStringList>("downloads"); // as the service was told them
    QTest::newRow("its own version while downloading") << "Downloading"
                                                       << "1.3.0" << QStringList { "1.3.0" };
    QTest::newRow("another version while downloading") << "Downloading"
                                                       << "1.4.0" << QStringList { "1.3.0", "1.4.0" };
    QTest::newRow("another version while installing") << "Installing"
                                                      << "1.4.0" << QStringList { "1.3.0", "1.4.0" };
}

// A download ordered while the service is busy: refused, it would read as the running operation's
// outcome. The back office's order is dropped (its next heartbeat orders it again), any other held
// until the operation ends.
void tst_UpdateRelay::downloadHeldWhileBusy()
{
    QFETCH(QString, operation);
    QFETCH(QString, order);
    QFETCH(QStringList, downloads);
    Lane lane;
    QVERIFY(lane.setUp(true));
    ServiceSimulator& sim = *lane.service;
    manager::Update& update = lane.update();
    QTRY_COMPARE(update.current(), QString("1.0.0"));
    QVERIFY(sim.control("update", { { "stepMs", 600000 } }));
    update.trigger("1.3.0", "http://127.0.0.1/pkg/1.3.0");
    QTRY_COMPARE(update.status(), QString("Downloading"));
    if (operation == "Installing") {
        QVERIFY(sim.control("update", { { "stepMs", 20 } }));
        QTRY_COMPARE(update.pending(), QString("1.3.0"));
        QVERIFY(sim.control("update", { { "stepMs", 600000 } }));
        update.install();
        QTRY_COMPARE(update.status(), operation);
    }
    LogCapture log;
    const QString url = "http://127.0.0.1/pkg/" + order;
    lane.bo.sim.setHeartbeatReply({ { "softwareVersion", order }, { "softwareUrl", url } });
    bool answered = false;
    lane.terminal->cardBO()->heartbeat().done([&answered] { answered = true; });
    QTRY_VERIFY(answered);
    update.trigger(order, url);
    QCOMPARE(log.texts(QtWarningMsg).filter(order),
        QStringList({ "[Backend::CardBO] WARN: Software version " + order
                + " not ordered now, the update service is busy : " + operation,
            "[Update] WARN: Download held. The service is busy : " + operation + ", v=" + order }));

    QVERIFY(sim.control("update", { { "stepMs", 20 } }));
    QTRY_VERIFY(update.status() == "Ready to install" && update.pending() == downloads.last());
    update.check(); // after anything the terminal sent before
    QVERIFY(sim.waitForRequest("update /check"));
    QStringList told;
    for (const QJsonValue& entry : sim.control("journal/get")->value("entries").toArray()) {
        if (entry["device"] == "update" && entry["path"] == "/trigger")
            told << entry["payload"]["v"].toString();
    }
    QCOMPARE(told, downloads);
    QVERIFY2(lane.relayed.filter("failed").isEmpty(), qPrintable(lane.relayed.join(", ")));
}

// The service dies during a download while an order is held; the back office's later order goes out
// at once and replaces it: the held one never follows. A wait is logged once, however many
// heartbeats order its version meanwhile.
void tst_UpdateRelay::heldOrderReplaced()
{
    Lane lane;
    QVERIFY(lane.setUp(false));
    manager::Update& update = lane.update();
    MqttProbe service;
    QVERIFY(service.connectTo(lane.broker.host(), lane.broker.port()));
    QVERIFY(service.subscribe("zent/update/trigger") && service.subscribe("zent/update/check"));
    const auto status = [&](const QByteArray& payload, const QString& shown) {
        return service.publish(StatusTopic, payload) && QTest::qWaitFor([&] { return update.status() == shown; });
    };
    const auto heartbeat = [&](const QString& version) {
        lane.bo.sim.setHeartbeatReply(
            { { "softwareVersion", version }, { "softwareUrl", "http://127.0.0.1/pkg/" + version } });
        bool answered = false;
        lane.terminal->cardBO()->heartbeat().done([&answered] { answered = true; });
        return QTest::qWaitFor([&answered] { return answered; });
    };
    QVERIFY(status(R"({"state":"Downloading","version":"1.0.0","pending":""})", "Downloading"));
    LogCapture log;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(heartbeat("1.4.0"));
        update.trigger("1.4.0", "http://127.0.0.1/pkg/1.4.0");
    }
    QCOMPARE(log.texts(QtWarningMsg).filter("1.4.0"),
        QStringList({ "[Backend::CardBO] WARN: Software version 1.4.0 not ordered now, the update service is busy : "
                      "Downloading",
            "[Update] WARN: Download held. The service is busy : Downloading, v=1.4.0" }));

    QVERIFY(status(R"({"service":false})", "Service not running")); // its will
    QVERIFY(heartbeat("1.5.0"));
    QVERIFY(log.contains("[Update] WARN: Held download replaced : v=1.4.0"));
    QVERIFY(status(R"({"state":"Downloading","version":"1.0.0","pending":""})", "Downloading"));
    QVERIFY(status(R"({"state":"Ready to install","version":"1.0.0","pending":"1.5.0"})", "Ready to install"));
    update.check(); // after anything the terminal sent before
    QVERIFY(service.waitFor("zent/update/check") != -1);
    QStringList told;
    for (const MqttProbe::Message& message : service.messages("zent/update/trigger"))
        told << message.json().value("v").toString();
    QCOMPARE(told, QStringList({ "1.5.0" }));
    QVERIFY2(lane.relayed.filter("failed").isEmpty(), qPrintable(lane.relayed.join(", ")));
}

QTEST_GUILESS_MAIN(tst_UpdateRelay)
#include "tst_UpdateRelay.moc"

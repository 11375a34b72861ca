// One vehicle through the whole lane against real peers: a broker, the device
// simulator (reader, dispenser), the camera simulator in a private network and the
// file-driven GPIO board, with the terminal built on a working directory of its own.

#include "CameraRig.h"
#include "Config.h"
#include "DeviceSimulator.h"
#include "IssueEngine.h"
#include "LogCapture.h"
#include "Logger.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"
#include "PrivateNetwork.h"
#include "Session.h"
#include "Susi.h"
#include "Terminal.h"
#include "TestPorts.h"
#include "UiMqttService.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QVariantMap AllFour { { "Front", "ABC1234" }, { "Rear", "XYZ9876" }, { "Container1", "MSCU1234565" },
    { "Container2", "TGHU7654321" } };
const Engine::Pauses Short { 100, 100, 300, 1000, 25000 };
// What a busy machine may add to a pause measured here: the test process stalled for a second or so.
constexpr int Stall = 1500;
// Pauses far enough apart, and from the defaults, that even with a stall one never passes for another.
const Engine::Pauses Apart { 1100, 3200, 5100, 1000, 25000 };

using S = Engine;

// The terminal under test with its own settings and broker client; records every engine step.
struct Lane
{
    Lane(const QVariantMap& settings, const Engine::Pauses& pauses)
        : config(QDir::current().filePath("gui.conf"), settings)
        , terminal(config, mqtt)
    {
        terminal.setEnginePauses(pauses);
        // A screen reacting to a reset re-runs the checks while the engine starts.
        QObject::connect(&terminal, &Terminal::sessionReset, &terminal, &Terminal::updateState);
        QObject::connect(&terminal, &Terminal::sessionFinished, [this] { closed = snapshot(); });
        // Every step of the engine after its first Idle.
        QObject::connect(&terminal, &Terminal::sessionChanged, [this] {
            QObject::connect(
                terminal.engine().data(), &Engine::stateChanged, &terminal, [this](Engine::State, Engine::State curr) {
                    states << curr;
                    at.insert(curr, at.value(curr, QDateTime::currentMSecsSinceEpoch()));
                });
        });
    }

    enum class Until { Connected, Ready, Card };
    // Connects; true once the terminal got as far as asked: Ready with an engine, or also a card on the reader.
    bool start(quint16 brokerPort, Until until)
    {
        mqtt.setHostname("127.0.0.1");
        mqtt.setPort(brokerPort);
        mqtt.setClientId("terminal-under-test");
        mqtt.setRetryMillis(300);
        mqtt.connect();
        if (until == Until::Connected)
            return true;
        if (!QTest::qWaitFor([this] { return terminal.state() == Terminal::Ready && terminal.engine(); }, 10000))
            return false;
        return until == Until::Ready || QTest::qWaitFor([this] { return !session()->cardId().isEmpty(); }, 5000);
    }

    Session* session() const { return terminal.session(); }
    Engine::State state() const { return terminal.engine() ? terminal.engine()->state() : Engine::Stopped; }
    bool waitState(Engine::State s, int timeoutMs = 8000)
    {
        return QTest::qWaitFor([&] { return state() == s; }, timeoutMs);
    }
    QVariantMap snapshot() const
    {
        return { { "result", session()->result() }, { "error", session()->error() },
            { "readings", session()->readings() }, { "uuid", session()->uuid() },
            { "customs", session()->card() ? session()->card()->customsId() : -1 } };
    }

    Config config;
    manager::MqttClient mqtt;
    Terminal terminal;
    QList<Engine::State> states;
    QHash<int, qint64> at; // when each state was first entered
    QVariantMap closed;
};

const QList<Engine::State> Road { S::DataCollect, S::WaitUser, S::Permission, S::CardProcess, S::Exit, S::PostExit,
    S::Idle };

const QList<Engine::State> ButtonFirst { S::DataCollect, S::Permission, S::CardProcess, S::Exit, S::PostExit, S::Idle };

} // namespace

class tst_Passage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void mainRoad();
    void preparationDuringIssue();
    void cameraGuard();
    void identities();
    void noSecretInTheLog();
    void variants_data(); // last: its final row restarts the broker
    void variants();

private:
    bool gpio(const QString& command);
    Lane& lane(const Engine::Pauses& pauses = Short, QVariantMap more = {}, Lane::Until until = Lane::Until::Card);
    QStringList journal(); // the device simulator's requests without their ids
    void write(const QString& name, const QByteArray& text);

    QTemporaryDir m_work;
    std::unique_ptr<MosquittoBroker> m_broker;
    std::unique_ptr<DeviceSimulator> m_devices;
    std::unique_ptr<CameraRig> m_cameras;
    MqttProbe m_probe;
    std::unique_ptr<Lane> m_lane;
    bool m_started = false;
};

void tst_Passage::initTestCase()
{
    QVERIFY(QDir::setCurrent(m_work.path()));
    QVERIFY(QDir().mkpath("gpio"));
    qputenv(SusiSimulatorDirVariable, m_work.filePath("gpio").toLocal8Bit());
    m_broker = std::make_unique<MosquittoBroker>();
    QVERIFY(m_broker->start());
    m_devices = std::make_unique<DeviceSimulator>(
        m_broker->port(), QStringList { "--model", "RTA27408", "--detect-delay-ms", "20" });
    QVERIFY(m_devices->start());
    m_cameras = std::make_unique<CameraRig>(testsupport::freePort());
    QString error;
    QVERIFY2(m_cameras->start(&error), qPrintable(error));
    QVERIFY(m_probe.connectTo("127.0.0.1", m_broker->port()));
}

void tst_Passage::init()
{
    QVERIFY(gpio("init"));
    write("serialnumber", QByteArray(" TERM-0042\n\0junk", 17));
    write("customsId", "17");
    write("locationId", "LOC-7");
    QVERIFY(m_devices->clearFaults() && m_devices->setAutoTake(200)
        && m_devices->setReader({ { "deaf", false }, { "detectDelayMs", 20 } }));
    for (SimCamera* camera : m_cameras->sim().cameras())
        camera->setPush(SimCamera::Push::Normal);
    m_cameras->sim().clearJournal();
}

void tst_Passage::cleanup()
{
    // The next lane starts from a quiet reader with a card read: let a preparation finish.
    QVERIFY(m_devices->setReader({ { "deaf", false } }));
    const auto quiet = [this] {
        return m_lane->state() == S::Stopped || (m_lane->state() == S::Idle && !m_lane->session()->cardId().isEmpty());
    };
    if (m_lane)
        (void)QTest::qWaitFor([&] { return quiet() && m_lane->terminal.rfid()->state() == manager::RFID::Idle; }, 3000);
    m_lane.reset();
}

void tst_Passage::write(const QString& name, const QByteArray& text)
{
    QFile file(m_work.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size());
}

bool tst_Passage::gpio(const QString& command)
{
    QProcess p;
    p.start(qEnvironmentVariable("LANE_SOURCE_DIR") + "/tools/gpiosim/gpiosim", { command });
    return p.waitForFinished(5000) && p.exitCode() == 0;
}

Lane& tst_Passage::lane(const Engine::Pauses& pauses, QVariantMap more, Lane::Until until)
{
    QVariantMap s = m_cameras->settings();
    s.insert({ { "topics/rfid", "zent/rfid" }, { "topics/dispenser", "zent/dispenser" },
        { "topics/network", "zent/network" }, { "topics/update", "zent/update" }, { "camera/triggerDelayMsec", 0 },
        { "terminal/collectTimeoutSec", 3 }, { "terminal/deviceId", m_work.filePath("serialnumber") },
        { "terminal/customsId", m_work.filePath("customsId") },
        { "terminal/locationId", m_work.filePath("locationId") } });
    s.insert(more);
    QFile::remove("gui.conf");
    m_lane = std::make_unique<Lane>(s, pauses);
    m_started = m_lane->start(m_broker->port(), until);
    m_devices->clearJournal();
    return *m_lane;
}

QStringList tst_Passage::journal()
{
    QStringList lines = m_devices->journalLines();
    for (QString& line : lines)
        line = line.section(' ', 0, 1);
    return lines;
}

void tst_Passage::mainRoad()
{
    LogCapture log;
    Lane& l = lane(Apart, { { "camera/triggerDelayMsec", 200 } });
    QVERIFY(m_started);
    QCOMPARE(log.startingWith("[Terminal] Creating terminal engine").size(), 1); // the nested check found it
    const QString firstUuid = l.session()->uuid();
    const QString card = l.session()->cardId();

    const qint64 arrived = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(gpio("arrive"));
    QVERIFY(l.waitState(S::WaitUser));
    QVERIFY(gpio("press"));
    QVERIFY(l.waitState(S::Permission));
    QVERIFY(gpio("release"));
    QVERIFY(l.waitState(S::PostExit, 15000));
    const QStringList devices = journal();
    QVERIFY(gpio("leave"));
    QVERIFY(l.waitState(S::Idle, 15000));

    QCOMPARE(l.states, Road);
    QVERIFY(l.at[S::DataCollect] - arrived < 2 * manager::MIOBoard::kPollMs + Stall);
    const QList<QJsonObject> triggers = m_cameras->sim().entries("trigger");
    QCOMPARE(triggers.size() + m_cameras->sim().entries("push").size(), 8);
    const qint64 triggered = triggers.first().value("ms").toVariant().toLongLong() - l.at[S::DataCollect];
    QVERIFY2(triggered >= 190 && triggered < 200 + Stall, qPrintable(QString::number(triggered)));
    // A stall only lengthens a pause; a timer may end up to 5 % early.
    for (auto [from, to, ms] : { std::tuple { S::Permission, S::CardProcess, Apart.permissionMs },
             { S::Exit, S::PostExit, Apart.exitMs }, { S::PostExit, S::Idle, Apart.returnMs } }) {
        const qint64 took = l.at[to] - l.at[from];
        QVERIFY2(
            took > ms * 0.94 && took < ms + Stall, qPrintable(QString("%1 -> %2: %3").arg(from).arg(to).arg(took)));
    }
    QCOMPARE(devices,
        QStringList({ "rfid /enable", "rfid /card/create", "rfid /card/write", "rfid /disable", "dispenser /eject" }));
    // The card the driver took holds this passage's record.
    const QJsonObject taken = m_devices->state().value("cards").toObject().value("taken").toArray().last().toObject();
    const QJsonObject usage = taken.value("data").toObject().value("usageLog").toArray().last().toObject();
    QCOMPARE(taken.value("uid").toString(), card);
    QCOMPARE(usage.value("deviceId").toString() + usage.value("locationId").toString(), QString("TERM-0042LOC-7"));
    QCOMPARE(l.closed,
        (QVariantMap { { "result", true }, { "error", "" }, { "readings", AllFour }, { "uuid", l.closed["uuid"] },
            { "customs", 17 } }));
    QVERIFY(l.closed["uuid"] == firstUuid && l.session()->uuid() != firstUuid && l.session()->uuid().size() == 36);
}

void tst_Passage::variants_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QList<Engine::State>>("road");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("request"); // one the devices must have seen
    const QList<Engine::State> failed { S::DataCollect, S::WaitUser, S::Permission, S::CardProcess, S::Error, S::Idle };
    const struct
    {
        const char* name;
        QString variant;
        QList<Engine::State> road;
        QString error, request;
    } rows[] = {
        { "button first", "button", ButtonFirst, "", "dispenser /eject" },
        { "vehicle leaves", "leave", { S::DataCollect, S::WaitUser, S::Idle }, "", "" },
        // A stopped engine stays stopped when the issue it started completes.
        { "stopped mid-issue", "stop", { S::DataCollect, S::WaitUser, S::Permission, S::CardProcess, S::Stopped }, "",
            "" },
        { "not collected", "uncollected", failed, "Card was not collected", "dispenser /accept" },
        { "reader deaf", "deaf", failed, "Card search failed", "dispenser /dispose" },
        { "jammed", "jammed", failed, "Jammed", "dispenser /eject" },
        { "broker restarted", "broker", Road, "", "dispenser /eject" },
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << r.variant << r.road << r.error << r.request;
}

void tst_Passage::variants()
{
    QFETCH(QString, variant);
    QFETCH(QList<Engine::State>, road);
    QFETCH(QString, error);
    QFETCH(QString, request);
    Lane& l = lane(Short, { { "terminal/collectTimeoutSec", 1 } });
    QVERIFY(m_started);
    QSignalSpy finished(&l.terminal, &Terminal::sessionFinished);
    const QString uuid = l.session()->uuid();
    if (variant == "uncollected")
        QVERIFY(m_devices->setAutoTake(-1));
    if (variant == "deaf")
        QVERIFY(m_devices->setReader({ { "deaf", true } }));
    if (variant == "jammed")
        QVERIFY(m_devices->setFault("dispenser/eject", { { "mode", "refuse" }, { "code", 1 }, { "text", "Jammed" } }));

    if (variant == "button") {
        QVERIFY(m_probe.publish("zent/ui/button", "{}"));
    } else {
        QVERIFY(gpio("arrive"));
        QVERIFY(l.waitState(S::WaitUser));
        if (variant == "broker") {
            QSignalSpy reconnected(&l.mqtt, &manager::MqttClient::connected);
            m_broker->stop();
            QVERIFY(m_broker->start() && reconnected.wait(10000));
            // The simulator's control client comes back on its own clock, later than the terminal's.
            QTRY_VERIFY_WITH_TIMEOUT(!m_devices->state().isEmpty(), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(l.terminal.state(), Terminal::Ready, 10000);
        }
        QVERIFY(gpio(variant == "leave" ? "leave" : "press"));
    }
    if (variant == "stop") {
        QVERIFY(l.waitState(S::CardProcess));
        l.terminal.engine()->stop();
        QTest::qWait(1000);
        QCOMPARE(l.state(), S::Stopped);
    }
    QVERIFY(QTest::qWaitFor([&] { return l.states.size() >= road.size() - 1; }, 10000));
    QVERIFY(gpio("leave")); // the driver goes, whatever happened
    QVERIFY(QTest::qWaitFor([&] { return l.states.size() >= road.size(); }, 5000));
    QTest::qWait(200);
    QCOMPARE(l.states, road);
    QCOMPARE(l.session()->uuid() != uuid, variant != "stop");
    QCOMPARE(finished.count(), request.isEmpty() ? 0 : 1);
    QCOMPARE(journal().contains("dispenser /eject"), variant != "leave" && variant != "deaf");
    if (request.isEmpty())
        return;
    QVERIFY(journal().contains(request));
    QCOMPARE(l.closed["result"].toBool(), error.isEmpty());
    QVERIFY2(l.closed["error"].toString().contains(error), qPrintable(l.closed["error"].toString()));
}

void tst_Passage::preparationDuringIssue()
{
    // Slow reader: the idle preparation is still reading when the issue starts and joins it; its
    // completion inside CardProcess must not reopen the passage. Failed read: the card is disposed,
    // and the new preparation 1000 ms later falls into the issue and must stay out of it.
    for (const bool disposal : { false, true }) {
        LogCapture log;
        if (disposal) {
            QVERIFY(
                m_devices->setFault("rfid/enable", { { "mode", "refuse" }, { "text", "Antenna" }, { "times", 1 } }));
            QVERIFY(m_devices->setAutoTake(1500));
        }
        QVERIFY(m_devices->setReader({ { "detectDelayMs", disposal ? 20 : 700 } }));
        Lane& l = lane(Short, {}, Lane::Until::Ready);
        QVERIFY(m_started && (disposal || l.session()->cardId().isEmpty()));
        if (disposal)
            QTRY_VERIFY(!log.startingWith("[IssueEngine] Card disposed").isEmpty());
        QVERIFY(gpio("arrive"));
        QVERIFY(m_probe.publish("zent/ui/button", "{}"));
        QVERIFY(l.waitState(S::PostExit, 10000));
        QVERIFY(gpio("leave"));
        if (disposal) {
            QCOMPARE(log.count("[IssueEngine] Preparing card"), 1);
            QVERIFY(log.contains("[IssueEngine] WARN: Ignoring in current state : Engine::CardProcess"));
        }
        QVERIFY(l.waitState(S::Idle));
        QCOMPARE(l.states, ButtonFirst);
        QVERIFY(l.closed["result"].toBool());
        cleanup();
    }
}

void tst_Passage::cameraGuard()
{
    LogCapture log;
    Engine::Pauses pauses = Short;
    pauses.dataGuardMs = 300;
    for (SimCamera* camera : m_cameras->sim().cameras())
        camera->setPush(SimCamera::Push::NoPush);
    Lane& l = lane(pauses);
    QVERIFY(m_started);
    l.terminal.cameras()->setDataWaitTimeout(2500);
    // Started by the button, with cameras that never answer: on after the guard, without readings. The
    // guard (a coarse timer, which may end 5 % early) is measured from before the press, so that a stalled
    // test process can only lengthen it.
    const qint64 pressed = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(m_probe.publish("zent/ui/button", "{}"));
    QVERIFY(l.waitState(S::PostExit, 5000));
    QCOMPARE(l.closed["readings"].toMap(), QVariantMap());
    QVERIFY(l.closed["result"].toBool());
    QVERIFY2(l.at[S::Permission] - pressed >= 285, qPrintable(QString::number(l.at[S::Permission] - pressed)));
    QTRY_VERIFY_WITH_TIMEOUT(!log.startingWith("[IssueEngine] WARN: Ignorning camera readings").isEmpty(), 6000);
    QVERIFY(l.waitState(S::Idle));

    // A cycle that ends in time leaves no guard behind. The guard is long enough now that a stalled
    // test process still takes the pushes before it, and the check waits until it would have fired.
    for (SimCamera* camera : m_cameras->sim().cameras())
        camera->setPush(SimCamera::Push::Normal);
    pauses.dataGuardMs = 2000;
    l.terminal.setEnginePauses(pauses);
    QElapsedTimer arrived;
    arrived.start();
    QVERIFY(gpio("arrive"));
    QVERIFY(l.waitState(S::WaitUser));
    QTest::qWait(qMax<qint64>(0, pauses.dataGuardMs + 300 - arrived.elapsed()));
    QCOMPARE(l.state(), S::WaitUser);
    QCOMPARE(l.session()->readings(), AllFour);
    QCOMPARE(log.startingWith("[IssueEngine] WARN: No camera readings").size(), 1);
}

void tst_Passage::identities()
{
    // A file name and a serial number with an escape and a line break stay on their log lines.
    LogCapture log;
    const QString customs = QString::fromUtf8("customs\x1b[2K\nId");
    Lane& l = lane(Short, { { "terminal/customsId", m_work.filePath(customs) } }, Lane::Until::Connected);
    QTRY_COMPARE(l.terminal.reason(), QString("Missing Customs id"));
    QVERIFY(log.contains("[Terminal] ERROR: File does not exist : " + m_work.filePath("customs\\x1b[2K\\nId")));

    // Files moved into place keep their old creation time.
    write("customsId.new", "  21\n");
    write("locationId.new", QByteArray(5000, '7'));
    QTest::qWait(2100);
    QVERIFY(QFile::rename(m_work.filePath("customsId.new"), m_work.filePath(customs)));
    QTRY_COMPARE(l.terminal.customsId(), QString("21"));
    QTRY_COMPARE(l.terminal.state(), Terminal::Ready);
    QVERIFY(QFile::remove(m_work.filePath("locationId")));
    QTRY_COMPARE(l.terminal.reason(), QString("Missing Location id"));
    QVERIFY(QFile::rename(m_work.filePath("locationId.new"), m_work.filePath("locationId")));
    QTRY_COMPARE(l.terminal.locationId(), QString(4096, '7')); // read up to 4 KiB
    write("serialnumber", "TERM-0043\x1b[2K\n[   1.000] [Terminal] x");
    QTRY_COMPARE(l.terminal.serialNum(), QString("TERM-0043\x1b[2K\n[   1.000] [Terminal] x"));
    QVERIFY(log.contains("[Terminal] Device ID changed : TERM-0043\\x1b[2K\\n[   1.000] [Terminal] x"));
    const QStringList unsafe = log.unsafeLines();
    QVERIFY2(unsafe.isEmpty(), qPrintable(unsafe.value(0).left(200)));

    // The update service's download percent goes on to the back office.
    QVERIFY(m_probe.publish("zent/update/status", R"({"state":"Downloading"})"));
    QVERIFY(m_probe.publish("zent/update/progress", R"({"progress":101,"percent":40,"description":"Downloading"})"));
    QTRY_VERIFY(log.contains("[Backend::CardBO] Sending progress : [40%%] Downloading"));
}

// At the highest level, with settings edited on disk and over MQTT, through one passage.
void tst_Passage::noSecretInTheLog()
{
    manager::Logger::instance()->setSyslog(false); // its handler first, so the capture sits on top of it
    manager::Logger::instance()->setLevel(manager::Logger::All);
    LogCapture log;
    Lane& l = lane(Short, { { "mqtt/password", "MqttPw-9931" }, { "gui/settingsPin", "5283" } });
    QVERIFY(m_started);
    UiMqttService ui(l.mqtt, l.config);
    connect(&l.mqtt, &manager::MqttClient::received, &ui, &UiMqttService::onReceived);
    ui.subscribeToTopics();

    const QString alpr2 = m_cameras->url("alpr2").replace("plou", "CamNew-5511");
    {
        QSettings onDisk(l.config.filename(), QSettings::IniFormat);
        onDisk.setValue("gui/settingsPin", "246813");
        onDisk.setValue("camera/alpr2", alpr2);
    }
    QTRY_COMPARE(l.config.get("camera/alpr2").toString(), alpr2);
    const QString alpr1 = m_cameras->url("alpr1").replace("plou", "SetPw-4417");
    const QByteArray set = QJsonDocument(QJsonObject { { "camera", QJsonObject { { "alpr1", alpr1 } } } })
                               .toJson(QJsonDocument::Compact);
    QVERIFY(QTest::qWaitFor(
        [&] { // again until the subscription is in place
            m_probe.publish("zent/ui/config/set", set);
            return QTest::qWaitFor([&] { return l.config.get("camera/alpr1").toString() == alpr1; }, 300);
        },
        5000));

    QVERIFY(m_probe.publish("zent/ui/button", "{}"));
    QVERIFY(l.waitState(S::PostExit, 5000));
    QVERIFY(gpio("leave"));
    QVERIFY(l.waitState(S::Idle));
    QCOMPARE(l.closed["readings"].toMap(), AllFour);
    manager::Logger::instance()->setLevel(manager::Logger::Info);

    const QStringList lines = log.texts();
    QVERIFY(lines.contains("[MqttClient] Received on topic: zent/ui/config/set, payload: "
        + QString::fromUtf8(set).replace("SetPw-4417", "****"))); // payloads are logged, masked
    for (const QString& line : lines) {
        for (const char* secret : { "246813", "CamNew-5511", "SetPw-4417", "MqttPw-9931", "plou" })
            QVERIFY2(!line.contains(QLatin1String(secret)), qPrintable(line));
    }
}

LANE_PRIVATE_NETWORK_TEST_MAIN(tst_Passage)
#include "tst_Passage.moc"

// The camera cycle against the camera simulator over real sockets, inside a private
// network: cameras at 127.0.0.11-14 port 80, the manager's listener at 127.0.0.1.

#include "CameraManager.h"
#include "CameraRig.h"
#include "Config.h"
#include "LogCapture.h"
#include "MqttClient.h"
#include "PeakMemory.h"
#include "PrivateNetwork.h"
#include "TestPorts.h"
#include "VAXReading.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using Readings = QMap<QString, QString>;

namespace {

// The manager over a settings file of its own, with short fixed waits.
struct Lane
{
    explicit Lane(const QVariantMap& settings)
        : config(dir.filePath(QString("lane.ini")), settings)
        , cameras(config, mqtt)
    {
        cameras.setDataWaitTimeout(1200);
        cameras.setTriggerTimeout(1200);
    }

    // One cycle; none when it did not settle in time.
    std::optional<Readings> cycle(const QString& id = QString(), int timeoutMs = 5000)
    {
        auto map = std::make_shared<std::optional<Readings>>();
        cameras.cameraProcess(id).done([map](const Readings& readings) { *map = readings; });
        if (!QTest::qWaitFor([map] { return map->has_value(); }, timeoutMs))
            return std::nullopt;
        return *map;
    }

    QTemporaryDir dir;
    Config config;
    manager::MqttClient mqtt;
    manager::CameraManager cameras;
};

const Readings AllFour { { "Front", "ABC1234" }, { "Rear", "XYZ9876" }, { "Container1", "MSCU1234565" },
    { "Container2", "TGHU7654321" } };

Readings without(const QString& key)
{
    Readings readings = AllFour;
    readings.remove(key);
    return readings;
}

Readings with(const QString& key, const QString& value)
{
    Readings readings = AllFour;
    readings.insert(key, value);
    return readings;
}

} // namespace

class TestCameraManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void triggerRequest();
    void cycle_data();
    void cycle();
    void unroutableHostsAndPorts();
    void settingsChangeDuringCycle();
    void noCameras();
    void managerDestroyedDuringCycle();

private:
    std::unique_ptr<CameraRig> m_rig;
};

void TestCameraManager::initTestCase()
{
    m_rig = std::make_unique<CameraRig>(testsupport::freePort());
    QString error;
    QVERIFY2(m_rig->start(&error), qPrintable(error));
}

void TestCameraManager::init()
{
    // Pushes of the previous case may still be finishing.
    QVERIFY(m_rig->settle());
    for (const QString& role : CameraRig::Roles) {
        m_rig->camera(role)->setReply(SimCamera::Reply::Ok);
        m_rig->camera(role)->setPush(SimCamera::Push::Normal);
    }
    m_rig->sim().clearJournal();
}

void TestCameraManager::triggerRequest()
{
    Lane lane(m_rig->settings());
    QCOMPARE(lane.cameras.port(), int(m_rig->pushPort()));
    QCOMPARE(lane.cycle(QString("lane 7&x=1")), AllFour);

    const QList<QJsonObject> triggers = m_rig->sim().entries(QString("trigger"));
    QCOMPARE(triggers.size(), 4);
    // Plain http on port 80 whatever the setting says, credentials only on a challenge.
    for (const QJsonObject& t : triggers) {
        const QString role = t.value("camera").toString();
        const QJsonObject headers = t.value("headers").toObject();
        QCOMPARE(QStringList({ t.value("method").toString(), t.value("path").toString(), t.value("id").toString(),
                     headers.value("Host").toString(), headers.value("Connection").toString() }),
            QStringList(
                { "GET", role.startsWith("alpr") ? "/local/Vaxreader/trigger.cgi" : "/local/Vaxcontainer/trigger.cgi",
                    "lane 7&x=1", CameraRig::address(role), "close" }));
        QVERIFY(!headers.contains("Authorization"));
    }
}

void TestCameraManager::cycle_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("push");
    QTest::addColumn<Readings>("expected");
    QTest::addColumn<QString>("logLine"); // a line that starts so must be logged
    const struct
    {
        const char *name, *role, *reply, *push;
        Readings expected;
        const char* logLine;
    } rows[] = {
        { "NONE dropped", "alpr2", "200", "none", without("Rear"), "[CameraManager] Camera 127.0.0.12 data received" },
        { "empty kept", "ccr1", "200", "missing", with("Container1", ""), "[VAXCamera] Code : , Date : " },
        { "401 then credentials", "alpr1", "auth", "normal", AllFour,
            "[VAXCamera] [alpr1] Successful trigger, wait for Camera Post" },
        { "404", "alpr2", "404", "normal", without("Rear"),
            "[CameraManager] WARN: Camera 127.0.0.12 failed: [alpr2] Trigger HTTP error :" },
        { "500", "ccr2", "500", "normal", without("Container2"), "[VAXCamera] [ccr2] Error : " },
        { "trigger time-out", "ccr1", "silent", "normal", without("Container1"),
            "[VAXCamera] [ccr1] WARN: Cannot send trigger signal. Timeout value : 5000" },
        { "refused", "alpr1", "refused", "normal", without("Front"), "[VAXCamera] [alpr1] Trigger camera error : " },
        { "closed without reply", "alpr1", "close", "normal", without("Front"),
            "[VAXCamera] [alpr1] Trigger camera error : " },
        { "endless reply, 8 GB announced", "ccr2", "huge", "normal", without("Container2"),
            "[CameraManager] WARN: Camera 127.0.0.14 failed: [ccr2] Trigger HTTP error :Reply larger than" },
        { "endless reply, no length", "alpr2", "stream", "normal", without("Rear"),
            "[CameraManager] WARN: Camera 127.0.0.12 failed: [alpr2] Trigger HTTP error :Reply larger than" },
        { "push before reply", "alpr2", "200", "early", AllFour,
            "[VAXCamera] [alpr2] Data message arrived before the trigger reply" },
        { "no push", "alpr1", "200", "nopush", without("Front"), "[VAXCamera] [alpr1] Timeout" },
        { "[]", "ccr2", "200", "array", without("Container2"),
            "[CameraManager] WARN: Camera 127.0.0.14 data message error : Parse Error" },
        { "garbage", "alpr1", "200", "garbage", without("Front"),
            "[VAXCamera] [alpr1] WARN: Body is not a JSON object" },
        { "stray push", "alpr2", "200", "stray", without("Rear"), "[CameraManager] Unknown peer address : " },
        { "split push", "ccr1", "200", "split", AllFour, "[VAXCamera] Code : MSCU1234565" },
        { "heartbeat first", "alpr1", "200", "heartbeat", AllFour, "[VAXCamera] [alpr1] Heartbeat message received" },
        { "line break in plate", "alpr1", "200", "forged", with("Front", SimCamera::forgedValue("ABC1234")),
            "[VAXCamera] Plate : ABC1234\\x1b[2K\\n[   12.345] [Terminal] State changed : (2) Ready, Country : GR" },
        { "line break in container code", "ccr1", "200", "forged",
            with("Container1", SimCamera::forgedValue("MSCU1234565")),
            "[CameraManager] IP : 127.0.0.13 Container : MSCU1234565\\x1b[2K\\n[   12.345] [Terminal] State changed" },
        { "over-long plate", "alpr2", "200", "long", without("Rear"),
            "[CameraManager] WARN: Camera 127.0.0.12 data message error : Field plate longer than 256 bytes" },
        { "over-long container code", "ccr2", "200", "long", without("Container2"),
            "[CameraManager] WARN: Camera 127.0.0.14 data message error : Field code longer than 256 bytes" },
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << r.role << r.reply << r.push << r.expected << r.logLine;
}

void TestCameraManager::cycle()
{
    QFETCH(QString, role);
    QFETCH(QString, reply);
    QFETCH(QString, push);
    QFETCH(Readings, expected);
    QFETCH(QString, logLine);
    SimCamera::Reply replyMode;
    SimCamera::Push pushMode;
    QVERIFY(SimCamera::parseReply(reply, &replyMode) && SimCamera::parsePush(push, &pushMode));
    m_rig->camera(role)->setReply(replyMode);
    m_rig->camera(role)->setPush(pushMode);

    LogCapture log;
    Lane lane(m_rig->settings());
    testsupport::resetPeakMemory();
    const qint64 peakBefore = testsupport::peakMemoryKiB();
    const std::optional<Readings> readings = lane.cycle();
    QVERIFY2(readings.has_value(), "the cycle did not settle");
    // Whatever a camera sends, a cycle keeps little of it.
    const qint64 grownKiB = testsupport::peakMemoryKiB() - peakBefore;
    QVERIFY2(peakBefore > 0 && grownKiB < 8 * 1024, qPrintable(QString("peak memory grew by %1 KiB").arg(grownKiB)));
    QCOMPARE(*readings, expected);
    QVERIFY2(!log.startingWith(logLine).isEmpty(), qPrintable(logLine));
    // What a camera sends cannot break a log line or stretch it without end.
    const QStringList unsafe = log.unsafeLines();
    QVERIFY2(unsafe.isEmpty(), qPrintable(unsafe.value(0).left(200)));

    const QList<QJsonObject> triggers = m_rig->sim().entries(QString("trigger"), role);
    if (replyMode == SimCamera::Reply::Auth) {
        QCOMPARE(triggers.size(), 2);
        QVERIFY(!triggers[0].value(QString("authorized")).toBool());
        QVERIFY(triggers[1].value(QString("authorized")).toBool());
    }
    if (pushMode == SimCamera::Push::Stray) {
        // Answered all the same, so the stray sender is not left hanging.
        QVERIFY(m_rig->waitFor(QString("push"), 4));
        QCOMPARE(m_rig->sim().entries(QString("push"), role).value(0).value(QString("status")).toInt(), 200);
    }
}

void TestCameraManager::unroutableHostsAndPorts()
{
    QVariantMap settings = m_rig->settings();
    settings.insert(QString("camera/alpr1"), QString("https://zent:plou@[::1]:%1").arg(m_rig->pushPort()));
    settings.insert(QString("camera/alpr2"), QString("https://camera.invalid:%1").arg(m_rig->pushPort()));
    settings.insert(QString("camera/ccr2"), QString("https://127.0.0.14")); // no port: -1
    LogCapture log;
    Lane lane(settings);
    QCOMPARE(log.startingWith(QString("[CameraManager] WARN: Camera host ")).size(), 2);
    QVERIFY(log.contains(
        QString("[CameraManager] WARN: Camera port -1 is outside 1-65535, keeping port %1").arg(m_rig->pushPort())));
    QCOMPARE(lane.cameras.port(), int(m_rig->pushPort()));
    QCOMPARE(lane.cameras.cameras().size(), 4);
    QVERIFY(!lane.cameras.cameraFor(QHostAddress(QHostAddress::LocalHostIPv6)));
    QVERIFY(!lane.cameras.cameraFor(QHostAddress(QString("0.0.0.0"))));
    // The dual-stack listener reports IPv4 peers mapped into IPv6.
    QCOMPARE(lane.cameras.cameraFor(QHostAddress(QString("::ffff:127.0.0.13")))->type(), QString("ccr1"));

    // Still triggered, and the listener still hears the others.
    const std::optional<Readings> readings = lane.cycle();
    QVERIFY(readings.has_value());
    QCOMPARE(*readings, (Readings { { "Container1", "MSCU1234565" }, { "Container2", "TGHU7654321" } }));
    QVERIFY(!log.startingWith(QString("[VAXCamera] [alpr2] Trigger camera error : ")).isEmpty());
}

void TestCameraManager::settingsChangeDuringCycle()
{
    Lane lane(m_rig->settings());
    lane.cameras.setDataWaitTimeout(manager::CameraManager::DataWaitMsec);
    lane.cameras.setTriggerTimeout(VAXCamera::TriggerTimeoutMsec);
    // Removed in role order: alpr1 after its push, then alpr2 and ccr1, which still wait.
    m_rig->camera(QString("alpr2"))->setReply(SimCamera::Reply::Silent); // trigger pending
    m_rig->camera(QString("ccr1"))->setPush(SimCamera::Push::NoPush); // data wait pending
    const QList<VAXCamera*> before = lane.cameras.cameras();

    auto map = std::make_shared<std::optional<Readings>>();
    lane.cameras.cameraProcess(QString()).done([map](const Readings& readings) { *map = readings; });
    QVERIFY(m_rig->waitFor(QString("push"), 2));
    QVERIFY(m_rig->waitFor(QString("trigger"), 4));

    LogCapture log;
    lane.config.set(QString("camera/triggerDelayMsec"), 1);
    QVERIFY(log.contains(QString("[CameraManager] WARN: Configuration changed. Applying.")));
    // The cycle ends once ccr1 is gone; alpr1's reading went with its camera, ccr2's is still there.
    QTRY_VERIFY_WITH_TIMEOUT(map->has_value(), 3000);
    QCOMPARE(**map, (Readings { { "Container2", "TGHU7654321" } }));
    QCOMPARE(log.count("[CameraManager] WARN: Camera 127.0.0.12 failed: [alpr2] Camera removed"), 1);
    QCOMPARE(log.count("[CameraManager] WARN: Camera 127.0.0.13 data message error : [ccr1] Camera removed"), 1);
    for (VAXCamera* camera : lane.cameras.cameras())
        QVERIFY(!before.contains(camera));

    // A camera whose setting goes away goes away too.
    lane.config.set(QString("camera/alpr2"), QString());
    QCOMPARE(lane.cameras.cameras().size(), 3);
    QVERIFY(!lane.cameras.cameraFor(QHostAddress(CameraRig::address(QString("alpr2")))));
    m_rig->camera(QString("alpr2"))->setReply(SimCamera::Reply::Ok);
    m_rig->camera(QString("ccr1"))->setPush(SimCamera::Push::Normal);
    const std::optional<Readings> readings = lane.cycle();
    QVERIFY(readings.has_value());
    QCOMPARE(*readings, without("Rear"));
}

void TestCameraManager::noCameras()
{
    QVariantMap settings = m_rig->settings();
    for (const QString& role : CameraRig::Roles)
        settings.insert(QString("camera/") + role, QString());
    settings.insert(QString("camera/triggerDelayMsec"), -50);
    LogCapture log;
    Lane lane(settings);
    const std::optional<Readings> readings = lane.cycle(QString(), 2000);
    QVERIFY2(readings.has_value(), "a cycle without cameras or with a negative delay must end");
    QVERIFY(readings->isEmpty());
    QVERIFY(log.contains(QString("[CameraManager] WARN: No results received from cameras")));
}

void TestCameraManager::managerDestroyedDuringCycle()
{
    m_rig->camera(QString("alpr1"))->setPush(SimCamera::Push::NoPush);
    auto lane = std::make_unique<Lane>(m_rig->settings());
    lane->cameras.setDataWaitTimeout(manager::CameraManager::DataWaitMsec);
    auto map = std::make_shared<std::optional<Readings>>();
    lane->cameras.cameraProcess(QString()).done([map](const Readings& readings) { *map = readings; });
    QVERIFY(m_rig->waitFor(QString("push"), 3));
    lane.reset();
    // Whoever waits for the map is not left hanging, and no freed camera is read.
    QVERIFY(map->has_value());
    QCOMPARE(map->value().value(QString("Rear")), QString("XYZ9876"));
    QVERIFY(!map->value().contains(QString("Front")));
}

LANE_PRIVATE_NETWORK_TEST_MAIN(TestCameraManager)
#include "tst_CameraManager.moc"

// The lane's MQTT connection against a real broker: settings, subscriptions
// renewed after reconnection, the reconnect cycle, errors and their log lines.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttTestPeer.h"
#include "TestPorts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMetaType>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <utility>

using manager::MqttClient;

namespace {

void pointAt(MqttClient& client, quint16 port, unsigned int retryMillis = 300)
{
    client.setHostname(QStringLiteral("127.0.0.1"));
    client.setPort(port);
    client.setRetryMillis(retryMillis);
}

QString testClientPath()
{
    return qEnvironmentVariable("LANE_BINARY_DIR") + "/tools/mqtt-test-client/lane-mqtt-test-client";
}

} // namespace

class TestMqttClient : public QObject
{
    Q_OBJECT

private slots:
    void registersMetaTypes();
    void connectsSubscribesPublishesReceives();
    void logsSettingsButNeverThePassword();
    void publishWithoutConnectionFailsSilently();
    void connectedListenerSubscribesTwice();
    void brokerAbsentAtStart();
    void reconnectsAfterBrokerKilled();
    void disconnectIsFollowedByReconnect();
    void refusedCredentialsEachAttempt();
    void refusedSubscriptionIsReported();
    void willOnlyAfterAbnormalLoss();
    void portOutOfRangeIsRefused();
    void encryptedIsRefused();
    void secondConnectWithNewSettingsReconnects();
};

void TestMqttClient::registersMetaTypes()
{
    MqttClient client;
    QVERIFY(QMetaType::type("ClientState") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("ClientError") != QMetaType::UnknownType);
    QCOMPARE(QMetaType::type("ClientState"), qMetaTypeId<MosquittoClient::ClientState>());
}

void TestMqttClient::connectsSubscribesPublishesReceives()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    pointAt(client, broker.port());
    client.subscribe("lane/cmd", 1);
    // Stored without a log line until connected.
    QVERIFY(log.startingWith("[MqttClient] Subscribing").isEmpty());

    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy received(&client, &MqttClient::received);
    QSignalSpy errors(&client, &MqttClient::error);
    client.connect();
    QVERIFY(log.contains(QtInfoMsg, "[MqttClient] Connecting to host"));
    QTRY_COMPARE(connected.count(), 1);
    QVERIFY(log.contains(QtInfoMsg, "[MqttClient] Connected to broker 127.0.0.1"));
    QVERIFY(log.contains(QtDebugMsg, "[MqttClient] State is Connecting."));
    QVERIFY(log.contains(QtDebugMsg, "[MqttClient] State is Connected."));
    QCOMPARE(log.count("[MqttClient] Subscribing to 'lane/cmd' with QoS = 1"), 1);

    MqttTestPeer peer(broker.port());
    QVERIFY(peer.start("lane/#"));
    QTRY_VERIFY(broker.log().contains("lane/cmd (QoS 1)"));
    QVERIFY(peer.publish(MqttTopicName("lane/cmd"), "open") >= 0);
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toByteArray(), QByteArray("open"));
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("lane/cmd"));
    QVERIFY(log.contains(QtDebugMsg, "[MqttClient] Received on topic: lane/cmd\nopen"));

    QVERIFY(client.publish("{\"a\":1}", "lane/status", 1, false));
    QVERIFY(log.contains(
        QtDebugMsg, "[MqttClient] Publishing to topic 'lane/status' with Qos = 1 and Retain = false:\n{\"a\":1}"));
    QTRY_VERIFY(peer.topics().contains("lane/status"));
    // A wildcard topic cannot be published to: refused with the error signal.
    QVERIFY(!client.publish("x", "lane/+", 0, false));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QString("Publish to lane/+ failed."));
}

void TestMqttClient::logsSettingsButNeverThePassword()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    pointAt(client, broker.port(), 1234);
    client.setUsername("lane");
    client.setPassword("s3cr3t-pw");
    client.setClientId("lane_42");
    client.setWillTopic("mqtt/base/status");
    client.setWillMessage("{\"service\": false}");
    client.connect();
    const QStringList expected {
        "[MqttClient] Applying client configuration:",
        "[MqttClient] Retry interval millis: 1234",
        "[MqttClient] Applying client configuration:",
        "[MqttClient] Hostname: 127.0.0.1",
        "[MqttClient] Port    : " + QString::number(broker.port()),
        "[MqttClient] Username: lane",
        "[MqttClient] CleanSession: true",
        "[MqttClient] Client Id   : lane_42",
        "[MqttClient] Keepalive   : 5",
        "[MqttClient] Will Message: {\"service\": false}",
        "[MqttClient] Will QoS    : 2",
        "[MqttClient] Will Retain : true",
        "[MqttClient] Will Topic  : mqtt/base/status",
    };
    const QStringList debug = log.texts(QtDebugMsg);
    const int start = debug.indexOf(expected.first());
    QVERIFY(start >= 0);
    QCOMPARE(debug.mid(start, expected.size()), expected);
    // Anonymous broker: the credentials are accepted as they are.
    QSignalSpy connected(&client, &MqttClient::connected);
    QTRY_COMPARE(connected.count(), 1);
    QTRY_VERIFY(broker.log().contains("as lane_42 (p2, c1, k5, u'lane')"));
    for (const QString& line : log.texts())
        QVERIFY2(!line.contains("s3cr3t-pw"), qPrintable(line));
}

void TestMqttClient::publishWithoutConnectionFailsSilently()
{
    LogCapture log;
    MqttClient client;
    QSignalSpy errors(&client, &MqttClient::error);
    QVERIFY(!client.publish("x", "a/b"));
    // Before any connect, disconnect only logs.
    client.disconnect();
    QVERIFY(log.contains(QtInfoMsg, "[MqttClient] Disconnecting from host"));

    // While the attempt is still in progress as well.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    pointAt(client, silent.serverPort(), 5000);
    client.connect();
    QVERIFY(!client.publish("x", "a/b"));
    QCOMPARE(errors.count(), 0);
    QVERIFY(log.startingWith("[MqttClient] Publishing").isEmpty());
}

void TestMqttClient::connectedListenerSubscribesTwice()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    pointAt(client, broker.port());
    client.subscribe("dup/a");
    client.subscribe("dup/a");
    bool once = true;
    QObject::connect(&client, &MqttClient::connected, &client, [&] {
        if (std::exchange(once, false))
            client.subscribe("late/b", 1);
    });
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QTRY_COMPARE(connected.count(), 1);
    // Duplicates are kept; the listener's pair goes out at once and again
    // with the renewal that follows.
    QCOMPARE(log.count("[MqttClient] Subscribing to 'dup/a' with QoS = 0"), 2);
    QCOMPARE(log.count("[MqttClient] Subscribing to 'late/b' with QoS = 1"), 2);
    const QStringList info = log.texts(QtInfoMsg);
    QVERIFY(info.indexOf("[MqttClient] Subscribing to 'late/b' with QoS = 1")
        < info.indexOf("[MqttClient] Connected to broker 127.0.0.1"));

    // Every reconnection sends the whole list again.
    broker.kill();
    QVERIFY(broker.start());
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 5000);
    QCOMPARE(log.count("[MqttClient] Subscribing to 'dup/a' with QoS = 0"), 4);
    QCOMPARE(log.count("[MqttClient] Subscribing to 'late/b' with QoS = 1"), 3);
}

void TestMqttClient::brokerAbsentAtStart()
{
    MosquittoBroker broker; // not started yet; its port is known
    LogCapture log;
    MqttClient client;
    pointAt(client, broker.port(), 300);
    client.subscribe("early/topic", 1);
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    QSignalSpy errors(&client, &MqttClient::error);
    client.connect();
    QTRY_VERIFY_WITH_TIMEOUT(disconnected.count() >= 2, 3000);
    QCOMPARE(connected.count(), 0);
    QVERIFY(errors.count() >= 2);
    QCOMPARE(errors.at(0).at(0).toString(), QString("Mqtt client error"));
    QVERIFY(log.contains(QtWarningMsg,
        "[MqttClient] Transport invalid: The underlying transport caused an error. For "
        "example, the connection might have been interrupted unexpectedly."));
    QVERIFY(log.contains(QtInfoMsg, "[MqttClient] Disconnected from broker 127.0.0.1"));
    QVERIFY(log.contains(QtDebugMsg, "[MqttClient] State is Disconnected."));

    QVERIFY(broker.start());
    QElapsedTimer sinceStart;
    sinceStart.start();
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 5000);
    QVERIFY2(sinceStart.elapsed() < 300 + 1500, qPrintable(QString::number(sinceStart.elapsed())));

    QSignalSpy received(&client, &MqttClient::received);
    MqttTestPeer peer(broker.port());
    QVERIFY(peer.start());
    QTRY_VERIFY(broker.log().contains("early/topic (QoS 1)"));
    peer.publish(MqttTopicName("early/topic"), "hello", 1);
    QTRY_COMPARE(received.count(), 1);
}

void TestMqttClient::reconnectsAfterBrokerKilled()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttClient client;
    pointAt(client, broker.port(), 400);
    client.subscribe("idle/topic", 1);
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    client.connect();
    QTRY_COMPARE(connected.count(), 1);

    broker.kill();
    QTRY_COMPARE(disconnected.count(), 1);
    QVERIFY(broker.start());
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 5000);
    QVERIFY2(sinceRestart.elapsed() < 400 + 1500, qPrintable(QString::number(sinceRestart.elapsed())));

    QSignalSpy received(&client, &MqttClient::received);
    MqttTestPeer peer(broker.port());
    QVERIFY(peer.start());
    QTRY_VERIFY(broker.log().contains("idle/topic (QoS 1)"));
    peer.publish(MqttTopicName("idle/topic"), "again", 1);
    QTRY_COMPARE(received.count(), 1);
}

void TestMqttClient::disconnectIsFollowedByReconnect()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    pointAt(client, broker.port(), 300);
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    QSignalSpy errors(&client, &MqttClient::error);
    client.connect();
    QTRY_COMPARE(connected.count(), 1);
    client.disconnect();
    QVERIFY(log.contains(QtInfoMsg, "[MqttClient] Disconnecting from host"));
    QTRY_COMPARE(disconnected.count(), 1);
    // A clean close is no error; the reconnect rule still applies.
    QCOMPARE(errors.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 3000);
}

void TestMqttClient::refusedCredentialsEachAttempt()
{
    MosquittoBroker real;
    QVERIFY(real.requireLogin("lane", "right"));
    QVERIFY(real.start());

    LogCapture log;
    MqttClient client;
    pointAt(client, real.port(), 300);
    client.setClientId("lane_7");
    client.setUsername("lane");
    client.setPassword("wrong");
    QSignalSpy errors(&client, &MqttClient::error);
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    QTRY_VERIFY_WITH_TIMEOUT(errors.count() >= 2, 4000);
    for (const auto& e : errors)
        QCOMPARE(e.at(0).toString(), QString("Mqtt client error"));
    const QString warning = "[MqttClient] Not authorized: lane_7. The client is not authorized to connect.";
    QVERIFY(log.count(warning) >= 2);
    QCOMPARE(connected.count(), 0);

    // The next connect with the right password gets through.
    client.setPassword("right");
    client.connect();
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 3000);
}

void TestMqttClient::refusedSubscriptionIsReported()
{
    MosquittoBroker real;
    QVERIFY(real.denySubscriptions({ "secret/#" }));
    QVERIFY(real.start());

    LogCapture log;
    MqttClient client;
    pointAt(client, real.port());
    QSignalSpy errors(&client, &MqttClient::error);
    QSignalSpy connected(&client, &MqttClient::connected);
    client.subscribe("lane/ok", 1);
    client.subscribe("secret/x", 1);
    client.connect();
    QTRY_COMPARE(connected.count(), 1);
    QTRY_COMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QString("Subscription to secret/x failed."));
    QVERIFY(log.contains(QtWarningMsg, "[MqttClient] WARN: Broker refused the subscription to 'secret/x'"));

    // The allowed one works.
    QSignalSpy received(&client, &MqttClient::received);
    MqttTestPeer peer(real.port());
    QVERIFY(peer.start());
    peer.publish(MqttTopicName("lane/ok"), "1", 1);
    QTRY_COMPARE(received.count(), 1);
}

void TestMqttClient::willOnlyAfterAbnormalLoss()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttTestPeer watcher(broker.port());
    QVERIFY(watcher.start("will/#"));

    const auto runClient = [&](const QString& topic, QProcess& process) {
        process.start(testClientPath(), { "127.0.0.1", QString::number(broker.port()), topic, "{\"service\": false}" });
        return process.waitForStarted(5000) && process.waitForReadyRead(5000)
            && process.readAllStandardOutput().contains("connected");
    };

    QProcess killed;
    QVERIFY2(runClient("will/killed", killed), qPrintable(testClientPath()));
    killed.kill();
    killed.waitForFinished(3000);
    QTRY_VERIFY_WITH_TIMEOUT(watcher.topics().contains("will/killed"), 5000);
    QCOMPARE(watcher.messages.last().second, QByteArray("{\"service\": false}"));
    // Kept by the broker (will retain is on by default) for later subscribers.
    MqttTestPeer late(broker.port());
    QVERIFY(late.start("will/killed"));
    QTRY_COMPARE(late.messages.size(), 1);

    QProcess clean;
    QVERIFY(runClient("will/clean", clean));
    clean.write("quit\n");
    QVERIFY(clean.waitForFinished(5000));
    QCOMPARE(clean.exitCode(), 0);
    QTRY_VERIFY(broker.log().contains("Received DISCONNECT from lane-test-"));
    QTest::qWait(300);
    QVERIFY(!watcher.topics().contains("will/clean"));
}

void TestMqttClient::portOutOfRangeIsRefused()
{
    LogCapture log;
    MqttClient client;
    client.setPort(65536 + 1883); // would wrap to 1883
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    client.connect();
    QVERIFY(
        log.contains(QtCriticalMsg, "[MqttClient] ERROR: Port 67419 is out of range 1-65535, no connection attempt"));
    QTest::qWait(200);
    QVERIFY(!log.contains("[MqttClient] State is Connecting."));
    QCOMPARE(disconnected.count(), 0);
}

void TestMqttClient::encryptedIsRefused()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    pointAt(client, broker.port());
    client.setUsername("lane");
    client.setPassword("secret");
    client.setEncrypted(true);
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    client.connect();
    QVERIFY(log.contains(QtWarningMsg, "[MqttClient] Encryption not yet supported"));
    QCOMPARE(log.startingWith("[MqttClient] ERROR: ").size(), 1);
    QCOMPARE(log.texts(QtCriticalMsg).size(), 1);
    QTest::qWait(300);
    QVERIFY(!log.contains("[MqttClient] State is Connecting."));
    // The credentials never left the process.
    QVERIFY(!broker.log().contains("New client connected"));
}

void TestMqttClient::secondConnectWithNewSettingsReconnects()
{
    MosquittoBroker first;
    MosquittoBroker second;
    QVERIFY(first.start());
    QVERIFY(second.start());
    LogCapture log;
    MqttClient client;
    pointAt(client, first.port(), 300);
    client.subscribe("moved/topic", 1);
    QSignalSpy connected(&client, &MqttClient::connected);
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    client.connect();
    QTRY_COMPARE(connected.count(), 1);

    // Same settings: the live connection stays.
    client.connect();
    QTest::qWait(300);
    QCOMPARE(disconnected.count(), 0);

    client.setPort(second.port());
    client.connect();
    QTRY_COMPARE(disconnected.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 3000);
    QVERIFY(log.contains(QtInfoMsg, "[MqttClient] Settings changed, closing the connection to apply them"));
    QTRY_VERIFY(second.log().contains("moved/topic (QoS 1)"));
    QSignalSpy received(&client, &MqttClient::received);
    MqttTestPeer peer(second.port());
    QVERIFY(peer.start());
    peer.publish(MqttTopicName("moved/topic"), "here", 1);
    QTRY_COMPARE(received.count(), 1);
}

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_MqttClient.moc"

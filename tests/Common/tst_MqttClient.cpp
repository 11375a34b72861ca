// The lane's MQTT connection against a real broker: settings, subscriptions
// renewed after reconnection, the reconnect cycle, errors and their log lines.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QSocketNotifier>
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

// True when a message a fresh peer publishes on topic reaches the client, once the
// broker has logged the client's subscription to it the given number of times.
bool delivers(MqttClient& client, MosquittoBroker& broker, const QString& topic, int subscriptions = 1)
{
    QSignalSpy received(&client, &MqttClient::received);
    MqttProbe peer;
    if (!QTest::qWaitFor([&] { return broker.log().count(topic + " (QoS 1)") >= subscriptions; }, 5000)
        || !peer.connectTo(broker.host(), broker.port()) || !peer.publish(topic, "x"))
        return false;
    return QTest::qWaitFor([&] { return received.count() == 1; }, 5000)
        && received.at(0) == QVariantList { QByteArray("x"), topic.toUtf8() };
}

// True when a newcomer subscribing to topic gets a retained message there.
bool retainedFor(MosquittoBroker& broker, const QString& topic)
{
    MqttProbe newcomer;
    if (!newcomer.connectTo(broker.host(), broker.port()) || !newcomer.subscribe(topic))
        return false;
    const int index = newcomer.waitFor(topic);
    return index >= 0 && newcomer.at(index).retained;
}

} // namespace

class TestMqttClient : public QObject
{
    Q_OBJECT

private slots:
    void connectsSubscribesPublishesReceives()
    {
        MosquittoBroker broker;
        QVERIFY(broker.denySubscriptions({ "secret/#" }));
        QVERIFY(broker.start());
        LogCapture log;
        MqttClient client;
        QVERIFY(!client.publish("x", "a/b")); // not connected: fails silently
        pointAt(client, broker.port());
        client.subscribe("lane/cmd", 1);
        client.subscribe("secret/x", 1);

        QSignalSpy connected(&client, &MqttClient::connected);
        QSignalSpy errors(&client, &MqttClient::error);
        client.connect();
        QVERIFY(!client.publish("x", "a/b")); // still connecting: the same
        QCOMPARE(errors.count(), 0);
        QTRY_COMPARE(connected.count(), 1);
        QCOMPARE(log.count("[MqttClient] Subscribing to 'lane/cmd' with QoS = 1"), 1);
        QVERIFY(delivers(client, broker, "lane/cmd"));
        // A refused subscription is reported.
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QString("Subscription to secret/x failed."));

        MqttProbe peer;
        QVERIFY(peer.connectTo(broker.host(), broker.port()) && peer.subscribe("lane/#"));
        QVERIFY(client.publish("{\"a\":1}", "lane/status", 1, true));
        QVERIFY(peer.waitFor("lane/status") >= 0);
        QVERIFY(retainedFor(broker, "lane/status"));
        QVERIFY(!client.publish("x", "lane/+", 0, false));
        QCOMPARE(errors.count(), 2);
        QCOMPARE(errors.at(1).at(0).toString(), QString("Publish to lane/+ failed."));
    }

    void reconnectCycleRenewsSubscriptions()
    {
        MosquittoBroker broker; // not started yet; its port is known
        LogCapture log;
        MqttClient client;
        pointAt(client, broker.port());
        client.subscribe("dup/a");
        client.subscribe("dup/a");
        client.subscribe("idle/topic", 1);
        bool once = true;
        QObject::connect(&client, &MqttClient::connected, &client, [&] {
            if (std::exchange(once, false))
                client.subscribe("late/b", 1);
        });
        QSignalSpy connected(&client, &MqttClient::connected);
        QSignalSpy disconnected(&client, &MqttClient::disconnected);
        QSignalSpy errors(&client, &MqttClient::error);
        client.connect();
        QTRY_VERIFY_WITH_TIMEOUT(disconnected.count() >= 2, 3000);
        QVERIFY(errors.count() >= 2);
        QCOMPARE(errors.at(0).at(0).toString(), QString("Mqtt client error"));

        QVERIFY(broker.start());
        QElapsedTimer since;
        since.start();
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 5000);
        QVERIFY2(since.elapsed() < 300 + 1500, qPrintable(QString::number(since.elapsed())));
        QVERIFY(delivers(client, broker, "idle/topic"));
        // A pair stored once goes out once; the listener's subscription goes out at once and again
        // with the renewal.
        QCOMPARE(log.count("[MqttClient] Subscribing to 'dup/a' with QoS = 0"), 1);
        QCOMPARE(log.count("[MqttClient] Subscribing to 'late/b' with QoS = 1"), 2);

        // Killed and restarted: back within one interval plus a margin, the whole list sent again.
        const int lost = disconnected.count();
        broker.kill();
        QTRY_VERIFY(disconnected.count() > lost);
        QVERIFY(broker.start());
        since.restart();
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 5000);
        QVERIFY2(since.elapsed() < 300 + 1500, qPrintable(QString::number(since.elapsed())));
        QVERIFY(delivers(client, broker, "idle/topic", 2));
        QCOMPARE(log.count("[MqttClient] Subscribing to 'late/b' with QoS = 1"), 3);
        QCOMPARE(log.count("[MqttClient] Subscribing to 'dup/a' with QoS = 0"), 2);

        // A clean close is no error; the reconnect rule still applies.
        const int errorsBefore = errors.count();
        const int disconnectsBefore = disconnected.count();
        client.disconnect();
        QTRY_COMPARE(disconnected.count(), disconnectsBefore + 1);
        QCOMPARE(errors.count(), errorsBefore);
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 3, 3000);
    }

    void willOnlyAfterAbnormalLoss()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        MqttProbe watcher;
        QVERIFY(watcher.connectTo(broker.host(), broker.port()) && watcher.subscribe("will/#"));
        const QString program
            = qEnvironmentVariable("LANE_BINARY_DIR") + "/tools/mqtt-test-client/lane-mqtt-test-client";
        const auto runClient = [&](const QString& topic, QProcess& process) {
            process.start(program, { "127.0.0.1", QString::number(broker.port()), topic, "{\"service\": false}" });
            return process.waitForStarted(5000) && process.waitForReadyRead(5000)
                && process.readAllStandardOutput().contains("connected");
        };

        QProcess killed;
        QVERIFY2(runClient("will/killed", killed), qPrintable(program));
        killed.kill();
        killed.waitForFinished(3000);
        QCOMPARE(watcher.at(watcher.waitFor("will/killed")).payload, QByteArray("{\"service\": false}"));
        QVERIFY(retainedFor(broker, "will/killed")); // by default

        QProcess clean;
        QVERIFY(runClient("will/clean", clean));
        clean.write("quit\n");
        QVERIFY(clean.waitForFinished(5000));
        QCOMPARE(clean.exitCode(), 0);
        QTRY_VERIFY(broker.log().contains("Received DISCONNECT from lane-test-"));
        QTest::qWait(300);
        QVERIFY(watcher.messages("will/clean").isEmpty());
    }

    void unsafeSettingsMakeNoAttempt()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        LogCapture log;
        // Above 65535 is refused, and the port set before is not used instead.
        MqttClient wrapped;
        for (uint port : { 65536u, 65536u + 1883u }) {
            pointAt(wrapped, broker.port());
            wrapped.setPort(port);
            wrapped.connect();
            QVERIFY(log.contains(QtCriticalMsg,
                QString("[MqttClient] ERROR: Port %1 is out of range 1-65535, no connection attempt").arg(port)));
        }

        // Encrypted: the credentials must not go out in plain text.
        MqttClient encrypted;
        pointAt(encrypted, broker.port());
        encrypted.setUsername("lane");
        encrypted.setPassword("secret");
        encrypted.setEncrypted(true);
        encrypted.connect();
        QVERIFY(log.contains(QtWarningMsg, "[MqttClient] Encryption not yet supported"));
        QCOMPARE(log.texts(QtCriticalMsg).size(), 3);
        QTest::qWait(300);
        QVERIFY(!broker.log().contains("New client connected"));
    }

    void secondConnectWithNewSettingsReconnects()
    {
        MosquittoBroker first;
        MosquittoBroker second;
        QVERIFY(first.start());
        QVERIFY(second.start());
        MqttClient client;
        LogCapture log;
        pointAt(client, first.port());
        client.subscribe("moved/topic", 1);
        QSignalSpy connected(&client, &MqttClient::connected);
        QSignalSpy disconnected(&client, &MqttClient::disconnected);
        client.connect();
        QTRY_COMPARE(connected.count(), 1);

        // Same settings: the live connection stays.
        client.connect();
        QTest::qWait(300);
        QCOMPARE(disconnected.count(), 0);

        // Any changed setting: closed and opened again with it.
        const QList<std::function<void()>> changes { [&] { client.setPort(second.port()); },
            [&] { client.setKeepAlive(10); }, [&] { client.setClientId("moved-id"); },
            [&] { client.setUsername("user"); }, [&] { client.setPassword("s3cr3t-pw"); },
            [&] { client.setWillTopic("moved/will"); } };
        for (const auto& change : changes) {
            const int before = connected.count();
            change();
            client.connect();
            QTRY_COMPARE(disconnected.count(), before);
            QTRY_COMPARE_WITH_TIMEOUT(connected.count(), before + 1, 3000);
        }
        QVERIFY(second.log().contains("as moved-id (p2, c1, k10, u'user')"));
        QVERIFY(log.contains(QtDebugMsg, "[MqttClient] Client Id   : moved-id"));
        QVERIFY(!log.texts().join('\n').contains("s3cr3t-pw"));
        QVERIFY(delivers(client, second, "moved/topic", changes.size()));
    }

    void hostNameResolvedWithoutBlocking()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        MqttClient client, second;
        pointAt(client, broker.port());
        client.setHostname("localhost");
        QSignalSpy connected(&client, &MqttClient::connected);
        client.connect();
        // No socket yet: the name is looked up from the event loop, not inside connect().
        QCOMPARE(client.findChildren<QSocketNotifier*>().size(), 0);
        QTRY_COMPARE(connected.count(), 1);
        // Cut while looking up: the attempt ends like any other.
        pointAt(second, broker.port());
        second.setHostname("localhost");
        QSignalSpy down(&second, &MqttClient::disconnected);
        second.connect();
        second.disconnect();
        QTRY_COMPARE(down.count(), 1);
    }

    // Names and topics from the settings, with an escape and a line break: one log line each.
    void settingsInLogLines()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        LogCapture log;
        const QString odd = QString::fromUtf8("x\x1b[2K\n[   1.000] [Terminal] y\u2028");
        const QString shown = "x\\x1b[2K\\n[   1.000] [Terminal] y\\u2028";
        MqttClient client;
        pointAt(client, broker.port());
        client.setWillTopic("lane/" + odd);
        client.subscribe("lane/" + odd, 1);
        QSignalSpy connected(&client, &MqttClient::connected);
        client.connect();
        QTRY_COMPARE(connected.count(), 1);
        client.waitTopic("wait/" + odd, -1);
        client.executeRpc("rpc/" + odd, "1", QJsonObject { { "text", odd } }, 100);
        MqttClient unnamed;
        pointAt(unnamed, broker.port());
        unnamed.setHostname("host-" + odd);
        unnamed.setClientId("id-" + odd);
        unnamed.connect();
        for (const QString& line : { "[MqttClient] Will Topic  : lane/" + shown,
                 "[MosquittoClient] WARN: Will topic 'lane/" + shown, "[MqttClient] Subscribing to 'lane/" + shown,
                 "[MqttClient] WARN: Negative time-out -1 for 'wait/" + shown,
                 "[MqttClient] [RPC] Sending : rpc/" + shown, "[MqttClient] Hostname: host-" + shown,
                 "[MosquittoClient] WARN: Cannot create a client with id 'id-" + shown })
            QVERIFY2(!log.startingWith(line).isEmpty(), qPrintable(line));
        const QStringList unsafe = log.unsafeLines();
        QVERIFY2(unsafe.isEmpty(), qPrintable(unsafe.value(0)));
    }
};

QTEST_GUILESS_MAIN(TestMqttClient)
#include "tst_MqttClient.moc"

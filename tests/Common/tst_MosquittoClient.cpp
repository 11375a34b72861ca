// The libmosquitto adapter against a real broker and against hand-made
// broker replies: states and signal order, error codes, shared subscriptions.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MosquittoClient.h"
#include "MqttProbe.h"
#include "TestPorts.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace {

// A TCP peer that answers the CONNECT with fixed bytes.
class FakeBroker : public QTcpServer
{
public:
    explicit FakeBroker(const QByteArray& answer)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this, answer] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, answer] {
                    received += socket->readAll();
                    socket->write(answer);
                });
            }
        });
    }
    // The CONNECT flags byte (user name 0x80, password 0x40).
    int connectFlags() const { return received.at(received.indexOf("MQTT") + 5); }
    QByteArray received;
};

void pointAt(MosquittoClient& client, quint16 port)
{
    client.setHostname("127.0.0.1");
    client.setPort(port);
}

// Records states, connected/disconnected and errors as "state1", "connected@2", "error256"...
void recordOrder(MosquittoClient& client, QStringList& order)
{
    QObject::connect(&client, &MosquittoClient::stateChanged, &client,
        [&order](MosquittoClient::ClientState s) { order << QStringLiteral("state%1").arg(int(s)); });
    QObject::connect(&client, &MosquittoClient::connected, &client,
        [&] { order << QStringLiteral("connected@%1").arg(int(client.state())); });
    QObject::connect(&client, &MosquittoClient::disconnected, &client, [&order] { order << "disconnected"; });
    QObject::connect(&client, &MosquittoClient::errorChanged, &client,
        [&order](MosquittoClient::ClientError e) { order << QStringLiteral("error%1").arg(int(e)); });
}

} // namespace

class TestMosquittoClient : public QObject
{
    Q_OBJECT

private slots:
    void connectsWithItsSettingsAndOrdersSignals()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        LogCapture log;
        MosquittoClient client;
        client.setClientId("order-test");
        client.setKeepAlive(4); // the library takes 0 or at least 5 s
        QStringList order;
        recordOrder(client, order);
        QCOMPARE(client.subscribe(MqttTopicFilter("a/b"), 1), nullptr);
        pointAt(client, broker.port());
        client.connectToHost();
        QCOMPARE(client.publish(MqttTopicName("a/b"), "x"), -1); // still Connecting
        QTRY_COMPARE(client.state(), MosquittoClient::Connected);
        QCOMPARE(order, QStringList({ "state1", "state2", "connected@2" }));
        QVERIFY(log.contains(QtWarningMsg, "[MosquittoClient] WARN: Keep-alive 4 s is below the minimum, using 5 s"));
        // MQTT 3.1.1 ("p2" in the broker's words) with a clean session.
        QTRY_VERIFY2(broker.log().contains("as order-test (p2, c1, k5)"), qPrintable(broker.log()));
        QVERIFY(client.publish(MqttTopicName("a/b"), "x", 1) > 0);

        // More than the socket buffers take: the rest goes out as the broker reads,
        // without waiting for the client's loop timer (stopped here) or a reply.
        MqttProbe peer;
        QVERIFY(peer.connectTo(broker.host(), broker.port()) && peer.subscribe("big"));
        client.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly)->stop();
        const QByteArray big(16 << 20, 'b');
        broker.pause();
        QCOMPARE(client.publish(MqttTopicName("big"), big), 0);
        broker.resume();
        const int index = peer.waitFor("big", 10000);
        QVERIFY(index >= 0 && peer.at(index).payload == big);

        order.clear();
        client.disconnectFromHost();
        QTRY_COMPARE(client.state(), MosquittoClient::Disconnected);
        QCOMPARE(order, QStringList({ "state0", "disconnected" }));

        // A lasting session needs an id of its own: refused like a broker would.
        client.setClientId(QString());
        client.setCleanSession(false);
        client.connectToHost();
        QTRY_COMPARE(client.error(), MosquittoClient::IdRejected);
    }

    void failedAttemptsBecomeErrors()
    {
        // Refused at once: every attempt reports its own error, after the state.
        MosquittoClient refused;
        pointAt(refused, testsupport::freePort());
        QStringList order;
        recordOrder(refused, order);
        for (int attempt = 0; attempt < 2; ++attempt) {
            order.clear();
            refused.connectToHost();
            QTRY_COMPARE(order, QStringList({ "state1", "state0", "disconnected", "error256" }));
        }

        // CONNACK return codes 1-5, then a packet of type 0, which does not exist.
        for (int code = 1; code <= 6; ++code) {
            const bool connack = code <= 5;
            FakeBroker fake(connack ? QByteArray("\x20\x02\x00", 3) + char(code) : QByteArray("\x00\x00", 2));
            MosquittoClient client;
            pointAt(client, fake.serverPort());
            if (connack) {
                client.setUsername("user");
                client.setPassword("secret");
            }
            QSignalSpy errors(&client, &MosquittoClient::errorChanged);
            client.connectToHost();
            QTRY_COMPARE(errors.count(), 1);
            QCOMPARE(client.error(), connack ? MosquittoClient::ClientError(code) : MosquittoClient::ProtocolViolation);
            // MQTT 3.1.1; user name and password flags only with credentials.
            QVERIFY(fake.received.contains(QByteArray("\x00\x04MQTT\x04", 7)));
            QCOMPARE(fake.connectFlags() & 0xC0, connack ? 0xC0 : 0);
        }
    }

    void subscriptionsAreSharedAndEndWithTheConnection()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        MosquittoClient client;
        pointAt(client, broker.port());
        client.connectToHost();
        QTRY_COMPARE(client.state(), MosquittoClient::Connected);

        // The client-level message signal runs before the subscription's own.
        MqttSubscription* wildcard = client.subscribe(MqttTopicFilter("dev/+/state"), 1);
        QTRY_COMPARE(wildcard->state(), MqttSubscription::Subscribed);
        QStringList order;
        connect(&client, &MosquittoClient::messageReceived, this,
            [&](const QByteArray& payload, const MqttTopicName& topic) {
                order << "client:" + topic.name() + "=" + payload;
            });
        connect(wildcard, &MqttSubscription::messageReceived, this, [&](const MqttMessage& m) {
            order << "subscription:" + m.topic().name() + "=" + m.payload() + QStringLiteral("/q%1").arg(m.qos());
        });
        QVERIFY(client.publish(MqttTopicName("dev/a/state"), "on", 1) > 0);
        QTRY_COMPARE(order.size(), 2);
        QCOMPARE(order, QStringList({ "client:dev/a/state=on", "subscription:dev/a/state=on/q1" }));

        // Users of one filter share a subscription; UNSUBSCRIBE goes out with the last of them.
        const MqttTopicFilter filter("disp/card/removed");
        MqttSubscription* first = client.subscribe(filter, 0);
        QCOMPARE(client.subscribe(filter, 1), first);
        QTRY_COMPARE(first->state(), MqttSubscription::Subscribed);
        QCOMPARE(first->qos(), quint8(1)); // raised for the second user
        QCOMPARE(client.subscribe(filter, 1), first); // the same QoS: no SUBSCRIBE of its own
        client.unsubscribe(filter);
        QSignalSpy messages(first, &MqttSubscription::messageReceived);
        client.unsubscribe(filter);
        client.publish(MqttTopicName("disp/card/removed"), "1", 1);
        QTRY_COMPARE(messages.count(), 1);
        // The broker logs the publish after every SUBSCRIBE sent before it.
        QTRY_VERIFY(broker.log().contains("'disp/card/removed', ... (1 bytes))"));
        QCOMPARE(broker.log().count("\tdisp/card/removed (QoS "), 2);
        QPointer<MqttSubscription> watched(first);
        client.unsubscribe(filter);
        QCOMPARE(first->state(), MqttSubscription::UnsubscriptionPending);
        QTRY_VERIFY(!watched);

        // A new user before the UNSUBACK gets a fresh subscription that the earlier UNSUBSCRIBE does not cancel.
        const MqttTopicFilter other("x/y");
        MqttSubscription* old = client.subscribe(other, 1);
        QTRY_COMPARE(old->state(), MqttSubscription::Subscribed);
        client.unsubscribe(other);
        QPointer<MqttSubscription> fresh = client.subscribe(other, 1);
        QVERIFY(fresh && fresh != old);
        QTRY_COMPARE(fresh->state(), MqttSubscription::Subscribed);
        QSignalSpy freshMessages(fresh.data(), &MqttSubscription::messageReceived);
        client.publish(MqttTopicName("x/y"), "z", 1);
        QTRY_COMPARE(freshMessages.count(), 1);

        // A lost connection ends every subscription; the same object connects again later.
        QSignalSpy errors(&client, &MosquittoClient::errorChanged);
        broker.kill();
        QTRY_COMPARE(client.state(), MosquittoClient::Disconnected);
        QCOMPARE(client.error(), MosquittoClient::TransportInvalid);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!fresh);
        QCOMPARE(client.subscriptionCount(), 0);
    }

    void listenerMayCallBackDuringSignal()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        MosquittoClient client;
        pointAt(client, broker.port());
        // Subscribing and publishing from inside the connected() and message
        // signals must go out at once, not with the next keep-alive.
        connect(&client, &MosquittoClient::connected, this, [&] {
            QVERIFY(client.subscribe(MqttTopicFilter("ping"), 1));
            QVERIFY(client.publish(MqttTopicName("ping"), "1", 1) > 0);
        });
        QSignalSpy replies(&client, &MosquittoClient::messageReceived);
        connect(&client, &MosquittoClient::messageReceived, this, [&](const QByteArray& payload, const MqttTopicName&) {
            if (payload.size() < 5)
                client.publish(MqttTopicName("ping"), payload + "1", 1);
        });
        QElapsedTimer timer;
        timer.start();
        client.connectToHost();
        QTRY_COMPARE_WITH_TIMEOUT(replies.count(), 5, 3000);
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestMosquittoClient)
#include "tst_MosquittoClient.moc"

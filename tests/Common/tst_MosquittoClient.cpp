// The libmosquitto adapter against a real broker and against hand-made
// broker replies: states and signal order, error codes, shared subscriptions.

#include "MosquittoBroker.h"
#include "MosquittoClient.h"
#include "TestPorts.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// A TCP peer that answers the CONNECT with fixed bytes (or nothing).
class FakeBroker : public QTcpServer
{
public:
    explicit FakeBroker(const QByteArray& answer)
        : m_answer(answer)
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    received += socket->readAll();
                    if (!m_answer.isEmpty())
                        socket->write(m_answer);
                });
            }
        });
    }
    QByteArray received;

private:
    QByteArray m_answer;
};

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestMosquittoClient : public QObject
{
    Q_OBJECT

private slots:
    void connectsAndOrdersSignals();
    void refusesOperationsWhenDisconnected();
    void refusedConnectIsTransportError();
    void connackCodesBecomeErrors_data();
    void connackCodesBecomeErrors();
    void garbageIsProtocolViolation();
    void clientSignalRunsBeforeSubscriptionSignal();
    void countsUsersOfAFilter();
    void unsubscribeDuringPendingUnsubscribe();
    void listenerMayCallBackDuringSignal();
    void lossEndsSubscriptions();
    void closeTransportCutsHangingAttempt();
};

void TestMosquittoClient::connectsAndOrdersSignals()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MosquittoClient client;
    client.setHostname(broker.host());
    client.setPort(broker.port());
    client.setClientId("order-test");

    QStringList order;
    connect(&client, &MosquittoClient::stateChanged, this,
        [&](MosquittoClient::ClientState s) { order << QStringLiteral("state%1").arg(int(s)); });
    connect(&client, &MosquittoClient::connected, this,
        [&] { order << QStringLiteral("connected") + (client.state() == MosquittoClient::Connected ? "@2" : "@?"); });
    connect(&client, &MosquittoClient::disconnected, this, [&] { order << "disconnected"; });
    connect(&client, &MosquittoClient::errorChanged, this,
        [&](MosquittoClient::ClientError e) { order << QStringLiteral("error%1").arg(int(e)); });

    client.connectToHost();
    QCOMPARE(client.state(), MosquittoClient::Connecting);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), MosquittoClient::Connected, 5000);
    QCOMPARE(order, QStringList({ "state1", "state2", "connected@2" }));
    QVERIFY(broker.log().contains("New client connected"));
    // MQTT 3.1.1 ("p2" in the broker's words) with a clean session.
    QVERIFY2(broker.log().contains("as order-test (p2, c1, k60)"), qPrintable(broker.log()));

    order.clear();
    client.disconnectFromHost();
    QTRY_COMPARE(client.state(), MosquittoClient::Disconnected);
    QCOMPARE(order, QStringList({ "state0", "disconnected" }));
    QTRY_VERIFY(broker.log().contains("Client order-test disconnected."));
}

void TestMosquittoClient::refusesOperationsWhenDisconnected()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MosquittoClient client;
    QCOMPARE(client.subscribe(MqttTopicFilter("a/b"), 1), nullptr);
    QCOMPARE(client.publish(MqttTopicName("a/b"), "x"), -1);

    client.setHostname(broker.host());
    client.setPort(broker.port());
    client.connectToHost();
    QCOMPARE(client.publish(MqttTopicName("a/b"), "x"), -1); // still Connecting
    QTRY_COMPARE(client.state(), MosquittoClient::Connected);
    QCOMPARE(client.subscribe(MqttTopicFilter("a/#/b"), 0), nullptr);
    QCOMPARE(client.subscribe(MqttTopicFilter(""), 0), nullptr);
    QCOMPARE(client.publish(MqttTopicName("a/+"), "x"), -1);
    QCOMPARE(client.publish(MqttTopicName("a/#"), "x"), -1);
    QCOMPARE(client.publish(MqttTopicName("a/b"), "x", 0), 0);
    QVERIFY(client.publish(MqttTopicName("a/b"), "x", 1) > 0);
}

void TestMosquittoClient::refusedConnectIsTransportError()
{
    MosquittoClient client;
    client.setHostname("127.0.0.1");
    client.setPort(testsupport::freePort());
    QStringList order;
    connect(&client, &MosquittoClient::stateChanged, this,
        [&](MosquittoClient::ClientState s) { order << QStringLiteral("state%1").arg(int(s)); });
    connect(&client, &MosquittoClient::disconnected, this, [&] { order << "disconnected"; });
    connect(&client, &MosquittoClient::errorChanged, this,
        [&](MosquittoClient::ClientError e) { order << QStringLiteral("error%1").arg(int(e)); });

    for (int attempt = 0; attempt < 2; ++attempt) {
        order.clear();
        client.connectToHost();
        QTRY_COMPARE(client.state(), MosquittoClient::Disconnected);
        // Every attempt reports its own error, after the state.
        QCOMPARE(order, QStringList({ "state1", "state0", "disconnected", "error256" }));
        QCOMPARE(client.error(), MosquittoClient::TransportInvalid);
    }
}

void TestMosquittoClient::connackCodesBecomeErrors_data()
{
    QTest::addColumn<int>("code");
    for (int code = 1; code <= 5; ++code)
        QTest::addRow("code %d", code) << code;
}

void TestMosquittoClient::connackCodesBecomeErrors()
{
    QFETCH(int, code);
    FakeBroker fake(QByteArray("\x20\x02\x00", 3) + char(code));
    MosquittoClient client;
    client.setHostname("127.0.0.1");
    client.setPort(fake.serverPort());
    client.setUsername("user");
    client.setPassword("secret");
    QSignalSpy errors(&client, &MosquittoClient::errorChanged);
    client.connectToHost();
    QTRY_COMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).value<MosquittoClient::ClientError>(), MosquittoClient::ClientError(code));
    QCOMPARE(client.state(), MosquittoClient::Disconnected);
    // CONNECT of MQTT 3.1.1 with user name and password flags set.
    QVERIFY(fake.received.contains(QByteArray("\x00\x04MQTT\x04", 7)));
    const int flags = fake.received.at(fake.received.indexOf("MQTT") + 5);
    QCOMPARE(flags & 0xC0, 0xC0);
}

void TestMosquittoClient::garbageIsProtocolViolation()
{
    // Packet type 0 does not exist.
    FakeBroker fake(QByteArray("\x00\x00", 2));
    MosquittoClient client;
    client.setHostname("127.0.0.1");
    client.setPort(fake.serverPort());
    QSignalSpy errors(&client, &MosquittoClient::errorChanged);
    client.connectToHost();
    QTRY_COMPARE(errors.count(), 1);
    QCOMPARE(client.error(), MosquittoClient::ProtocolViolation);
    // Neither flag without credentials.
    const int flags = fake.received.at(fake.received.indexOf("MQTT") + 5);
    QCOMPARE(flags & 0xC0, 0);
}

void TestMosquittoClient::clientSignalRunsBeforeSubscriptionSignal()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MosquittoClient client;
    client.setHostname(broker.host());
    client.setPort(broker.port());
    client.connectToHost();
    QTRY_COMPARE(client.state(), MosquittoClient::Connected);

    MqttSubscription* wildcard = client.subscribe(MqttTopicFilter("dev/+/state"), 1);
    QVERIFY(wildcard);
    QCOMPARE(wildcard->state(), MqttSubscription::SubscriptionPending);
    QTRY_COMPARE(wildcard->state(), MqttSubscription::Subscribed);
    QCOMPARE(wildcard->qos(), quint8(1));

    QStringList order;
    connect(
        &client, &MosquittoClient::messageReceived, this, [&](const QByteArray& payload, const MqttTopicName& topic) {
            order << "client:" + topic.name() + "=" + payload;
        });
    connect(wildcard, &MqttSubscription::messageReceived, this, [&](const MqttMessage& m) {
        order << "subscription:" + m.topic().name() + "=" + m.payload() + QStringLiteral("/q%1").arg(m.qos());
    });
    QVERIFY(client.publish(MqttTopicName("dev/a/state"), "on", 1) > 0);
    QVERIFY(client.publish(MqttTopicName("dev/a/other"), "no", 1) > 0);
    QTRY_COMPARE(order.size(), 2);
    QTest::qWait(50);
    QCOMPARE(order, QStringList({ "client:dev/a/state=on", "subscription:dev/a/state=on/q1" }));
}

void TestMosquittoClient::countsUsersOfAFilter()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MosquittoClient client;
    client.setHostname(broker.host());
    client.setPort(broker.port());
    client.connectToHost();
    QTRY_COMPARE(client.state(), MosquittoClient::Connected);

    const MqttTopicFilter filter("disp/card/removed");
    MqttSubscription* first = client.subscribe(filter, 0);
    MqttSubscription* second = client.subscribe(filter, 1);
    QVERIFY(first);
    QCOMPARE(second, first);
    QCOMPARE(first->users(), 2);
    QTRY_COMPARE(first->state(), MqttSubscription::Subscribed);
    QCOMPARE(first->qos(), quint8(1)); // raised for the second user

    QSignalSpy messages(first, &MqttSubscription::messageReceived);
    QSignalSpy all(&client, &MosquittoClient::messageReceived);
    client.unsubscribe(filter);
    QCOMPARE(first->state(), MqttSubscription::Subscribed);
    client.publish(MqttTopicName("disp/card/removed"), "1", 1);
    QTRY_COMPARE(messages.count(), 1);

    QPointer<MqttSubscription> watched(first);
    client.unsubscribe(filter);
    QCOMPARE(first->state(), MqttSubscription::UnsubscriptionPending);
    QTRY_VERIFY(!watched);
    QCOMPARE(client.subscriptionCount(), 0);
    QTRY_VERIFY(broker.log().contains("Received UNSUBSCRIBE"));

    // The broker no longer delivers to us.
    all.clear();
    client.publish(MqttTopicName("disp/card/removed"), "2", 1);
    QTest::qWait(200);
    QCOMPARE(all.count(), 0);
}

void TestMosquittoClient::unsubscribeDuringPendingUnsubscribe()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MosquittoClient client;
    client.setHostname(broker.host());
    client.setPort(broker.port());
    client.connectToHost();
    QTRY_COMPARE(client.state(), MosquittoClient::Connected);

    const MqttTopicFilter filter("x/y");
    MqttSubscription* old = client.subscribe(filter, 1);
    QTRY_COMPARE(old->state(), MqttSubscription::Subscribed);
    client.unsubscribe(filter);
    QCOMPARE(old->state(), MqttSubscription::UnsubscriptionPending);
    // A new user before the UNSUBACK gets a fresh subscription that the
    // earlier UNSUBSCRIBE does not cancel.
    MqttSubscription* fresh = client.subscribe(filter, 1);
    QVERIFY(fresh && fresh != old);
    QTRY_COMPARE(fresh->state(), MqttSubscription::Subscribed);
    QSignalSpy messages(fresh, &MqttSubscription::messageReceived);
    client.publish(MqttTopicName("x/y"), "z", 1);
    QTRY_COMPARE(messages.count(), 1);
}

void TestMosquittoClient::listenerMayCallBackDuringSignal()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MosquittoClient client;
    client.setHostname(broker.host());
    client.setPort(broker.port());
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

void TestMosquittoClient::lossEndsSubscriptions()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MosquittoClient client;
    client.setHostname(broker.host());
    client.setPort(broker.port());
    client.connectToHost();
    QTRY_COMPARE(client.state(), MosquittoClient::Connected);
    QPointer<MqttSubscription> subscription = client.subscribe(MqttTopicFilter("a"), 1);
    QSignalSpy states(subscription.data(), &MqttSubscription::stateChanged);
    QSignalSpy errors(&client, &MosquittoClient::errorChanged);
    broker.kill();
    QTRY_COMPARE(client.state(), MosquittoClient::Disconnected);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(client.error(), MosquittoClient::TransportInvalid);
    QVERIFY(!states.isEmpty());
    QCOMPARE(states.last().at(0).value<MqttSubscription::SubscriptionState>(), MqttSubscription::Unsubscribed);
    flushDeletes();
    QVERIFY(!subscription);
    QCOMPARE(client.subscriptionCount(), 0);

    // The same object connects again once the broker is back.
    QVERIFY(broker.start());
    client.connectToHost();
    QTRY_COMPARE(client.state(), MosquittoClient::Connected);
}

void TestMosquittoClient::closeTransportCutsHangingAttempt()
{
    FakeBroker silent { QByteArray() };
    MosquittoClient client;
    client.setHostname("127.0.0.1");
    client.setPort(silent.serverPort());
    QSignalSpy errors(&client, &MosquittoClient::errorChanged);
    client.connectToHost();
    QTRY_VERIFY(silent.received.contains("MQTT"));
    QCOMPARE(client.state(), MosquittoClient::Connecting);
    client.closeTransport();
    QTRY_COMPARE(client.state(), MosquittoClient::Disconnected);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(client.error(), MosquittoClient::TransportInvalid);
    // Closing again changes nothing.
    client.closeTransport();
    QTest::qWait(50);
    QCOMPARE(errors.count(), 1);
}

QTEST_GUILESS_MAIN(TestMosquittoClient)
#include "tst_MosquittoClient.moc"

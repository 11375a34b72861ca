// Request/response calls and single waits over a real broker: the wire
// envelope, reply parsing, time-outs, rejections, and waits that survive a
// reconnection or share their topic with a lasting subscription.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttTestPeer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

using manager::MqttClient;

namespace {

// Answers every request topic on its response topic with what reply() gives.
class Responder : public MqttTestPeer
{
public:
    explicit Responder(quint16 port)
        : MqttTestPeer(port)
    {
        connect(this, &MosquittoClient::messageReceived, this,
            [this](const QByteArray& payload, const MqttTopicName& topic) {
                if (!topic.name().contains("/request/"))
                    return;
                requests << qMakePair(topic.name(), payload);
                if (!reply)
                    return;
                QString replyTopic = topic.name();
                replyTopic.replace("/request/", "/response/");
                publish(MqttTopicName(replyTopic), reply(payload), 1);
            });
    }
    std::function<QByteArray(const QByteArray&)> reply;
    QList<QPair<QString, QByteArray>> requests;
};

struct Outcome
{
    int state = 0;
    QJsonValue value;
};

Outcome follow(const Deferred<QJsonValue>& d, std::shared_ptr<Outcome> out = std::make_shared<Outcome>())
{
    d.done([out](const QJsonValue& v) {
        out->state = 1;
        out->value = v;
    });
    d.fail([out](const QJsonValue& v) {
        out->state = 2;
        out->value = v;
    });
    return *out;
}

// Runs the event loop until d settles; returns what it settled with.
Outcome settle(const Deferred<QJsonValue>& d, int timeoutMs = 5000)
{
    auto out = std::make_shared<Outcome>();
    follow(d, out);
    if (out->state != 0)
        return *out;
    // An event loop rather than polling: several hops per call would each
    // wait for the next poll.
    QEventLoop loop;
    const QPointer<QEventLoop> guard(&loop);
    const auto quit = [guard] {
        if (guard)
            guard->quit();
    };
    d.doneZero(quit);
    d.failZero(quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    if (out->state == 0)
        qWarning("result still pending after %d ms", timeoutMs);
    return *out;
}

MosquittoClient* adapterOf(MqttClient& client)
{
    return client.findChild<MosquittoClient*>();
}

int waitTimers(MqttClient& client)
{
    return client.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly).size();
}

bool connectTo(MqttClient& client, quint16 port)
{
    client.setHostname("127.0.0.1");
    client.setPort(port);
    client.setRetryMillis(300);
    QSignalSpy connected(&client, &MqttClient::connected);
    client.connect();
    return connected.count() > 0 || connected.wait(5000);
}

} // namespace

class TestMqttRpc : public QObject
{
    Q_OBJECT

private slots:
    void callSucceeds();
    void replyPayloads_data();
    void replyPayloads();
    void timeoutAndLateReply();
    void concurrentCallsKeepTheirReplies();
    void notConnectedFailsAtOnceAndSendsNothing();
    void failedSubscriptionSendsNoRequest();
    void refusedReplySubscriptionFailsTheCall();
    void waitKeepsLastingSubscription();
    void waitSurvivesReconnection();
    void callSurvivesBrokerRestart();
    void manyCallsLeaveNothingBehind();
};

void TestMqttRpc::callSucceeds()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    Responder device(broker.port());
    device.reply = [](const QByteArray&) { return QByteArray(R"({"completed":true,"data":{"uid":"04A1"}})"); };
    QVERIFY(device.start("dev/#"));

    LogCapture log;
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    QStringList order;
    QObject::connect(&client, &MqttClient::received, &client,
        [&](const QByteArray&, const QByteArray& from) { order << "received " + from; });
    const Deferred<QJsonValue> call
        = client.executeRpc("dev/rfid/card", "7", QJsonObject { { "cmd", "read" }, { "n", 1 } });
    call.done([&](const QJsonValue&) { order << "done"; });
    const Outcome outcome = settle(call);
    QCOMPARE(outcome.state, 1);
    QCOMPARE(outcome.value.toObject(),
        (QJsonObject { { "completed", true }, { "data", QJsonObject { { "uid", "04A1" } } } }));
    QCOMPARE(order, QStringList({ "received dev/rfid/card/response/7", "done" }));

    QCOMPARE(device.requests.size(), 1);
    QCOMPARE(device.requests.at(0).first, QString("dev/rfid/card/request/7"));
    QCOMPARE(device.requests.at(0).second, QByteArray(R"({"cmd":"read","n":1})"));
    QVERIFY(broker.log().contains("(d0, q1, r0, m1, 'dev/rfid/card/request/7', ... (20 bytes))"));
    QVERIFY(broker.log().contains("dev/rfid/card/response/7 (QoS 1)"));

    const QStringList debug = log.texts(QtDebugMsg);
    const int sending = debug.indexOf("[MqttClient] [RPC] Sending : dev/rfid/card/request/7");
    QVERIFY(sending >= 0);
    QCOMPARE(debug.at(sending + 1), QString(R"([MqttClient] [RPC] Data    : {"cmd":"read","n":1})"));
    const int receivedLine = debug.indexOf("[MqttClient] [RPC] Received : dev/rfid/card/response/7");
    QVERIFY(receivedLine > sending);
    QVERIFY(debug.at(receivedLine + 1).startsWith("[MqttClient] [RPC] Data     : QJsonValue(object"));
    // The request goes straight out, not through publish().
    QVERIFY(log.startingWith("[MqttClient] Publishing").isEmpty());
}

void TestMqttRpc::replyPayloads_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("state");
    QTest::addColumn<QJsonValue>("value");
    const QJsonValue invalid("Invalid response");
    QTest::newRow("empty is {}") << QByteArray() << 1 << QJsonValue(QJsonObject());
    QTest::newRow("array") << QByteArray("[]") << 2 << invalid;
    QTest::newRow("single value") << QByteArray("true") << 2 << invalid;
    QTest::newRow("broken") << QByteArray("{\"a\":") << 2 << invalid;
    QTest::newRow("cut at NUL") << QByteArray("{\"a\":1}\0{garbage", 16) << 1 << QJsonValue(QJsonObject { { "a", 1 } });
    QTest::newRow("NUL first") << QByteArray("\0[1]", 4) << 1 << QJsonValue(QJsonObject());
    QTest::newRow("utf-8") << QByteArray("{\"name\":\"\xce\x9a\xce\xbf\"}") << 1
                           << QJsonValue(QJsonObject { { "name", QString::fromUtf8("\xce\x9a\xce\xbf") } });
}

void TestMqttRpc::replyPayloads()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, state);
    QFETCH(QJsonValue, value);
    MosquittoBroker broker;
    QVERIFY(broker.start());
    Responder device(broker.port());
    device.reply = [payload](const QByteArray&) { return payload; };
    QVERIFY(device.start("dev/#"));
    LogCapture log;
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    const Outcome outcome = settle(client.executeRpc("dev/x", "1", QJsonObject()));
    QCOMPARE(outcome.state, state);
    QCOMPARE(outcome.value, value);
    if (state == 2)
        QVERIFY(log.contains(QtCriticalMsg, "[MqttClient] [RPC] ERROR : Invalid response"));
}

void TestMqttRpc::timeoutAndLateReply()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    Responder device(broker.port());
    QVERIFY(device.start("dev/#"));
    LogCapture log;
    MqttClient client;
    // A listener of its own on every reply of the device.
    client.subscribe("dev/rfid/response/#", 1);
    QVERIFY(connectTo(client, broker.port()));
    QTRY_VERIFY(broker.log().contains("dev/rfid/response/# (QoS 1)"));
    QSignalSpy received(&client, &MqttClient::received);

    QElapsedTimer timer;
    timer.start();
    const Deferred<QJsonValue> call = client.executeRpc("dev/rfid", "9", QJsonObject { { "cmd", "slow" } }, 300);
    const Outcome outcome = settle(call);
    QCOMPARE(outcome.state, 2);
    QCOMPARE(outcome.value.toString(), QString("Timeout"));
    QVERIFY2(timer.elapsed() >= 299, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(log.contains(QtCriticalMsg, "[MqttClient] [RPC] ERROR : Timeout"));
    QTRY_VERIFY(broker.log().contains("Received UNSUBSCRIBE"));

    // The late reply still reaches received(); the call stays as it was.
    device.publish(MqttTopicName("dev/rfid/response/9"), "{}", 1);
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("dev/rfid/response/9"));
    QTest::qWait(50);
    QCOMPARE(call.state(), 2);
    for (const QString& line : log.texts(QtWarningMsg))
        QVERIFY2(!line.contains("settled", Qt::CaseInsensitive), qPrintable(line));
}

void TestMqttRpc::concurrentCallsKeepTheirReplies()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    Responder device(broker.port());
    QVERIFY(device.start("dev/#"));
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));

    const Deferred<QJsonValue> one = client.executeRpc("dev/disp", "1", QJsonObject { { "n", 1 } });
    const Deferred<QJsonValue> two = client.executeRpc("dev/disp", "2", QJsonObject { { "n", 2 } });
    QTRY_COMPARE(device.requests.size(), 2);
    // Answered in the other order.
    device.publish(MqttTopicName("dev/disp/response/2"), R"({"for":2})", 1);
    device.publish(MqttTopicName("dev/disp/response/1"), R"({"for":1})", 1);
    const Outcome first = settle(one);
    const Outcome second = settle(two);
    QCOMPARE(first.state, 1);
    QCOMPARE(second.state, 1);
    QCOMPARE(first.value.toObject().value("for").toInt(), 1);
    QCOMPARE(second.value.toObject().value("for").toInt(), 2);

    // A call made from inside a result callback works as well.
    device.reply = [](const QByteArray& request) { return request; };
    auto chained = std::make_shared<Outcome>();
    client.executeRpc("dev/disp", "3", QJsonObject { { "n", 3 } }).done([&, chained](const QJsonValue&) {
        follow(client.executeRpc("dev/disp", "4", QJsonObject { { "n", 4 } }), chained);
    });
    QTRY_COMPARE(chained->state, 1);
    QCOMPARE(chained->value.toObject().value("n").toInt(), 4);
}

void TestMqttRpc::notConnectedFailsAtOnceAndSendsNothing()
{
    LogCapture log;
    MqttClient never;
    const Deferred<QJsonValue> before = never.executeRpc("dev/x", "1", QJsonObject());
    QCOMPARE(before.state(), 2);
    // A callback registered on the settled result runs at once.
    QString reason;
    before.fail([&](const QJsonValue& v) { reason = v.toString(); });
    QCOMPARE(reason, QString("Not connected"));
    const QStringList texts = log.texts();
    const int error = texts.indexOf("[MqttClient] [RPC] ERROR : Not connected");
    QVERIFY(error >= 0);
    QVERIFY(error < texts.indexOf("[MqttClient] [RPC] Sending : dev/x/request/1"));
    QCOMPARE(never.waitTopic("a/b").state(), 2);

    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttTestPeer watcher(broker.port());
    QVERIFY(watcher.start("#"));
    MqttClient connecting;
    connecting.setPort(broker.port());
    QSignalSpy connected(&connecting, &MqttClient::connected);
    connecting.connect();
    // Still connecting: refused, and nothing goes out once connected either.
    QCOMPARE(connecting.executeRpc("dev/y", "1", QJsonObject()).state(), 2);
    QVERIFY(connected.wait(5000));
    QTest::qWait(300);
    QVERIFY2(watcher.messages.isEmpty(), qPrintable(watcher.topics().join(',')));
}

void TestMqttRpc::failedSubscriptionSendsNoRequest()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttTestPeer watcher(broker.port());
    QVERIFY(watcher.start("#"));
    LogCapture log;
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    // "response" is one byte longer than "request": the request topic is at
    // the 65535-byte limit, the reply filter one byte over it.
    const QString topic(65535 - int(strlen("/request/1")), QChar('t'));
    const Deferred<QJsonValue> call = client.executeRpc(topic, "1", QJsonObject { { "eject", true } });
    QCOMPARE(call.state(), 2);
    QVERIFY(log.contains(QtCriticalMsg, "[MqttClient] [RPC] ERROR : Subscription failed"));
    QTest::qWait(300);
    QVERIFY(watcher.messages.isEmpty());
    // The same topic one byte shorter does go out.
    const QString shorter(topic.size() - 1, QChar('t'));
    client.executeRpc(shorter, "1", QJsonObject { { "eject", true } }, 100);
    QTRY_COMPARE(watcher.messages.size(), 1);
}

void TestMqttRpc::refusedReplySubscriptionFailsTheCall()
{
    MosquittoBroker broker;
    QVERIFY(broker.denySubscriptions({ "dev/denied/response/#" }));
    QVERIFY(broker.start());
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    QElapsedTimer timer;
    timer.start();
    const Outcome outcome = settle(client.executeRpc("dev/denied", "1", QJsonObject(), 10000));
    QCOMPARE(outcome.state, 2);
    QCOMPARE(outcome.value.toString(), QString("Subscription failed"));
    // Known from the SUBACK, long before the time-out.
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(adapterOf(client)->subscriptionCount(), 0);
}

void TestMqttRpc::waitKeepsLastingSubscription()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttTestPeer device(broker.port());
    QVERIFY(device.start());
    MqttClient client;
    client.subscribe("disp/card/removed", 1);
    QVERIFY(connectTo(client, broker.port()));
    QTRY_VERIFY(broker.log().contains("disp/card/removed (QoS 1)"));
    QSignalSpy received(&client, &MqttClient::received);

    // One wait ends with a message, another one with its time-out.
    const Deferred<QJsonValue> removed = client.waitTopic("disp/card/removed", 3000);
    device.publish(MqttTopicName("disp/card/removed"), R"({"removed":true})", 1);
    QCOMPARE(settle(removed).state, 1);
    QCOMPARE(settle(client.waitTopic("disp/card/removed", 100)).value.toString(), QString("Timeout"));
    QTest::qWait(100);
    QVERIFY(!broker.log().contains("Received UNSUBSCRIBE"));

    // Later messages still arrive through the lasting subscription.
    device.publish(MqttTopicName("disp/card/removed"), R"({"removed":true})", 1);
    QTRY_COMPARE(received.count(), 2);
}

void TestMqttRpc::waitSurvivesReconnection()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    QSignalSpy connected(&client, &MqttClient::connected);

    // msec 0: no time-out at all.
    const Deferred<QJsonValue> removed = client.waitTopic("disp/card/removed", 0);
    QCOMPARE(waitTimers(client), 1);
    QVERIFY(!client.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly)->isActive());

    broker.kill();
    QVERIFY(broker.start());
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(broker.log().contains("disp/card/removed (QoS 1)"));
    MqttTestPeer device(broker.port());
    QVERIFY(device.start());
    device.publish(MqttTopicName("disp/card/removed"), R"({"removed":true})", 1);
    const Outcome outcome = settle(removed);
    QCOMPARE(outcome.state, 1);
    QCOMPARE(outcome.value.toObject().value("removed").toBool(), true);
}

void TestMqttRpc::callSurvivesBrokerRestart()
{
    MosquittoBroker broker;
    QVERIFY(broker.start());
    Responder device(broker.port());
    QVERIFY(device.start("dev/#"));
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    QSignalSpy connected(&client, &MqttClient::connected);

    const Deferred<QJsonValue> call = client.executeRpc("dev/disp/eject", "12", QJsonObject { { "eject", 1 } }, 8000);
    QTRY_COMPARE(device.requests.size(), 1);
    // The broker dies before the device answers; the answer comes once
    // both are back.
    broker.kill();
    QVERIFY(broker.start());
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(broker.log().contains("dev/disp/eject/response/12 (QoS 1)"));
    Responder again(broker.port());
    QVERIFY(again.start());
    again.publish(MqttTopicName("dev/disp/eject/response/12"), R"({"completed":true})", 1);
    const Outcome outcome = settle(call);
    QCOMPARE(outcome.state, 1);
    QCOMPARE(outcome.value.toObject().value("completed").toBool(), true);
}

void TestMqttRpc::manyCallsLeaveNothingBehind()
{
    MosquittoBroker broker;
    broker.setLogTypes({ "error" });
    QVERIFY(broker.start());
    Responder device(broker.port());
    device.reply = [](const QByteArray& request) { return request; };
    QVERIFY(device.start("dev/#"));
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 200; ++i) {
        const Outcome outcome = settle(client.executeRpc("dev/echo", QString::number(i), QJsonObject { { "i", i } }));
        QCOMPARE(outcome.state, 1);
        QCOMPARE(outcome.value.toObject().value("i").toInt(), i);
    }
    // Well under a millisecond each on loopback; Nagle's algorithm with
    // delayed ACKs would hold every QoS 1 exchange for about 40 ms.
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    // Timers, subscription objects and filter counts are all released.
    QTRY_COMPARE(adapterOf(client)->subscriptionCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(waitTimers(client), 0);
    QCOMPARE(adapterOf(client)->subscriptionCount(), 0);
}

QTEST_GUILESS_MAIN(TestMqttRpc)
#include "tst_MqttRpc.moc"

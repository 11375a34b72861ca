// Request/response calls and single waits over a real broker: the wire
// envelope, reply parsing, time-outs, rejections, and waits that survive a
// reconnection or share their topic with a lasting subscription.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttTestPeer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

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
                if (reply)
                    publish(MqttTopicName(QString(topic.name()).replace("/request/", "/response/")), reply(payload), 1);
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

void follow(const Deferred<QJsonValue>& d, const std::shared_ptr<Outcome>& out)
{
    d.done([out](const QJsonValue& v) { *out = { 1, v }; });
    d.fail([out](const QJsonValue& v) { *out = { 2, v }; });
}

// Runs an event loop (not polling: a call takes several hops) until d settles.
Outcome settle(const Deferred<QJsonValue>& d, int timeoutMs = 5000)
{
    auto out = std::make_shared<Outcome>();
    follow(d, out);
    if (out->state == 0) {
        QEventLoop loop;
        const QPointer<QEventLoop> guard(&loop);
        const auto quit = [guard] {
            if (guard)
                guard->quit();
        };
        d.doneZero(quit).failZero(quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
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

// A broker, a device answering on "dev/#", and the client under test.
struct Rig
{
    MosquittoBroker broker;
    std::unique_ptr<Responder> device;
    MqttClient client;

    bool up()
    {
        if (!broker.start())
            return false;
        device = std::make_unique<Responder>(broker.port());
        return device->start("dev/#") && connectTo(client, broker.port());
    }
};

} // namespace

class TestMqttRpc : public QObject
{
    Q_OBJECT

private slots:
    void callSucceeds();
    void replyPayloads();
    void timeoutAndLateReply();
    void concurrentCallsKeepTheirReplies();
    void notConnectedFailsAtOnceAndSendsNothing();
    void failedSubscriptionSendsNoRequest();
    void waitKeepsLastingSubscription();
    void waitAndCallSurviveBrokerRestart();
    void manyCallsLeaveNothingBehind();
};

void TestMqttRpc::callSucceeds()
{
    Rig rig;
    QVERIFY(rig.up());
    rig.device->reply = [](const QByteArray&) { return QByteArray(R"({"completed":true,"data":{"uid":"04A1"}})"); };
    LogCapture log;
    QStringList order;
    QObject::connect(&rig.client, &MqttClient::received, &rig.client,
        [&](const QByteArray&, const QByteArray& from) { order << "received " + from; });
    const Deferred<QJsonValue> call
        = rig.client.executeRpc("dev/rfid/card", "7", QJsonObject { { "cmd", "read" }, { "n", 1 } });
    call.done([&](const QJsonValue&) { order << "done"; });
    const Outcome outcome = settle(call);
    QCOMPARE(outcome.state, 1);
    QCOMPARE(outcome.value.toObject(),
        (QJsonObject { { "completed", true }, { "data", QJsonObject { { "uid", "04A1" } } } }));
    QCOMPARE(order, QStringList({ "received dev/rfid/card/response/7", "done" }));

    QCOMPARE(rig.device->requests.size(), 1);
    QCOMPARE(rig.device->requests.at(0).first, QString("dev/rfid/card/request/7"));
    QCOMPARE(rig.device->requests.at(0).second, QByteArray(R"({"cmd":"read","n":1})"));
    QVERIFY(rig.broker.log().contains("(d0, q1, r0, m1, 'dev/rfid/card/request/7', ... (20 bytes))"));
    QVERIFY(rig.broker.log().contains("dev/rfid/card/response/7 (QoS 1)"));

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

void TestMqttRpc::replyPayloads()
{
    Rig rig;
    QVERIFY(rig.up());
    LogCapture log;
    const QJsonValue invalid("Invalid response");
    const struct
    {
        QByteArray payload;
        int state;
        QJsonValue value;
    } rows[] = {
        { QByteArray(), 1, QJsonObject() },
        { "[]", 2, invalid },
        { "{\"a\":", 2, invalid },
        { QByteArray("{\"a\":1}\0{garbage", 16), 1, QJsonObject { { "a", 1 } } }, // cut at the NUL
        { "{\"name\":\"\xce\x9a\xce\xbf\"}", 1, QJsonObject { { "name", QString::fromUtf8("\xce\x9a\xce\xbf") } } },
    };
    int id = 0;
    for (const auto& row : rows) {
        rig.device->reply = [&row](const QByteArray&) { return row.payload; };
        const Outcome outcome = settle(rig.client.executeRpc("dev/x", QString::number(++id), QJsonObject()));
        QVERIFY2(outcome.state == row.state && outcome.value == row.value, row.payload.constData());
    }
    QCOMPARE(log.texts(QtCriticalMsg).count("[MqttClient] [RPC] ERROR : Invalid response"), 2);
}

void TestMqttRpc::timeoutAndLateReply()
{
    Rig rig;
    // A listener of its own on every reply of the device.
    rig.client.subscribe("dev/rfid/response/#", 1);
    QVERIFY(rig.up());
    QTRY_VERIFY(rig.broker.log().contains("dev/rfid/response/# (QoS 1)"));
    LogCapture log;
    QSignalSpy received(&rig.client, &MqttClient::received);

    QElapsedTimer timer;
    timer.start();
    const Deferred<QJsonValue> call = rig.client.executeRpc("dev/rfid", "9", QJsonObject { { "cmd", "slow" } }, 300);
    const Outcome outcome = settle(call);
    QCOMPARE(outcome.state, 2);
    QCOMPARE(outcome.value.toString(), QString("Timeout"));
    QVERIFY2(timer.elapsed() >= 299, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(log.contains(QtCriticalMsg, "[MqttClient] [RPC] ERROR : Timeout"));
    QTRY_VERIFY(rig.broker.log().contains("Received UNSUBSCRIBE"));

    // The late reply still reaches received(); the call stays as it was.
    rig.device->publish(MqttTopicName("dev/rfid/response/9"), "{}", 1);
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(1).toByteArray(), QByteArray("dev/rfid/response/9"));
    QTest::qWait(50);
    QCOMPARE(call.state(), 2);
    for (const QString& line : log.texts(QtWarningMsg))
        QVERIFY2(!line.contains("settled", Qt::CaseInsensitive), qPrintable(line));
}

void TestMqttRpc::concurrentCallsKeepTheirReplies()
{
    Rig rig;
    QVERIFY(rig.up());
    const Deferred<QJsonValue> one = rig.client.executeRpc("dev/disp", "1", QJsonObject { { "n", 1 } });
    const Deferred<QJsonValue> two = rig.client.executeRpc("dev/disp", "2", QJsonObject { { "n", 2 } });
    QTRY_COMPARE(rig.device->requests.size(), 2);
    // Answered in the other order.
    rig.device->publish(MqttTopicName("dev/disp/response/2"), R"({"for":2})", 1);
    rig.device->publish(MqttTopicName("dev/disp/response/1"), R"({"for":1})", 1);
    QCOMPARE(settle(one).value.toObject().value("for").toInt(), 1);
    QCOMPARE(settle(two).value.toObject().value("for").toInt(), 2);

    // A call made from inside a result callback works as well.
    rig.device->reply = [](const QByteArray& request) { return request; };
    auto chained = std::make_shared<Outcome>();
    rig.client.executeRpc("dev/disp", "3", QJsonObject { { "n", 3 } }).done([&, chained](const QJsonValue&) {
        follow(rig.client.executeRpc("dev/disp", "4", QJsonObject { { "n", 4 } }), chained);
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
    QCOMPARE(settle(before).value.toString(), QString("Not connected"));
    const QStringList texts = log.texts();
    const int error = texts.indexOf("[MqttClient] [RPC] ERROR : Not connected");
    QVERIFY(error >= 0);
    QVERIFY(error < texts.indexOf("[MqttClient] [RPC] Sending : dev/x/request/1"));
    QCOMPARE(never.waitTopic("a/b").state(), 2);

    // Still connecting: refused, and nothing goes out once connected either.
    MosquittoBroker broker;
    QVERIFY(broker.start());
    MqttClient connecting;
    connecting.setPort(broker.port());
    QSignalSpy connected(&connecting, &MqttClient::connected);
    connecting.connect();
    QCOMPARE(connecting.executeRpc("dev/y", "1", QJsonObject()).state(), 2);
    QVERIFY(connected.wait(5000));
    QTest::qWait(300);
    QVERIFY(!broker.log().contains("Received PUBLISH"));
}

void TestMqttRpc::failedSubscriptionSendsNoRequest()
{
    MosquittoBroker broker;
    QVERIFY(broker.denySubscriptions({ "dev/denied/response/#" }));
    QVERIFY(broker.start());
    LogCapture log;
    MqttClient client;
    QVERIFY(connectTo(client, broker.port()));
    // "response" is one byte longer than "request": the request topic is at
    // the 65535-byte limit, the reply filter one byte over it.
    const QString topic(65535 - int(strlen("/request/1")), QChar('t'));
    QCOMPARE(client.executeRpc(topic, "1", QJsonObject { { "eject", true } }).state(), 2);
    QVERIFY(log.contains(QtCriticalMsg, "[MqttClient] [RPC] ERROR : Subscription failed"));
    QTest::qWait(300);
    QVERIFY(!broker.log().contains("Received PUBLISH"));
    // One byte shorter, it does go out.
    client.executeRpc(topic.mid(1), "1", QJsonObject { { "eject", true } }, 100);
    QTRY_VERIFY(broker.log().contains("Received PUBLISH"));

    // Refused in the SUBACK: known long before the time-out, and nothing is left behind.
    QElapsedTimer timer;
    timer.start();
    const Outcome outcome = settle(client.executeRpc("dev/denied", "1", QJsonObject(), 10000));
    QCOMPARE(outcome.state, 2);
    QCOMPARE(outcome.value.toString(), QString("Subscription failed"));
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(adapterOf(client)->subscriptionCount(), 0);
}

void TestMqttRpc::waitKeepsLastingSubscription()
{
    Rig rig;
    rig.client.subscribe("disp/card/removed", 1);
    QVERIFY(rig.up());
    QTRY_VERIFY(rig.broker.log().contains("disp/card/removed (QoS 1)"));
    QSignalSpy received(&rig.client, &MqttClient::received);

    // One wait ends with a message, another one with its time-out.
    const Deferred<QJsonValue> removed = rig.client.waitTopic("disp/card/removed", 3000);
    rig.device->publish(MqttTopicName("disp/card/removed"), R"({"removed":true})", 1);
    QCOMPARE(settle(removed).state, 1);
    QCOMPARE(settle(rig.client.waitTopic("disp/card/removed", 100)).value.toString(), QString("Timeout"));
    QTest::qWait(100);
    QVERIFY(!rig.broker.log().contains("Received UNSUBSCRIBE"));

    // Later messages still arrive through the lasting subscription.
    rig.device->publish(MqttTopicName("disp/card/removed"), R"({"removed":true})", 1);
    QTRY_COMPARE(received.count(), 2);
}

void TestMqttRpc::waitAndCallSurviveBrokerRestart()
{
    Rig rig;
    QVERIFY(rig.up());
    QSignalSpy connected(&rig.client, &MqttClient::connected);
    // msec 0: no time-out at all.
    const Deferred<QJsonValue> removed = rig.client.waitTopic("disp/card/removed", 0);
    QCOMPARE(waitTimers(rig.client), 1);
    QVERIFY(!rig.client.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly)->isActive());
    const Deferred<QJsonValue> call = rig.client.executeRpc("dev/disp/eject", "12", QJsonObject(), 8000);
    QTRY_COMPARE(rig.device->requests.size(), 1);

    // The broker dies before the device answers; the answers come once both are back.
    rig.broker.kill();
    QVERIFY(rig.broker.start());
    QVERIFY(connected.wait(5000));
    QTRY_VERIFY(rig.broker.log().count("disp/card/removed (QoS 1)") == 2
        && rig.broker.log().count("dev/disp/eject/response/12 (QoS 1)") == 2);
    MqttTestPeer device(rig.broker.port());
    QVERIFY(device.start());
    device.publish(MqttTopicName("disp/card/removed"), R"({"removed":true})", 1);
    device.publish(MqttTopicName("dev/disp/eject/response/12"), R"({"completed":true})", 1);
    QCOMPARE(settle(removed).value.toObject().value("removed").toBool(), true);
    QCOMPARE(settle(call).value.toObject().value("completed").toBool(), true);
}

void TestMqttRpc::manyCallsLeaveNothingBehind()
{
    Rig rig;
    rig.broker.setLogTypes({ "error" });
    QVERIFY(rig.up());
    rig.device->reply = [](const QByteArray& request) { return request; };
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 200; ++i) {
        const Outcome outcome
            = settle(rig.client.executeRpc("dev/echo", QString::number(i), QJsonObject { { "i", i } }));
        QCOMPARE(outcome.value.toObject().value("i").toInt(), i);
    }
    // Well under a millisecond each on loopback; Nagle's algorithm with
    // delayed ACKs would hold every QoS 1 exchange for about 40 ms.
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    // Timers, subscription objects and filter counts are all released.
    QTRY_COMPARE(adapterOf(rig.client)->subscriptionCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(waitTimers(rig.client), 0);
    QCOMPARE(adapterOf(rig.client)->subscriptionCount(), 0);
}

QTEST_GUILESS_MAIN(TestMqttRpc)
#include "tst_MqttRpc.moc"

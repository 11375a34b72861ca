// Request/response calls and single waits over a real broker: the wire
// envelope, reply parsing, time-outs, rejections, and waits that survive a reconnection.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using manager::MqttClient;

namespace {

// Runs an event loop (not polling: a call takes several hops) until d settles;
// returns its state (1 resolved, 2 rejected) and value.
QPair<int, QJsonValue> settle(const Deferred<QJsonValue>& d, int timeoutMs = 5000)
{
    auto value = std::make_shared<QJsonValue>();
    d.done([value](const QJsonValue& v) { *value = v; }).fail([value](const QJsonValue& v) { *value = v; });
    if (d.isPending()) {
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
    return { d.state(), *value };
}

MosquittoClient* adapterOf(MqttClient& client)
{
    return client.findChild<MosquittoClient*>();
}

int waitTimers(MqttClient& client)
{
    return client.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly).size();
}

// A broker (refusing subscriptions to denied), a device on "dev/#", and the client under test.
struct Rig
{
    MosquittoBroker broker;
    MqttProbe device;
    MqttClient client;

    bool up(const QStringList& denied = {})
    {
        if ((!denied.isEmpty() && !broker.denySubscriptions(denied)) || !broker.start()
            || !device.connectTo(broker.host(), broker.port()) || !device.subscribe("dev/#"))
            return false;
        client.setHostname("127.0.0.1");
        client.setPort(broker.port());
        client.setRetryMillis(300);
        QSignalSpy connected(&client, &MqttClient::connected);
        client.connect();
        return connected.wait(5000);
    }
};

} // namespace

class TestMqttRpc : public QObject
{
    Q_OBJECT

private slots:
    void envelopeAndMaskedDataLines()
    {
        Rig rig;
        QVERIFY(rig.up());
        rig.device.setResponder([](const QByteArray&) { return QByteArray(R"({"completed":true,"token":"t0k"})"); });
        LogCapture log;
        const auto reply = settle(rig.client.executeRpc("dev/bo", "1", { { "cmd", "login" }, { "pin", "1234" } }));
        QCOMPARE(reply.second.toObject().value("token"), QJsonValue("t0k"));
        // The device gets the secret; the log lines do not.
        QCOMPARE(rig.device.at(0).topic, QString("dev/bo/request/1"));
        QCOMPARE(rig.device.at(0).payload, QByteArray(R"({"cmd":"login","pin":"1234"})"));
        QVERIFY(log.contains(QtDebugMsg, R"([MqttClient] [RPC] Data    : {"cmd":"login","pin":"****"})"));
        const QStringList lines = log.startingWith("[MqttClient] [RPC] Data     : QJsonValue(object");
        QVERIFY(lines.size() == 1 && lines.at(0).contains("****") && !lines.at(0).contains("t0k"));
    }

    void replyPayloads()
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
            { QByteArray(), 1, QJsonObject() }, { "[]", 2, invalid }, { "{\"a\":", 2, invalid },
            { QByteArray("{\"a\":1}\0{garbage", 16), 1, QJsonObject { { "a", 1 } } }, // cut at the NUL
        };
        int id = 0;
        for (const auto& row : rows) {
            rig.device.setResponder([&row](const QByteArray&) { return row.payload; });
            const auto outcome = settle(rig.client.executeRpc("dev/x", QString::number(++id), QJsonObject()));
            QVERIFY2(outcome == qMakePair(row.state, row.value), row.payload.constData());
        }
        QCOMPARE(log.texts(QtCriticalMsg).count("[MqttClient] [RPC] ERROR : Invalid response"), 2);
    }

    void timeoutAndLateReply()
    {
        Rig rig;
        rig.client.subscribe("dev/rfid/response/#", 1); // a listener of its own on every reply
        QVERIFY(rig.up());
        QTRY_VERIFY(rig.broker.log().contains("dev/rfid/response/# (QoS 1)"));
        LogCapture log;
        QSignalSpy received(&rig.client, &MqttClient::received);
        QElapsedTimer timer;
        timer.start();
        const Deferred<QJsonValue> call = rig.client.executeRpc("dev/rfid", "9", QJsonObject(), 300);
        QCOMPARE(settle(call), qMakePair(2, QJsonValue("Timeout")));
        QVERIFY2(timer.elapsed() >= 299, qPrintable(QString::number(timer.elapsed())));
        QTRY_VERIFY(rig.broker.log().contains("Received UNSUBSCRIBE"));

        // The late reply still reaches received(); the call stays as it was.
        rig.device.publish("dev/rfid/response/9", "{}");
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(call.state(), 2);
    }

    void notConnectedFailsAtOnceAndSendsNothing()
    {
        LogCapture log;
        MqttClient never;
        const Deferred<QJsonValue> before = never.executeRpc("dev/x", "1", QJsonObject());
        QCOMPARE(before.state(), 2); // before the call returns
        QCOMPARE(settle(before).second, QJsonValue("Not connected"));
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

    void failedSubscriptionSendsNoRequest()
    {
        Rig rig;
        QVERIFY(rig.up({ "dev/denied/response/#" }));
        // Refused in the SUBACK: known long before the time-out, and nothing is left behind.
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(settle(rig.client.executeRpc("dev/denied", "1", QJsonObject(), 10000)),
            qMakePair(2, QJsonValue("Subscription failed")));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(adapterOf(rig.client)->subscriptionCount(), 0);

        // A request the client cannot hand over fails as such, and its wait goes with it.
        timer.restart();
        QCOMPARE(settle(rig.client.executeRpc("dev/bad", "+", QJsonObject(), 10000)),
            qMakePair(2, QJsonValue("Publish failed")));
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(adapterOf(rig.client)->subscriptionCount(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(waitTimers(rig.client), 0);
    }

    void waitAndCallSurviveBrokerRestart()
    {
        Rig rig;
        QVERIFY(rig.up());
        QSignalSpy connected(&rig.client, &MqttClient::connected);
        // msec 0: no time-out at all.
        const Deferred<QJsonValue> removed = rig.client.waitTopic("disp/card/removed", 0);
        const Deferred<QJsonValue> call = rig.client.executeRpc("dev/disp/eject", "12", QJsonObject(), 8000);
        QTRY_COMPARE(rig.device.count(), 1);

        // The broker dies before the device answers; the answers come once both are back.
        rig.broker.kill();
        QVERIFY(rig.broker.start());
        QVERIFY(connected.wait(5000));
        QTRY_VERIFY(rig.broker.log().count("disp/card/removed (QoS 1)") == 2
            && rig.broker.log().count("dev/disp/eject/response/12 (QoS 1)") == 2);
        MqttProbe device;
        QVERIFY(device.connectTo(rig.broker.host(), rig.broker.port()));
        device.publish("disp/card/removed", R"({"removed":true})");
        device.publish("dev/disp/eject/response/12", R"({"completed":true})");
        QCOMPARE(settle(removed), qMakePair(1, QJsonValue(QJsonObject { { "removed", true } })));
        QCOMPARE(settle(call), qMakePair(1, QJsonValue(QJsonObject { { "completed", true } })));
    }

    void manyCallsLeaveNothingBehind()
    {
        Rig rig;
        rig.broker.setLogTypes({ "error" });
        QVERIFY(rig.up());
        rig.device.setResponder([](const QByteArray& request) { return request; });
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 200; ++i) {
            const QJsonObject request { { "i", i } };
            QCOMPARE(
                settle(rig.client.executeRpc("dev/echo", QString::number(i), request)).second, QJsonValue(request));
        }
        // Well under a millisecond each on loopback; Nagle's algorithm with
        // delayed ACKs would hold every QoS 1 exchange for about 40 ms.
        QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
        // Timers, subscription objects and filter counts are all released.
        QTRY_COMPARE(adapterOf(rig.client)->subscriptionCount(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(waitTimers(rig.client), 0);
    }
};

QTEST_GUILESS_MAIN(TestMqttRpc)
#include "tst_MqttRpc.moc"

// The card dispenser client over a real broker: a raw MQTT peer plays the
// dispenser service message by message, and the device simulator plays it for
// the road of one card.

#include "DeviceClientRig.h"
#include "DeviceSimulator.h"
#include "Dispenser.h"
#include "LogCapture.h"

#include <QElapsedTimer>
#include <QMetaProperty>
#include <QTest>
#include <QTimer>

#include <functional>
#include <limits>

using manager::Dispenser;

namespace {

const QString Root = QStringLiteral("lane");
const QString D = QStringLiteral("lane/dispenser");

using Call = std::function<Deferred<Dispenser::Result>()>;

// Intervals of the pending waits of the client (their single-shot timers).
QList<int> waitIntervals(manager::MqttClient& client)
{
    QList<int> intervals;
    for (QTimer* timer : client.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly))
        if (timer->isSingleShot() && timer->isActive())
            intervals << timer->interval();
    std::sort(intervals.begin(), intervals.end());
    return intervals;
}

} // namespace

class TestDispenser : public QObject
{
    Q_OBJECT

private slots:
    void properties();
    void infoAndStatus();
    void cardEventsAndParsing();
    void requestsAndReplies();
    void transportFailures();
    void waitCollect();
    void collectTimeoutBounds();
    void leds();
    void roadWithSimulator();
};

void TestDispenser::properties()
{
    manager::MqttClient client;
    Dispenser dispenser(client, D);
    const QMetaObject* meta = dispenser.metaObject();
    const QStringList names { "manufacturer", "model", "firmware", "software", "cartridge", "active", "isJammed",
        "isDoorOpen", "cardInMouth", "cardInRfid", "cartridgePercent" };
    for (const QString& name : names) {
        const int index = meta->indexOfProperty(name.toLatin1());
        QVERIFY2(index >= 0, qPrintable(name));
        const QMetaProperty property = meta->property(index);
        QVERIFY2(!property.isWritable(), qPrintable(name));
        QCOMPARE(QString::fromLatin1(property.notifySignal().name()), name + "Changed");
    }
    QCOMPARE(dispenser.property("active"), QVariant(false));
    QCOMPARE(dispenser.property("cartridge"), QVariant(QString()));
    QCOMPARE(dispenser.property("cartridgePercent"), QVariant(0));
    QCOMPARE(dispenser.requestTimeout(), 30000);
}

void TestDispenser::infoAndStatus()
{
    DeviceClientRig rig(Root);
    Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());
    LogCapture log;

    QStringList order;
    using Signal = void (Dispenser::*)();
    const QList<QPair<Signal, QString>> watched { { &Dispenser::manufacturerChanged, "manufacturer" },
        { &Dispenser::modelChanged, "model" }, { &Dispenser::firmwareChanged, "firmware" },
        { &Dispenser::softwareChanged, "software" }, { &Dispenser::activeChanged, "active" },
        { &Dispenser::isJammedChanged, "isJammed" }, { &Dispenser::isDoorOpenChanged, "isDoorOpen" },
        { &Dispenser::cardInMouthChanged, "cardInMouth" }, { &Dispenser::cardInRfidChanged, "cardInRfid" },
        { &Dispenser::cartridgeChanged, "cartridge" }, { &Dispenser::cartridgePercentChanged, "cartridgePercent" } };
    for (const auto& pair : watched) {
        const QString name = pair.second;
        connect(&dispenser, pair.first, this, [&order, name] { order << name; });
    }
    const auto lines = [&log] { return log.startingWith("[Dispenser] "); };

    const QByteArray info
        = R"({"device":{"firmware":"3.2","manufacturer":"CardCo","model":"CD-100","uid":"x"},"service":{"version":"0.9"}})";
    QVERIFY(rig.feed(D + "/info", info));
    QCOMPARE(order, QStringList({ "firmware", "manufacturer", "model", "software" }));
    QCOMPARE(dispenser.property("model").toString(), QString("CD-100"));
    QCOMPARE(dispenser.manufacturer(), QString("CardCo"));
    QCOMPARE(dispenser.firmware(), QString("3.2"));
    QCOMPARE(dispenser.software(), QString("0.9"));
    QVERIFY(rig.feed(D + "/info", info));
    QCOMPARE(order.size(), 4);
    QVERIFY(rig.feed(D + "/info", R"({"device":{"model":7}})"));
    QCOMPARE(dispenser.model(), QString());
    QCOMPARE(dispenser.software(), QString());
    QCOMPARE(lines(), QStringList());
    order.clear();

    const QByteArray full = R"({"service":true,"device":{"active":true,"isJammed":true,"isCartridgeDoorOpen":true,
        "cardInMouth":true,"cardInRfid":true,"cartridge":"reserve","cartridgePercent":15}})";
    QVERIFY(rig.feed(D + "/status", full));
    QCOMPARE(order,
        QStringList(
            { "active", "isJammed", "isDoorOpen", "cardInMouth", "cardInRfid", "cartridge", "cartridgePercent" }));
    QCOMPARE(lines(),
        QStringList({ "[Dispenser] Active changed : true", "[Dispenser] Jammed changed : true",
            "[Dispenser] Door state changed : Open" }));
    QCOMPARE(log.texts(QtInfoMsg).filter("[Dispenser]").size(), 3);
    QVERIFY(dispenser.active() && dispenser.isJammed() && dispenser.isDoorOpen() && dispenser.cardInMouth()
        && dispenser.cardInRfid());
    QCOMPARE(dispenser.cartridge(), QString("reserve"));
    QCOMPARE(dispenser.cartridgePercent(), 15);

    // The same status again: nothing.
    QVERIFY(rig.feed(D + "/status", full));
    QCOMPARE(order.size(), 7);
    QCOMPARE(lines().size(), 3);

    // The service down: only active changes, whatever else the message says.
    for (const QByteArray& down : { QByteArray(R"({"device":{"active":true,"isJammed":false}})"),
             QByteArray(R"({"service":"true","device":{"active":true}})"), QByteArray(R"({"service":false})") }) {
        QVERIFY(rig.feed(D + "/status", full));
        order.clear();
        QVERIFY(rig.feed(D + "/status", down));
        QCOMPARE(order, QStringList({ "active" }));
        QVERIFY(!dispenser.active());
        QVERIFY(dispenser.isJammed() && dispenser.isDoorOpen() && dispenser.cardInMouth() && dispenser.cardInRfid());
        QCOMPARE(dispenser.cartridge(), QString("reserve"));
        QCOMPARE(dispenser.cartridgePercent(), 15);
    }
    QCOMPARE(log.count("[Dispenser] Active changed : false"), 3);

    // Missing readings read as false, empty and 0: the door is closed.
    log.clear();
    order.clear();
    QVERIFY(rig.feed(D + "/status", R"({"service":true,"device":{"active":true,"cartridgePercent":"15"}})"));
    QCOMPARE(order,
        QStringList(
            { "active", "isJammed", "isDoorOpen", "cardInMouth", "cardInRfid", "cartridge", "cartridgePercent" }));
    QCOMPARE(lines(),
        QStringList({ "[Dispenser] Active changed : true", "[Dispenser] Jammed changed : false",
            "[Dispenser] Door state changed : Closed" }));
    QVERIFY(!dispenser.isDoorOpen() && !dispenser.isJammed() && !dispenser.cardInMouth() && !dispenser.cardInRfid());
    QCOMPARE(dispenser.cartridge(), QString());
    QCOMPARE(dispenser.cartridgePercent(), 0);
}

void TestDispenser::cardEventsAndParsing()
{
    DeviceClientRig rig(Root);
    Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());
    QSignalSpy accepted(&dispenser, &Dispenser::cardAccepted);
    QSignalSpy removed(&dispenser, &Dispenser::cardRemoved);
    QSignalSpy disposed(&dispenser, &Dispenser::cardDisposed);
    QSignalSpy active(&dispenser, &Dispenser::activeChanged);
    LogCapture log;

    QVERIFY(rig.feed(D + "/card/inserted", "{}"));
    QVERIFY(rig.feed(D + "/card/removed", "{}"));
    QVERIFY(rig.feed(D + "/card/disposed", R"({"uid":"04000000000001"})"));
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(disposed.count(), 1);

    // An empty payload, or one cut at a NUL, counts as the object before it.
    QVERIFY(rig.feed(D + "/card/removed", ""));
    QVERIFY(rig.feed(D + "/card/inserted", QByteArray("{}\0trailing", 11)));
    QVERIFY(rig.feed(D + "/card/disposed", QByteArray("\0{", 2)));
    QCOMPARE(removed.count(), 2);
    QCOMPARE(accepted.count(), 2);
    QCOMPARE(disposed.count(), 2);
    QCOMPARE(log.texts(QtCriticalMsg), QStringList());

    // Not JSON: one line with the topic and text, and no event.
    QVERIFY(rig.feed(D + "/card/disposed", "oops"));
    QVERIFY(rig.feed(D + "/status", R"({"service":true,"device":{"active":true})"));
    QCOMPARE(log.texts(QtCriticalMsg),
        QStringList({ "[Dispenser] ERROR: Failed to parse JSON message (topic=lane/dispenser/card/disposed) :oops )",
            R"([Dispenser] ERROR: Failed to parse JSON message (topic=lane/dispenser/status) :{"service":true,"device":{"active":true} ))" }));
    QCOMPARE(disposed.count(), 2);
    QCOMPARE(active.count(), 0);

    // Replies to the client's own requests reach the handler too: parsed, then dropped.
    log.clear();
    auto issued = follow(dispenser.issue());
    QVERIFY(rig.request(D + "/issue", "1"));
    QVERIFY(rig.reply(D + "/issue", "1", "[{]"));
    QVERIFY(settles(issued));
    QCOMPARE(issued->value.code, -1);
    QCOMPARE(issued->value.description, QString("Invalid response"));
    QVERIFY(log.contains(QtCriticalMsg,
        "[Dispenser] ERROR: Failed to parse JSON message (topic=lane/dispenser/issue/response/1) :[{] )"));

    // Topics that contain the root but are none of the five, and topics without it.
    log.clear();
    const QByteArray up = R"({"service":true,"device":{"active":true}})";
    for (const QString& topic : { D + "/card/removed/1", D + "/card", D + "/status/x", "site/" + D + "/status",
             D + "/Card/removed", D + "/card/removed/response/3" }) {
        dispenser.onMqttReceived("{}", topic);
        dispenser.onMqttReceived(up, topic);
    }
    dispenser.onMqttReceived("{", "site/" + D + "/card/removed");
    for (const QString& topic : { QString("lane/Dispenser/card/removed"), QString("other/status") }) {
        dispenser.onMqttReceived("{}", topic);
        dispenser.onMqttReceived("{", topic);
    }
    QCOMPARE(log.texts(),
        QStringList(
            { "[Dispenser] ERROR: Failed to parse JSON message (topic=site/lane/dispenser/card/removed) :{ )" }));
    QCOMPARE(removed.count(), 2);
    QCOMPARE(active.count(), 0);
}

void TestDispenser::requestsAndReplies()
{
    DeviceClientRig rig(Root);
    Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());
    QSignalSpy anyEvent(&dispenser, &Dispenser::cardRemoved);

    struct Case
    {
        QString path;
        Call call;
        QByteArray reply;
        int state;
        int code;
        QString description;
    };
    const QList<Case> cases {
        { "/accept", [&] { return dispenser.accept(); }, R"({"completed":true,"data":{"code":9}})", 1, 0, "" },
        { "/issue", [&] { return dispenser.issue(); },
            R"({"completed":false,"error":{"code":3,"description":"Cartridge empty"}})", 2, 3, "Cartridge empty" },
        { "/dispose", [&] { return dispenser.dispose(); }, R"({"completed":false})", 2, 0, "" },
        { "/eject", [&] { return dispenser.eject(); }, R"({"data":{},"error":{"code":5}})", 2, 5, "" },
        { "/collect", [&] { return dispenser.collect(); }, "[]", 2, -1, "Invalid response" },
        { "/accept/enable", [&] { return dispenser.enableAccept(); }, "", 2, 0, "" },
        { "/accept/disable", [&] { return dispenser.disableAccept(); },
            R"({"completed":"true","error":{"code":"14","description":7}})", 2, 0, "" },
        { "/issue", [&] { return dispenser.issue(); }, R"({"completed":true,"error":{"code":14}})", 1, 0, "" },
        { "/issue", [&] { return dispenser.issue(); },
            R"({"completed":false,"error":{"code":14,"description":"Card already in RFID position"}})", 2, 14,
            "Card already in RFID position" },
    };
    int id = 0;
    for (const Case& c : cases) {
        const int from = rig.peer().count();
        auto out = follow(c.call());
        const QString rpcId = QString::number(++id);
        const auto payload = rig.request(D + c.path, rpcId, from);
        QVERIFY2(payload, qPrintable(c.path + " " + rpcId));
        QCOMPARE(*payload, QByteArray("{}"));
        QVERIFY(!rig.peer().at(rig.peer().waitFor(D + c.path + "/request/" + rpcId, 100, from)).retained);
        QVERIFY(rig.reply(D + c.path, rpcId, c.reply));
        QVERIFY(settles(out));
        QCOMPARE(out->state, c.state);
        QCOMPARE(out->value.code, c.code);
        QCOMPARE(out->value.description, c.description);
        QCOMPARE(out->calls, 1);
        // Nothing else went out with it.
        QCOMPARE(rig.seen(from, rig.mark()),
            QStringList({ D + c.path + "/request/" + rpcId, D + c.path + "/response/" + rpcId }));
    }
    QCOMPARE(anyEvent.count(), 0);
}

void TestDispenser::transportFailures()
{
    DeviceClientRig rig(Root);
    Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());

    dispenser.setRequestTimeout(250);
    QElapsedTimer clock;
    clock.start();
    auto late = follow(dispenser.eject());
    QVERIFY(rig.request(D + "/eject", "1"));
    QVERIFY(settles(late));
    QCOMPARE(late->state, 2);
    QCOMPARE(late->value.code, -1);
    QCOMPARE(late->value.description, QString("Timeout"));
    QVERIFY2(clock.elapsed() >= 200 && clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(rig.reply(D + "/eject", "1", R"({"completed":true})"));
    QVERIFY(rig.sync());
    QCOMPARE(late->calls, 1);

    // Without a connection: at once, with -1.
    manager::MqttClient offline;
    Dispenser unplugged(offline, "far/dispenser");
    for (const Call& call : QList<Call> { [&] { return unplugged.accept(); }, [&] { return unplugged.issue(); },
             [&] { return unplugged.dispose(); }, [&] { return unplugged.eject(); },
             [&] { return unplugged.collect(); }, [&] { return unplugged.enableAccept(); },
             [&] { return unplugged.disableAccept(); }, [&] { return unplugged.waitCollect(5); } }) {
        auto out = follow(call());
        QCOMPARE(out->state, 2);
        QCOMPARE(out->value.code, -1);
        QCOMPARE(out->value.description, QString("Not connected"));
    }
    QVERIFY(!unplugged.setLEDs(1));

    QSignalSpy down(&rig.client, &manager::MqttClient::disconnected);
    rig.broker.kill();
    QVERIFY(down.wait(5000));
    auto lost = follow(dispenser.issue());
    QCOMPARE(lost->state, 2);
    QCOMPARE(lost->value.description, QString("Not connected"));
}

void TestDispenser::waitCollect()
{
    DeviceClientRig rig(Root);
    Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());
    QSignalSpy removed(&dispenser, &Dispenser::cardRemoved);

    // Resolved by the removal, which the regular handler also sees.
    auto taken = follow(dispenser.waitCollect(5));
    QCOMPARE(waitIntervals(rig.client), QList<int>({ 5000 }));
    QVERIFY(rig.mark() >= 0);
    QCOMPARE(taken->state, 0);
    QVERIFY(rig.feed(D + "/card/removed", ""));
    QVERIFY(settles(taken));
    QCOMPARE(taken->state, 1);
    QCOMPARE(taken->value.code, 0);
    QCOMPARE(taken->value.description, QString());
    QCOMPARE(removed.count(), 1);

    // The regular subscription outlives the wait: every later removal is seen.
    QVERIFY(rig.mark() >= 0); // any unsubscription of the wait has reached the broker
    QVERIFY(rig.feed(D + "/card/removed", "{}"));
    QCOMPARE(removed.count(), 2);

    // Not collected in time.
    QElapsedTimer clock;
    clock.start();
    auto missed = follow(dispenser.waitCollect(1));
    QVERIFY(settles(missed, 5000));
    QCOMPARE(missed->state, 2);
    QCOMPARE(missed->value.code, -1);
    QCOMPARE(missed->value.description, QString("Timeout"));
    QVERIFY2(clock.elapsed() >= 950, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(removed.count(), 2);
    QVERIFY(rig.mark() >= 0);
    QVERIFY(rig.feed(D + "/card/removed", "{}"));
    QCOMPARE(removed.count(), 3);
    QCOMPARE(missed->calls, 1);

    // Also across a broker restart.
    QSignalSpy reconnected(&rig.client, &manager::MqttClient::connected);
    rig.broker.stop();
    QVERIFY(rig.broker.start());
    QVERIFY(reconnected.wait(10000));
    QVERIFY(rig.renewPeer());
    QVERIFY(rig.sync());
    QVERIFY(rig.feed(D + "/card/removed", "{}"));
    QCOMPARE(removed.count(), 4);
}

void TestDispenser::collectTimeoutBounds()
{
    DeviceClientRig rig(Root);
    Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());
    LogCapture log;

    // 0 or less would wait for ever: 60 s with a warning. A large value must not overflow.
    auto zero = follow(dispenser.waitCollect(0));
    auto negative = follow(dispenser.waitCollect(-7));
    auto huge = follow(dispenser.waitCollect(std::numeric_limits<int>::max()));
    auto large = follow(dispenser.waitCollect(2147484));
    QCOMPARE(log.texts(QtWarningMsg),
        QStringList({ "[Dispenser] WARN: Invalid collect timeout 0 sec. Using 60 sec",
            "[Dispenser] WARN: Invalid collect timeout -7 sec. Using 60 sec" }));
    const int most = std::numeric_limits<int>::max();
    QCOMPARE(waitIntervals(rig.client), QList<int>({ 60000, 60000, most, most }));
    QCOMPARE(zero->state + negative->state + huge->state + large->state, 0);

    QVERIFY(rig.mark() >= 0);
    QVERIFY(rig.feed(D + "/card/removed", "{}"));
    for (const auto& out : { zero, negative, huge, large }) {
        QVERIFY(settles(out));
        QCOMPARE(out->state, 1);
    }
    QCOMPARE(waitIntervals(rig.client), QList<int>());
}

void TestDispenser::leds()
{
    DeviceClientRig rig(Root);
    Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());

    const QList<QPair<quint8, QPair<bool, bool>>> masks { { 0, { false, false } }, { 1, { true, false } },
        { 2, { false, true } }, { 3, { true, true } }, { 0xFC, { false, false } }, { 0xFD, { true, false } } };
    for (const auto& mask : masks) {
        const int from = rig.peer().count();
        QVERIFY(dispenser.setLEDs(mask.first));
        const int index = rig.peer().waitFor(D + "/led/set", 5000, from);
        QVERIFY(index >= 0);
        const MqttProbe::Message message = rig.peer().at(index);
        QVERIFY(!message.retained);
        const QJsonObject expected { { "red", mask.second.first }, { "green", mask.second.second } };
        QCOMPARE(message.payload, QJsonDocument(expected).toJson(QJsonDocument::Indented));
        QVERIFY(message.payload.contains('\n'));
    }
}

void TestDispenser::roadWithSimulator()
{
    DeviceClientRig rig(QStringLiteral("zent"));
    Dispenser dispenser(rig.client, QStringLiteral("zent/dispenser"));
    QVERIFY(rig.up());
    DeviceSimulator sim(rig.broker.port(), { "--cards", "3", "--model", "DS-TEST" });
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    QSignalSpy removed(&dispenser, &Dispenser::cardRemoved);
    QSignalSpy disposed(&dispenser, &Dispenser::cardDisposed);
    QSignalSpy accepted(&dispenser, &Dispenser::cardAccepted);
    const auto run = [](const Deferred<Dispenser::Result>& d) {
        auto out = follow(d);
        settles(out);
        return out;
    };

    QTRY_COMPARE(dispenser.model(), QString("DS-TEST"));
    QTRY_VERIFY(dispenser.active());
    QVERIFY(!dispenser.cartridge().isEmpty());

    QCOMPARE(run(dispenser.issue())->state, 1);
    QTRY_VERIFY(dispenser.cardInRfid());
    // A second card cannot go onto the occupied reader position.
    auto again = run(dispenser.issue());
    QCOMPARE(again->state, 2);
    QCOMPARE(again->value.code, 14);
    QVERIFY(!again->value.description.isEmpty());

    QCOMPARE(run(dispenser.eject())->state, 1);
    QTRY_VERIFY(dispenser.cardInMouth());
    QVERIFY(!dispenser.cardInRfid());
    auto collected = follow(dispenser.waitCollect(10));
    QVERIFY(rig.mark() >= 0);
    QVERIFY(sim.take());
    QVERIFY(settles(collected));
    QCOMPARE(collected->state, 1);
    QTRY_COMPARE(removed.count(), 1);
    QTRY_VERIFY(!dispenser.cardInMouth());

    // A card left in the mouth is taken back, then put into the bin.
    QCOMPARE(run(dispenser.issue())->state, 1);
    QCOMPARE(run(dispenser.eject())->state, 1);
    QCOMPARE(run(dispenser.accept())->state, 1);
    QTRY_COMPARE(accepted.count(), 1);
    QCOMPARE(run(dispenser.dispose())->state, 1);
    QTRY_COMPARE(disposed.count(), 1);

    // Faults of the device.
    QVERIFY(sim.setDispenser({ { "jammed", true } }));
    QTRY_VERIFY(dispenser.isJammed());
    auto jammed = run(dispenser.issue());
    QCOMPARE(jammed->value.code, 1);
    QVERIFY(sim.setDispenser({ { "jammed", false }, { "doorOpen", true } }));
    QTRY_VERIFY(dispenser.isDoorOpen());
    QVERIFY(!dispenser.isJammed());
    QCOMPARE(run(dispenser.issue())->value.code, 2);

    QCOMPARE(sim.journalLines(),
        QStringList({ "dispenser /issue 1", "dispenser /issue 2", "dispenser /eject 3", "dispenser /issue 4",
            "dispenser /eject 5", "dispenser /accept 6", "dispenser /dispose 7", "dispenser /issue 8",
            "dispenser /issue 9" }));

    sim.kill();
    QTRY_VERIFY(!dispenser.active());
    QVERIFY(dispenser.isDoorOpen());
}

QTEST_GUILESS_MAIN(TestDispenser)
#include "tst_Dispenser.moc"

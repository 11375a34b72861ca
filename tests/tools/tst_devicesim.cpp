// The device simulator program over a real broker, driven with raw MQTT as
// the terminal and the tests would drive it.

#include "DeviceSimulator.h"
#include "KSTVv1Card.h"
#include "MosquittoBroker.h"
#include "MqttProbe.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

const QString Rfid = QStringLiteral("zent/rfid");
const QString Dispenser = QStringLiteral("zent/dispenser");

QJsonObject parse(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

QJsonObject retainedJson(const QList<MqttProbe::Message>& messages, const QString& topic)
{
    for (const MqttProbe::Message& m : messages) {
        if (m.topic == topic)
            return m.json();
    }
    return {};
}

// A broker, the simulator on it, and a raw MQTT peer in the terminal's place.
struct Rig
{
    MosquittoBroker broker;
    std::unique_ptr<DeviceSimulator> sim;
    MqttProbe peer;

    bool up(const QStringList& args = {})
    {
        if (!broker.start())
            return false;
        sim = std::make_unique<DeviceSimulator>(broker.port(), args);
        if (!sim->start()) {
            qWarning().noquote() << sim->lastError();
            return false;
        }
        return peer.connectTo(broker.host(), broker.port()) && peer.subscribe(QStringLiteral("zent/#"));
    }

    // Sends one request; returns the index from which its reply and effects are to be looked for.
    int send(const QString& root, const QString& path, const QString& id, const QByteArray& payload)
    {
        const int from = peer.count();
        peer.publish(root + path + QStringLiteral("/request/") + id, payload);
        return from;
    }

    // Sends a request and returns the index of its reply (-1 when none came within timeoutMs).
    int request(const QString& root, const QString& path, const QString& id, const QJsonObject& params = {},
        int timeoutMs = 5000, int* from = nullptr)
    {
        const int start = send(root, path, id, QJsonDocument(params).toJson(QJsonDocument::Compact));
        if (from)
            *from = start;
        return peer.waitFor(root + path + QStringLiteral("/response/") + id, timeoutMs, start);
    }

    QJsonObject reply(const QString& root, const QString& path, const QString& id, const QJsonObject& params = {})
    {
        return peer.at(request(root, path, id, params)).json();
    }

    bool completed(const QString& root, const QString& path, const QString& id, const QJsonObject& params = {})
    {
        return reply(root, path, id, params).value("completed").toBool();
    }

    // Index of the first live status on root at or after from whose device object matches all of fields.
    int status(const QString& root, const QJsonObject& fields, int from, int timeoutMs = 5000)
    {
        return peer.waitFor(
            root + QStringLiteral("/status"),
            [fields](const MqttProbe::Message& m) {
                const QJsonObject device = m.json().value("device").toObject();
                for (auto it = fields.begin(); it != fields.end(); ++it) {
                    if (device.value(it.key()) != it.value())
                        return false;
                }
                return m.json().value("service").toBool();
            },
            timeoutMs, from);
    }

    // The retained messages a newcomer gets under zent/: everything before a marker of its own.
    QList<MqttProbe::Message> retained()
    {
        MqttProbe newcomer;
        if (!newcomer.connectTo(broker.host(), broker.port()) || !newcomer.subscribe(QStringLiteral("zent/#")))
            return {};
        newcomer.publish(QStringLiteral("zent/marker"), "x");
        return newcomer.messages().mid(0, qMax(0, newcomer.waitFor(QStringLiteral("zent/marker"))));
    }

    QJsonObject cards() { return sim->state().value("cards").toObject(); }
};

} // namespace

class TestDeviceSimulator : public QObject
{
    Q_OBJECT

private slots:
    void happyPathIssueFindCreateWriteEjectTake();
    void readerFollowsTheCard();
    void dispenserMovesCards();
    void plannedFaults();
    void deviceConditions();
    void willOnKillAndGoodbyeOnStop();
    void survivesBrokerRestart();
    void rejectsBadCommandLineAndControl();
};

void TestDeviceSimulator::happyPathIssueFindCreateWriteEjectTake()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "3", "--detect-delay-ms", "150" }));

    // Identity and status are retained; the cartridge is full.
    const QList<MqttProbe::Message> retained = rig.retained();
    QCOMPARE(retained.size(), 4);
    QCOMPARE(retainedJson(retained, Rfid + "/status"), parse(R"({"service":true,"device":{"state":1,"error":null}})"));
    QCOMPARE(retainedJson(retained, Dispenser + "/status"),
        parse(R"({"service":true,"device":{"active":true,"isJammed":false,"isCartridgeDoorOpen":false,
                  "cardInMouth":false,"cardInRfid":false,"cartridge":"full","cartridgePercent":100}})"));

    // Issue: the card reaches the reader position; the status says so before the reply.
    int from = 0;
    int reply = rig.request(Dispenser, "/issue", "1", {}, 5000, &from);
    QCOMPARE(rig.peer.at(reply).json(), parse(R"({"completed":true,"data":{}})"));
    int status = rig.status(Dispenser, { { "cardInRfid", true }, { "cartridgePercent", 66 } }, from);
    QVERIFY(status >= 0 && status < reply);

    // Enable: Searching before the reply, the card found only after it, and not before the detect delay.
    reply = rig.request(Rfid, "/enable", "1", { { "autoread", false } }, 5000, &from);
    QElapsedTimer sinceReply;
    sinceReply.start();
    QCOMPARE(rig.peer.at(reply).json().value("completed").toBool(), true);
    status = rig.status(Rfid, { { "state", 2 } }, from);
    QVERIFY(status >= 0 && status < reply);
    const int found = rig.peer.waitFor(Rfid + "/card/found", 5000, from);
    QVERIFY(found > reply);
    QVERIFY2(sinceReply.elapsed() >= 100, qPrintable(QString::number(sinceReply.elapsed())));
    QCOMPARE(rig.peer.at(found).json(), parse(R"({"uid":"04000000000001","type":4})"));
    QVERIFY(rig.status(Rfid, { { "state", 3 } }, found) > found);

    // Create: a blank record of the layout on the physical card.
    QCOMPARE(rig.reply(Rfid, "/card/create", "2", { { "template", "KSTVv1" } }),
        parse(R"({"completed":true,"data":{"uid":"04000000000001","type":4,"template":"KSTVv1",
                  "data":{"info":{"version":0,"customsId":0,"status":"available"},"usageCounter":0,"usageLog":[]}}})"));

    // Write the lane's record, which carries no uid: the reply names the physical card.
    KSTVv1Card record;
    record.setCustomsId(321);
    const QJsonObject writeParams { { "uid", record.uid() }, { "type", static_cast<int>(record.type()) },
        { "template", record.name() }, { "data", record.data() } };
    const QJsonObject written = rig.reply(Rfid, "/card/write", "3", writeParams);
    QSharedPointer<KSTVv1Card> fromReply = KSTVv1Card::fromJson(written.value("data").toObject());
    QCOMPARE(fromReply->uid(), QStringLiteral("04000000000001"));
    QCOMPARE(fromReply->type(), Tag::MifareClassic1K);
    QCOMPARE(fromReply->customsId(), 321);

    // Disable: Idle before the reply. Eject: in the mouth before the reply.
    reply = rig.request(Rfid, "/disable", "4", {}, 5000, &from);
    status = rig.status(Rfid, { { "state", 1 } }, from);
    QVERIFY(reply >= 0 && status >= 0 && status < reply);
    reply = rig.request(Dispenser, "/eject", "2", {}, 5000, &from);
    status = rig.status(Dispenser, { { "cardInMouth", true }, { "cardInRfid", false } }, from);
    QVERIFY(reply >= 0 && status >= 0 && status < reply);

    // The driver takes it: status, then the removal event.
    from = rig.peer.count();
    QVERIFY(rig.sim->take());
    const int removed = rig.peer.waitFor(Dispenser + "/card/removed", 5000, from);
    status = rig.status(Dispenser, { { "cardInMouth", false } }, from);
    QVERIFY(removed >= 0 && status >= 0 && status < removed);

    // The journal holds exactly the requests, in order, with what they carried.
    QVERIFY(rig.sim->waitForRequest("rfid /card/write 3"));
    QCOMPARE(rig.sim->journalLines(),
        (QStringList { "dispenser /issue 1", "rfid /enable 1", "rfid /card/create 2", "rfid /card/write 3",
            "rfid /disable 4", "dispenser /eject 2" }));
    QCOMPARE(rig.sim->journal().at(3).toObject().value("payload").toObject(), writeParams);
    QCOMPARE(rig.cards().value("cartridge").toArray().size(), 2);
    QCOMPARE(rig.cards().value("taken").toArray().at(0).toObject().value("uid"), QJsonValue("04000000000001"));

    // Events and replies are never retained.
    QStringList topics;
    for (const MqttProbe::Message& m : rig.retained())
        topics << m.topic;
    topics.sort();
    QCOMPARE(topics, (QStringList { Dispenser + "/info", Dispenser + "/status", Rfid + "/info", Rfid + "/status" }));
    QVERIFY(rig.sim->clearJournal());
    rig.peer.publish(Rfid + "/beep/valid", QByteArray());
    QVERIFY(rig.sim->waitForRequest("rfid /beep/valid"));
    QCOMPARE(rig.sim->journalLines(), QStringList { "rfid /beep/valid" });
}

void TestDeviceSimulator::readerFollowsTheCard()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "2", "--detect-delay-ms", "0" }));
    QCOMPARE(rig.reply(Rfid, "/card/create", "1", { { "template", "KSTVv1" } }),
        parse(R"({"completed":false,"error":{"what":"No card"}})"));

    QVERIFY(rig.completed(Dispenser, "/issue", "1"));
    int from = rig.peer.count();
    // Autoread on a blank card reports that it cannot be read.
    QVERIFY(rig.completed(Rfid, "/enable", "2", { { "autoread", true } }));
    int autoread = rig.peer.waitFor(Rfid + "/card/autoread", 5000, from);
    QCOMPARE(rig.peer.at(autoread).json(), parse(R"({"error":{"what":"Card is not formatted"}})"));
    QCOMPARE(rig.reply(Rfid, "/card/read", "3", { { "template", "KSTVv1" } }),
        parse(R"({"completed":false,"error":{"what":"Card is not formatted"}})"));
    QVERIFY(rig.completed(Rfid, "/card/create", "4", { { "template", "KSTVv1" } }));
    QCOMPARE(
        rig.reply(Rfid, "/card/write", "5", { { "uid", "0499" }, { "template", "KSTVv1" }, { "data", QJsonObject() } }),
        parse(R"({"completed":false,"error":{"what":"Card uid mismatch"}})"));

    // A read returns the latest usage entries only.
    const QJsonArray log { QJsonObject { { "type", "use-1" } }, QJsonObject { { "type", "use-2" } } };
    QVERIFY(rig.completed(Rfid, "/card/write", "6",
        { { "uid", "04000000000001" }, { "template", "KSTVv1" },
            { "data", QJsonObject { { "usageCounter", 2 }, { "usageLog", log } } } }));
    const QJsonObject read = rig.reply(Rfid, "/card/read", "7", { { "template", "KSTVv1" }, { "usageLogs", 1 } });
    QCOMPARE(read.value("data").toObject().value("data").toObject().value("usageLog").toArray(), QJsonArray { log[1] });

    // Enabling again searches anew: found, then the written card autoread.
    from = rig.peer.count();
    QVERIFY(rig.completed(Rfid, "/enable", "8", { { "autoread", true } }));
    autoread = rig.peer.waitFor(Rfid + "/card/autoread", 5000, from);
    QCOMPARE(rig.peer.at(autoread).json().value("template").toString(), QStringLiteral("KSTVv1"));
    QVERIFY(rig.peer.waitFor(Rfid + "/card/found", 5000, from) < autoread);

    // The card leaves the enabled reader: card/removed and back to Searching.
    from = rig.peer.count();
    QVERIFY(rig.completed(Dispenser, "/eject", "2"));
    const int removed = rig.peer.waitFor(Rfid + "/card/removed", 5000, from);
    QCOMPARE(rig.peer.at(removed).json(), parse(R"({"uid":"04000000000001"})"));
    QVERIFY(rig.status(Rfid, { { "state", 2 } }, removed) > removed);

    // Bad requests get an error reply; an empty payload is no parameters.
    int reply = rig.peer.waitFor(Rfid + "/enable/response/9", 5000, rig.send(Rfid, "/enable", "9", "{broken"));
    QCOMPARE(rig.peer.at(reply).json(), parse(R"({"completed":false,"error":{"what":"Invalid request"}})"));
    QCOMPARE(rig.reply(Rfid, "/format", "10").value("error").toObject().value("what").toString(),
        QStringLiteral("Unknown request /format"));
    reply = rig.peer.waitFor(Rfid + "/disable/response/11", 5000, rig.send(Rfid, "/disable", "11", QByteArray()));
    QCOMPARE(rig.peer.at(reply).json().value("completed").toBool(), true);
}

void TestDeviceSimulator::dispenserMovesCards()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "2", "--detect-delay-ms", "0" }));
    QCOMPARE(rig.reply(Dispenser, "/eject", "1"),
        parse(R"({"completed":false,"error":{"code":4,"description":"No card in RFID position"}})"));
    QVERIFY(rig.completed(Dispenser, "/issue", "3"));
    QCOMPARE(rig.reply(Dispenser, "/issue", "4"),
        parse(R"({"completed":false,"error":{"code":14,"description":"Card already in RFID position"}})"));
    QVERIFY(rig.completed(Dispenser, "/eject", "5"));

    // Accept takes the card from the mouth back onto the reader position; status and event before the reply.
    int from = 0;
    int reply = rig.request(Dispenser, "/accept", "6", {}, 5000, &from);
    const int inserted = rig.peer.waitFor(Dispenser + "/card/inserted", 5000, from);
    QVERIFY(inserted >= 0 && inserted < reply);
    QVERIFY(rig.status(Dispenser, { { "cardInRfid", true }, { "cardInMouth", false } }, from) < inserted);
    // Dispose: into the bin, likewise.
    reply = rig.request(Dispenser, "/dispose", "7", {}, 5000, &from);
    const int disposed = rig.peer.waitFor(Dispenser + "/card/disposed", 5000, from);
    QVERIFY(disposed >= 0 && disposed < reply);
    QVERIFY(rig.status(Dispenser, { { "cardInRfid", false } }, from) < disposed);

    // The last card: auto-taken after the configured time, without a take command.
    QVERIFY(rig.sim->setAutoTake(300));
    QVERIFY(rig.completed(Dispenser, "/issue", "9"));
    QElapsedTimer sinceEject;
    sinceEject.start();
    from = rig.peer.count();
    QVERIFY(rig.completed(Dispenser, "/eject", "10"));
    QVERIFY(rig.peer.waitFor(Dispenser + "/card/removed", 5000, from) >= 0);
    QVERIFY2(sinceEject.elapsed() >= 250, qPrintable(QString::number(sinceEject.elapsed())));
    QVERIFY(rig.sim->setAutoTake(-1));
    QCOMPARE(rig.reply(Dispenser, "/issue", "11"),
        parse(R"({"completed":false,"error":{"code":3,"description":"Cartridge empty"}})"));
    QVERIFY(rig.status(Dispenser, { { "cartridge", "empty" }, { "cartridgePercent", 0 } }, 0) >= 0);

    // A card pushed into the mouth: drawn in only while accepting is enabled; collect bins it.
    QVERIFY(rig.sim->control("insert", { { "uid", "FOREIGN-1" } }));
    QVERIFY(rig.completed(Dispenser, "/collect", "12"));
    QVERIFY(rig.completed(Dispenser, "/accept/enable", "13"));
    from = rig.peer.count();
    QVERIFY(rig.sim->control("insert", { { "uid", "FOREIGN-2" } }));
    QVERIFY(rig.peer.waitFor(Dispenser + "/card/inserted", 5000, from) >= 0);
    QCOMPARE(rig.cards().value("reader").toObject().value("uid").toString(), QStringLiteral("FOREIGN-2"));
    QStringList binned;
    for (const QJsonValue& card : rig.cards().value("bin").toArray())
        binned << card.toObject().value("uid").toString();
    QCOMPARE(binned, (QStringList { "04000000000001", "FOREIGN-1" }));

    rig.peer.publish(Dispenser + "/led/set", R"({"red": true, "green": false})");
    QTRY_COMPARE(rig.sim->state().value("dispenser").toObject().value("leds").toObject(),
        parse(R"({"red":true,"green":false})"));
}

void TestDeviceSimulator::plannedFaults()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "5", "--detect-delay-ms", "0" }));

    // Refuse once with a code: nothing moves; the next request is served.
    QVERIFY(rig.sim->setFault(
        "dispenser/issue", { { "mode", "refuse" }, { "code", 14 }, { "text", "Busy" }, { "times", 1 } }));
    QCOMPARE(
        rig.reply(Dispenser, "/issue", "1"), parse(R"({"completed":false,"error":{"code":14,"description":"Busy"}})"));
    QCOMPARE(rig.cards().value("cartridge").toArray().size(), 5);
    QVERIFY(rig.completed(Dispenser, "/issue", "2"));

    // Refuse with a text, on the reader, until cleared.
    QVERIFY(rig.sim->setFault("rfid/enable", { { "mode", "refuse" }, { "text", "Antenna fault" } }));
    QCOMPARE(rig.reply(Rfid, "/enable", "1"), parse(R"({"completed":false,"error":{"what":"Antenna fault"}})"));
    QVERIFY(!rig.completed(Rfid, "/enable", "2"));
    QVERIFY(rig.sim->clearFaults());

    // Delay: the reply comes late, with the status change still before it.
    QVERIFY(rig.sim->setFault("rfid/enable", { { "mode", "delay" }, { "ms", 400 }, { "times", 1 } }));
    QElapsedTimer timer;
    timer.start();
    int from = 0;
    int reply = rig.request(Rfid, "/enable", "3", {}, 5000, &from);
    QVERIFY2(reply >= 0 && timer.elapsed() >= 350, qPrintable(QString::number(timer.elapsed())));
    const int searching = rig.status(Rfid, { { "state", 2 } }, from);
    QVERIFY(searching >= 0 && searching < reply);

    // No reply at all and nothing happens; or the work is done and only the reply is lost.
    QVERIFY(rig.sim->setFault("dispenser/eject", { { "mode", "noreply" }, { "times", 1 } }));
    QCOMPARE(rig.request(Dispenser, "/eject", "3", {}, 600), -1);
    QVERIFY(!rig.cards().value("reader").isNull());
    QVERIFY(rig.sim->setFault("dispenser/eject", { { "mode", "noreply" }, { "act", true }, { "times", 1 } }));
    QCOMPARE(rig.request(Dispenser, "/eject", "4", {}, 600, &from), -1);
    QVERIFY(rig.status(Dispenser, { { "cardInMouth", true } }, from) >= 0);
    QVERIFY(rig.sim->journalLines().contains("dispenser /eject 3"));

    // Broken replies, none of which act.
    const QList<QPair<QJsonObject, QByteArray>> broken { { { { "mode", "array" } }, "[]" },
        { { { "mode", "empty" } }, "" }, { { { "mode", "raw" }, { "raw", "true" } }, "true" } };
    for (int i = 0; i < broken.size(); ++i) {
        QJsonObject fault = broken[i].first;
        fault["times"] = 1;
        QVERIFY(rig.sim->setFault("dispenser/accept", fault));
        reply = rig.request(Dispenser, "/accept", QString::number(5 + i));
        QVERIFY(reply >= 0);
        QCOMPARE(rig.peer.at(reply).payload, broken[i].second);
    }
    QVERIFY(!rig.cards().value("mouth").isNull());
    QVERIFY(!rig.sim->setFault("rfid/enable", { { "mode", "explode" } }));
    QCOMPARE(rig.sim->lastError(), QStringLiteral("unknown fault mode \"explode\""));
}

void TestDeviceSimulator::deviceConditions()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "5", "--detect-delay-ms", "50" }));
    QVERIFY(rig.completed(Dispenser, "/issue", "1"));

    // A deaf reader never reports the card; once it hears again, it does.
    QVERIFY(rig.sim->setReader({ { "deaf", true } }));
    int from = rig.peer.count();
    QVERIFY(rig.completed(Rfid, "/enable", "1"));
    QCOMPARE(rig.peer.waitFor(Rfid + "/card/found", 500, from), -1);
    QVERIFY(rig.sim->setReader({ { "deaf", false } }));
    QVERIFY(rig.peer.waitFor(Rfid + "/card/found", 5000, from) >= 0);

    // Updating: state 4, requests refused; error: state 5 with its text; ok again: Idle.
    from = rig.peer.count();
    QVERIFY(rig.sim->setReader({ { "state", "updating" } }));
    QVERIFY(rig.status(Rfid, { { "state", 4 } }, from) >= 0);
    QCOMPARE(rig.reply(Rfid, "/enable", "2"), parse(R"({"completed":false,"error":{"what":"Reader is updating"}})"));
    QVERIFY(rig.sim->setReader({ { "state", "error" }, { "error", "Antenna broken" } }));
    QVERIFY(rig.status(Rfid, { { "state", 5 }, { "error", "Antenna broken" } }, from) >= 0);
    QCOMPARE(rig.reply(Rfid, "/disable", "3"), parse(R"({"completed":false,"error":{"what":"Antenna broken"}})"));
    QVERIFY(rig.sim->setReader({ { "state", "ok" } }));
    QVERIFY(rig.status(Rfid, { { "state", 1 }, { "error", QJsonValue::Null } }, from) >= 0);

    // Jam, open door, inactive: each in the status and each refusing.
    from = rig.peer.count();
    QVERIFY(rig.sim->setDispenser({ { "jammed", true } }));
    QVERIFY(rig.status(Dispenser, { { "isJammed", true } }, from) >= 0);
    QCOMPARE(rig.reply(Dispenser, "/eject", "2"),
        parse(R"({"completed":false,"error":{"code":1,"description":"Dispenser jammed"}})"));
    QVERIFY(rig.sim->setDispenser({ { "jammed", false }, { "doorOpen", true } }));
    QVERIFY(rig.status(Dispenser, { { "isJammed", false }, { "isCartridgeDoorOpen", true } }, from) >= 0);
    QVERIFY(rig.completed(Dispenser, "/dispose", "3"));
    QCOMPARE(rig.reply(Dispenser, "/issue", "4"),
        parse(R"({"completed":false,"error":{"code":2,"description":"Cartridge door open"}})"));
    QVERIFY(rig.sim->setDispenser({ { "doorOpen", false }, { "active", false } }));
    QVERIFY(rig.status(Dispenser, { { "active", false }, { "isCartridgeDoorOpen", false } }, from) >= 0);
    QCOMPARE(rig.reply(Dispenser, "/issue", "5").value("error").toObject().value("code").toInt(), 7);
    QVERIFY(rig.sim->setDispenser({ { "active", true } }));

    // Offline: the status says so (retained), requests are journaled but unanswered, events are not published.
    QVERIFY(rig.completed(Dispenser, "/issue", "6"));
    QVERIFY(rig.completed(Dispenser, "/eject", "7"));
    QVERIFY(rig.sim->setDispenser({ { "offline", true } }));
    QCOMPARE(retainedJson(rig.retained(), Dispenser + "/status"), parse(R"({"service":false})"));
    QCOMPARE(rig.request(Dispenser, "/accept", "8", {}, 500), -1);
    from = rig.peer.count();
    QVERIFY(rig.sim->take());
    QCOMPARE(rig.peer.waitFor(Dispenser + "/card/removed", 300, from), -1);
    QVERIFY(rig.sim->setDispenser({ { "offline", false } }));
    QVERIFY(rig.status(Dispenser, { { "cardInMouth", false } }, from) >= 0);
    QCOMPARE(rig.sim->journalLines().last(), QStringLiteral("dispenser /accept 8"));
}

void TestDeviceSimulator::willOnKillAndGoodbyeOnStop()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "1" }));
    const auto statuses = [&rig] {
        const QList<MqttProbe::Message> retained = rig.retained();
        return QJsonArray { retainedJson(retained, Rfid + "/status"), retainedJson(retained, Dispenser + "/status") };
    };
    const QJsonArray gone { parse(R"({"service":false})"), parse(R"({"service":false})") };
    rig.sim->kill();
    QTRY_COMPARE(statuses(), gone);

    // The same fixture starts it again; a clean stop says goodbye on both status topics.
    QVERIFY2(rig.sim->start(), qPrintable(rig.sim->lastError()));
    const QJsonArray live = statuses();
    QVERIFY(live.at(0)["service"].toBool() && live.at(1)["service"].toBool());
    rig.sim->stop();
    QVERIFY(!rig.sim->isRunning());
    QCOMPARE(statuses(), gone);
    QVERIFY2(rig.sim->output().contains("[devicesim] Stopping"), qPrintable(rig.sim->output()));
    QVERIFY2(!rig.sim->output().contains("Sanitizer"), qPrintable(rig.sim->output())); // sanitizer build: clean exit
}

void TestDeviceSimulator::survivesBrokerRestart()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "2", "--detect-delay-ms", "0" }));
    QVERIFY(rig.completed(Dispenser, "/issue", "1"));
    QVERIFY(rig.completed(Dispenser, "/eject", "2"));

    // The broker forgets everything; the simulator reconnects and publishes identity and status again.
    rig.broker.stop();
    QVERIFY(rig.broker.start());
    QTRY_VERIFY_WITH_TIMEOUT(
        retainedJson(rig.retained(), Dispenser + "/status").value("device").toObject().value("cardInMouth").toBool(),
        10000);
    QTRY_VERIFY_WITH_TIMEOUT(!retainedJson(rig.retained(), Rfid + "/info").isEmpty(), 10000);

    // The card is still in the mouth; taking it is seen by a peer on the new broker.
    MqttProbe peer;
    QVERIFY(peer.connectTo(rig.broker.host(), rig.broker.port()));
    QVERIFY(peer.subscribe(Dispenser + "/card/removed"));
    // Links may still be reconnecting; the condition must not take twice when re-evaluated.
    bool taken = false;
    QTRY_VERIFY_WITH_TIMEOUT(taken || (taken = rig.sim->take()), 10000);
    QVERIFY(peer.waitFor(Dispenser + "/card/removed") >= 0);
    QCOMPARE(rig.sim->journalLines(), (QStringList { "dispenser /issue 1", "dispenser /eject 2" }));
}

void TestDeviceSimulator::rejectsBadCommandLineAndControl()
{
    const QList<QPair<QStringList, QString>> badArgs {
        { { "--port", "1", "--control-root", "zent/rfid/sim" }, "topic root \"zent/rfid/sim\" contains \"zent/rfid\"" },
        { { "--port", "many" }, "--port needs a number" },
        { { "--port", "1", "--rfid-root", "zent/#" }, "invalid topic root \"zent/#\"" },
    };
    for (const auto& bad : badArgs) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(DeviceSimulator::programPath(), bad.first);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        const QString output = QString::fromUtf8(process.readAll());
        QVERIFY2(output.contains(bad.second), qPrintable(output));
    }

    // Other roots are honoured.
    Rig rig;
    QVERIFY(rig.up({ "--rfid-root", "site/reader", "--dispenser-root", "site/dispenser", "--cards", "1" }));
    QVERIFY(rig.peer.subscribe("site/#"));
    QVERIFY(rig.completed("site/dispenser", "/issue", "1"));

    QVERIFY(!rig.sim->control("explode"));
    QCOMPARE(rig.sim->lastError(), QStringLiteral("unknown command \"explode\""));
    const QString control = rig.sim->controlRoot();
    QVERIFY(rig.peer.subscribe(control + "/take/response/x"));
    const int reply = rig.peer.waitFor(control + "/take/response/x", 5000, rig.send(control, "/take", "x", "{nope"));
    QCOMPARE(rig.peer.at(reply).json(),
        parse(R"({"completed":false,"error":{"what":"control payload is not a JSON object"}})"));
    QVERIFY(rig.sim->control("insert"));
    QVERIFY(!rig.sim->control("insert"));
    QCOMPARE(rig.sim->lastError(), QStringLiteral("the mouth is occupied"));
    QVERIFY(rig.sim->isRunning());
}

QTEST_GUILESS_MAIN(TestDeviceSimulator)
#include "tst_devicesim.moc"

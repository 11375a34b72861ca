// The device simulator program over a real broker, driven with raw MQTT as
// the terminal and the tests would drive it.

#include "DeviceSimulator.h"
#include "KSTVv1Card.h"
#include "MosquittoBroker.h"
#include "MqttProbe.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QTest>

#include <memory>

namespace {

const QString Rfid = QStringLiteral("zent/rfid");
const QString Dispenser = QStringLiteral("zent/dispenser");

QJsonObject parse(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
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
        return sim->start() && peer.connectTo(broker.host(), broker.port()) && peer.subscribe("zent/#");
    }

    // Sends one request; returns the index from which its reply and effects are to be looked for.
    int send(const QString& root, const QString& path, const QString& id, const QByteArray& payload)
    {
        const int from = peer.count();
        peer.publish(root + path + "/request/" + id, payload);
        return from;
    }

    // Sends a request and returns the index of its reply (-1 when none came within timeoutMs).
    int request(const QString& root, const QString& path, const QString& id, const QJsonObject& params = {},
        int timeoutMs = 5000, int* from = nullptr)
    {
        const int start = send(root, path, id, QJsonDocument(params).toJson(QJsonDocument::Compact));
        if (from)
            *from = start;
        return peer.waitFor(root + path + "/response/" + id, timeoutMs, start);
    }

    QJsonObject reply(const QString& root, const QString& path, const QString& id, const QJsonObject& params = {})
    {
        return peer.at(request(root, path, id, params)).json();
    }

    bool completed(const QString& root, const QString& path, const QString& id, const QJsonObject& params = {})
    {
        return reply(root, path, id, params).value("completed").toBool();
    }

    // Index of the first live status on root at or after from whose device object has all of fields.
    int status(const QString& root, const QJsonObject& fields, int from, int timeoutMs = 5000)
    {
        const auto matches = [fields](const MqttProbe::Message& m) {
            const QJsonObject device = m.json().value("device").toObject();
            for (auto it = fields.begin(); it != fields.end(); ++it) {
                if (device.value(it.key()) != it.value())
                    return false;
            }
            return m.json().value("service").toBool();
        };
        return peer.waitFor(root + "/status", matches, timeoutMs, from);
    }

    // True when the request's status change (fields) and event (if any) come in that order before its reply.
    bool effectsBeforeReply(const QString& root, const QString& path, const QString& id, const QJsonObject& fields,
        const QString& event = QString())
    {
        int from = 0;
        const int reply = request(root, path, id, {}, 5000, &from);
        const int status = this->status(root, fields, from);
        const int eventAt = event.isEmpty() ? status : peer.waitFor(root + event, 5000, from);
        return status >= 0 && status <= eventAt && eventAt < reply && peer.at(reply).json().value("completed").toBool();
    }

    // The retained messages a newcomer gets under zent/ (everything before a marker of its own), by topic.
    QMap<QString, QJsonObject> retained()
    {
        MqttProbe newcomer;
        if (!newcomer.connectTo(broker.host(), broker.port()) || !newcomer.subscribe("zent/#"))
            return {};
        newcomer.publish("zent/marker", "x");
        QMap<QString, QJsonObject> result;
        for (const MqttProbe::Message& m : newcomer.messages().mid(0, qMax(0, newcomer.waitFor("zent/marker"))))
            result.insert(m.topic, m.json());
        return result;
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
    QMap<QString, QJsonObject> retained = rig.retained();
    QCOMPARE(retained.keys(),
        (QStringList { Dispenser + "/info", Dispenser + "/status", Rfid + "/info", Rfid + "/status" }));
    QCOMPARE(retained.value(Rfid + "/status"), parse(R"({"service":true,"device":{"state":1,"error":null}})"));
    QCOMPARE(retained.value(Dispenser + "/status"),
        parse(R"({"service":true,"device":{"active":true,"isJammed":false,"isCartridgeDoorOpen":false,
                  "cardInMouth":false,"cardInRfid":false,"cartridge":"full","cartridgePercent":100}})"));

    // Each status change comes before the reply that caused it.
    QVERIFY(rig.effectsBeforeReply(Dispenser, "/issue", "1", { { "cardInRfid", true }, { "cartridgePercent", 66 } }));
    // Enable: the card is found only after the reply, and not before the detect delay.
    int from = rig.peer.count();
    QVERIFY(rig.effectsBeforeReply(Rfid, "/enable", "1", { { "state", 2 } }));
    QElapsedTimer sinceReply;
    sinceReply.start();
    const int found = rig.peer.waitFor(Rfid + "/card/found", 5000, from);
    QVERIFY2(sinceReply.elapsed() >= 100, qPrintable(QString::number(sinceReply.elapsed())));
    QVERIFY(found > rig.peer.waitFor(Rfid + "/enable/response/1", 0, from));
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
    const auto written
        = KSTVv1Card::fromJson(rig.reply(Rfid, "/card/write", "3", writeParams).value("data").toObject());
    QCOMPARE(written->uid(), QStringLiteral("04000000000001"));
    QCOMPARE(written->type(), Tag::MifareClassic1K);
    QCOMPARE(written->customsId(), 321);

    QVERIFY(rig.effectsBeforeReply(Rfid, "/disable", "4", { { "state", 1 } }));
    QVERIFY(rig.effectsBeforeReply(Dispenser, "/eject", "2", { { "cardInMouth", true }, { "cardInRfid", false } }));
    // The driver takes it: status, then the removal event.
    from = rig.peer.count();
    QVERIFY(rig.sim->take());
    const int removed = rig.peer.waitFor(Dispenser + "/card/removed", 5000, from);
    const int status = rig.status(Dispenser, { { "cardInMouth", false } }, from);
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
    QCOMPARE(rig.retained().keys(), retained.keys());
    QVERIFY(rig.sim->clearJournal());
    QVERIFY(rig.sim->journalLines().isEmpty());
}

void TestDeviceSimulator::readerFollowsTheCard()
{
    Rig rig;
    QVERIFY(rig.up({ "--cards", "2", "--detect-delay-ms", "0" }));
    QCOMPARE(rig.reply(Rfid, "/card/create", "1", { { "template", "KSTVv1" } }),
        parse(R"({"completed":false,"error":{"what":"No card"}})"));
    QVERIFY(rig.completed(Dispenser, "/issue", "1"));

    // Autoread on a blank card reports that it cannot be read.
    int from = rig.peer.count();
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
    // Accept takes the card from the mouth back onto the reader position; dispose bins it.
    QVERIFY(rig.effectsBeforeReply(
        Dispenser, "/accept", "6", { { "cardInRfid", true }, { "cardInMouth", false } }, "/card/inserted"));
    QVERIFY(rig.effectsBeforeReply(Dispenser, "/dispose", "7", { { "cardInRfid", false } }, "/card/disposed"));

    // The last card: auto-taken after the configured time, without a take command.
    QVERIFY(rig.sim->setAutoTake(300));
    QVERIFY(rig.completed(Dispenser, "/issue", "9"));
    QElapsedTimer sinceEject;
    sinceEject.start();
    const int from = rig.peer.count();
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
    const int beforeInsert = rig.peer.count();
    QVERIFY(rig.sim->control("insert", { { "uid", "FOREIGN-2" } }));
    QVERIFY(rig.peer.waitFor(Dispenser + "/card/inserted", 5000, beforeInsert) >= 0);
    QCOMPARE(rig.cards().value("reader").toObject().value("uid").toString(), QStringLiteral("FOREIGN-2"));
    const QJsonArray bin = rig.cards().value("bin").toArray();
    QCOMPARE(bin.size(), 2);
    QCOMPARE(bin.at(1).toObject().value("uid").toString(), QStringLiteral("FOREIGN-1"));

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

    // Delay: the reply comes late, with the status change still before it.
    QVERIFY(rig.sim->setFault("rfid/enable", { { "mode", "delay" }, { "ms", 400 }, { "times", 1 } }));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(rig.effectsBeforeReply(Rfid, "/enable", "3", { { "state", 2 } }));
    QVERIFY2(timer.elapsed() >= 350, qPrintable(QString::number(timer.elapsed())));

    // No reply at all and nothing happens; or the work is done and only the reply is lost.
    QVERIFY(rig.sim->setFault("dispenser/eject", { { "mode", "noreply" }, { "times", 1 } }));
    QCOMPARE(rig.request(Dispenser, "/eject", "3", {}, 600), -1);
    QVERIFY(!rig.cards().value("reader").isNull());
    QVERIFY(rig.sim->setFault("dispenser/eject", { { "mode", "noreply" }, { "act", true }, { "times", 1 } }));
    int from = 0;
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
        const int reply = rig.request(Dispenser, "/accept", QString::number(5 + i));
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

    int from = rig.peer.count();
    // Updating: state 4, requests refused; error: state 5 with its text; ok again: Idle.
    QVERIFY(rig.sim->setReader({ { "state", "updating" } }));
    QVERIFY(rig.status(Rfid, { { "state", 4 } }, from) >= 0);
    QCOMPARE(rig.reply(Rfid, "/enable", "2"), parse(R"({"completed":false,"error":{"what":"Reader is updating"}})"));
    QVERIFY(rig.sim->setReader({ { "state", "error" }, { "error", "Antenna broken" } }));
    QVERIFY(rig.status(Rfid, { { "state", 5 }, { "error", "Antenna broken" } }, from) >= 0);
    QCOMPARE(rig.reply(Rfid, "/disable", "3"), parse(R"({"completed":false,"error":{"what":"Antenna broken"}})"));
    QVERIFY(rig.sim->setReader({ { "state", "ok" } }));
    QVERIFY(rig.status(Rfid, { { "state", 1 }, { "error", QJsonValue::Null } }, from) >= 0);

    // Jam, open door, inactive: each in the status and each refusing.
    QVERIFY(rig.sim->setDispenser({ { "jammed", true } }));
    QVERIFY(rig.status(Dispenser, { { "isJammed", true } }, from) >= 0);
    QCOMPARE(rig.reply(Dispenser, "/eject", "2").value("error").toObject(),
        parse(R"({"code":1,"description":"Dispenser jammed"})"));
    QVERIFY(rig.sim->setDispenser({ { "jammed", false }, { "doorOpen", true } }));
    QVERIFY(rig.status(Dispenser, { { "isJammed", false }, { "isCartridgeDoorOpen", true } }, from) >= 0);
    QCOMPARE(rig.reply(Dispenser, "/issue", "3").value("error").toObject(),
        parse(R"({"code":2,"description":"Cartridge door open"})"));
    QVERIFY(rig.sim->setDispenser({ { "doorOpen", false }, { "active", false } }));
    QVERIFY(rig.status(Dispenser, { { "active", false }, { "isCartridgeDoorOpen", false } }, from) >= 0);
    QCOMPARE(rig.reply(Dispenser, "/issue", "4").value("error").toObject().value("code").toInt(), 7);
    QVERIFY(rig.sim->setDispenser({ { "active", true } }));

    // Offline: the status says so (retained), requests are journaled but unanswered, events are not published.
    QVERIFY(rig.completed(Dispenser, "/eject", "7"));
    QVERIFY(rig.sim->setDispenser({ { "offline", true } }));
    QCOMPARE(rig.retained().value(Dispenser + "/status"), parse(R"({"service":false})"));
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
        const QMap<QString, QJsonObject> retained = rig.retained();
        return QJsonArray { retained.value(Rfid + "/status"), retained.value(Dispenser + "/status") };
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

    // The broker forgets everything; the simulator reconnects and publishes identity and its state again.
    rig.broker.stop();
    QVERIFY(rig.broker.start());
    QTRY_VERIFY_WITH_TIMEOUT(rig.retained().contains(Rfid + "/info"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.retained().value(Dispenser + "/status").value("device").toObject().value("cardInMouth").toBool(), 10000);
    // The control link may still be reconnecting.
    QTRY_COMPARE_WITH_TIMEOUT(
        rig.sim->journalLines(), (QStringList { "dispenser /issue 1", "dispenser /eject 2" }), 10000);
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
        QVERIFY(process.readAll().contains(bad.second.toUtf8()));
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
}

QTEST_GUILESS_MAIN(TestDeviceSimulator)
#include "tst_devicesim.moc"

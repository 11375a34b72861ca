// The RFID reader client over a real broker: a raw MQTT peer plays the reader
// service message by message, and the device simulator plays it for the road
// of one card.

#include "DeviceClientRig.h"
#include "DeviceSimulator.h"
#include "Dispenser.h"
#include "KSTVv1Card.h"
#include "LogCapture.h"
#include "RFID.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTest>

#include <functional>

using manager::RFID;

namespace {

const QString Root = QStringLiteral("lane");
const QString B = QStringLiteral("lane/rfid");
const QString D = QStringLiteral("lane/dispenser");

QByteArray status(int state, const QJsonValue& error = QJsonValue(QJsonValue::Null))
{
    QJsonObject device { { "state", state } };
    if (!error.isUndefined())
        device.insert("error", error);
    return compact(QJsonObject { { "service", true }, { "device", device } });
}

QByteArray tag(const QString& uid, int type = Tag::MifareClassic1K)
{
    return compact(QJsonObject { { "uid", uid }, { "type", type } });
}

// A card object of the known layout as the reader service sends it.
QJsonObject cardObject(const QString& uid, int customsId, const QString& templateName = QStringLiteral("KSTVv1"))
{
    const QJsonObject usage { { "timestamp", "2024-03-01T08:15:00" }, { "type", "entry" }, { "usageCounter", 0 },
        { "deviceId", "DEV-9" }, { "locationId", "LOC-3" } };
    return QJsonObject { { "uid", uid }, { "type", 4 }, { "template", templateName },
        { "data",
            QJsonObject {
                { "info", QJsonObject { { "version", 0 }, { "customsId", customsId }, { "status", "active" } } },
                { "usageCounter", 1 }, { "usageLog", QJsonArray { usage } } } } };
}

// Records the cards that the card signals carry.
struct CardSignals
{
    QList<Tag::Ptr> found;
    QList<Tag::Ptr> removed;
    QList<Card::Ptr> autoread;
    QStringList autoreadFailed;
    int activeChanged = 0;

    explicit CardSignals(RFID& rfid)
    {
        QObject::connect(&rfid, &RFID::cardFound, [this](Tag::Ptr t) { found << t; });
        QObject::connect(&rfid, &RFID::cardRemoved, [this](Tag::Ptr t) { removed << t; });
        QObject::connect(&rfid, &RFID::cardAutoread, [this](Card::Ptr c) { autoread << c; });
        QObject::connect(&rfid, &RFID::cardAutoreadFailed, [this](const QString& e) { autoreadFailed << e; });
        QObject::connect(&rfid, &RFID::activeCardChanged, [this] { ++activeChanged; });
    }
};

QString activeUid(const RFID& rfid)
{
    return rfid.activeCard() ? rfid.activeCard()->uid() : QStringLiteral("<none>");
}

} // namespace

class TestRFID : public QObject
{
    Q_OBJECT

private slots:
    void infoAndStatus();
    void cardEvents();
    void unparsableAndForeignTopics();
    void requestIdsAndPayloads();
    void replies();
    void transportFailures();
    void waitCardFound();
    void roadWithSimulator();
};

void TestRFID::infoAndStatus()
{
    DeviceClientRig rig(Root);
    RFID rfid(rig.client, B);
    QVERIFY(rig.up());
    LogCapture log;

    QStringList order;
    using Signal = void (RFID::*)();
    const QList<QPair<Signal, QString>> watched { { &RFID::uidChanged, "uid" }, { &RFID::firmwareChanged, "firmware" },
        { &RFID::manufacturerChanged, "manufacturer" }, { &RFID::modelChanged, "model" },
        { &RFID::softwareChanged, "software" }, { &RFID::stateChanged, "state" }, { &RFID::errorChanged, "error" } };
    for (const auto& pair : watched) {
        const QString name = pair.second;
        connect(&rfid, pair.first, this, [&order, name] { order << name; });
    }

    const QByteArray info
        = R"({"device":{"uid":"RDR-1","firmware":"2.1","manufacturer":"ACME","model":"R9"},"service":{"version":"1.4"}})";
    QVERIFY(rig.feed(B + "/info", info));
    QCOMPARE(rfid.uid(), QString("RDR-1"));
    QCOMPARE(rfid.firmware(), QString("2.1"));
    QCOMPARE(rfid.manufacturer(), QString("ACME"));
    QCOMPARE(rfid.model(), QString("R9"));
    QCOMPARE(rfid.software(), QString("1.4"));
    QCOMPARE(order, QStringList({ "uid", "firmware", "manufacturer", "model", "software" }));

    // The same info again changes nothing; values of another type read as empty.
    QVERIFY(rig.feed(B + "/info", info));
    QCOMPARE(order.size(), 5);
    QVERIFY(rig.feed(B + "/info", R"({"device":{"uid":5,"firmware":null,"model":"R9"},"service":"1.4"})"));
    QCOMPARE(rfid.uid(), QString());
    QCOMPARE(rfid.firmware(), QString());
    QCOMPARE(rfid.manufacturer(), QString());
    QCOMPARE(rfid.model(), QString("R9"));
    QCOMPARE(rfid.software(), QString());
    QCOMPARE(order.mid(5), QStringList({ "uid", "firmware", "manufacturer", "software" }));
    order.clear();

    // The state stays Init until the first status.
    QCOMPARE(rfid.state(), RFID::Init);
    QVERIFY(!rfid.active());
    QVERIFY(rig.feed(B + "/status", status(RFID::Searching)));
    QCOMPARE(rfid.state(), RFID::Searching);
    QVERIFY(rfid.active());
    QCOMPARE(order, QStringList({ "state" }));
    QCOMPARE(log.startingWith("[RFID] "), QStringList({ "[RFID] State changed : Searching" }));

    // The same state logs nothing and signals nothing.
    QVERIFY(rig.feed(B + "/status", status(RFID::Searching)));
    QCOMPARE(order, QStringList({ "state" }));
    QCOMPARE(log.count("[RFID] State changed : Searching"), 1);

    QVERIFY(rig.feed(B + "/status", status(RFID::CardFound, "Antenna weak")));
    QCOMPARE(rfid.state(), RFID::CardFound);
    QCOMPARE(rfid.error(), QString("Antenna weak"));
    QVERIFY(rig.feed(B + "/status", status(RFID::CardFound, QJsonValue(QJsonValue::Null))));
    QCOMPARE(rfid.error(), QString());
    QCOMPARE(order, QStringList({ "state", "state", "error", "error" }));

    // A state outside the list is kept as received.
    QVERIFY(rig.feed(B + "/status", status(9)));
    QCOMPARE(int(rfid.state()), 9);
    QCOMPARE(RFID::stateToStr(rfid.state()), QString("Unknown"));
    QVERIFY(!rfid.active());
    QVERIFY(log.contains(QtInfoMsg, "[RFID] State changed : Unknown"));
    auto wait = follow(rfid.waitCardFound(1000));
    QCOMPARE(wait->state, 2);
    QCOMPARE(wait->value.error, QString("RF is disabled"));
    QVERIFY(!wait->value.card);

    // Anything but the boolean true in "service" means the service is offline.
    for (const QByteArray& offline : { QByteArray(R"({"service":"true","device":{"state":2}})"),
             QByteArray(R"({"device":{"state":2}})"), QByteArray(R"({"service":false,"device":{"state":2}})"),
             QByteArray(R"({"service":1,"device":{"state":2}})") }) {
        QVERIFY(rig.feed(B + "/status", status(RFID::Idle)));
        QCOMPARE(rfid.state(), RFID::Idle);
        QCOMPARE(rfid.error(), QString());
        QVERIFY(rig.feed(B + "/status", offline));
        QCOMPARE(rfid.state(), RFID::Error);
        QCOMPARE(rfid.error(), QString("Service is offline"));
        QVERIFY(!rfid.active());
    }
    QCOMPARE(log.count("[RFID] State changed : Error"), 4);

    // A status with the service up but no device object reads as state 0 and no error.
    QVERIFY(rig.feed(B + "/status", R"({"service":true})"));
    QCOMPARE(rfid.state(), RFID::Init);
    QCOMPARE(rfid.error(), QString());
    QVERIFY(log.contains(QtInfoMsg, "[RFID] State changed : Init"));

    QCOMPARE(RFID::stateToStr(RFID::Updating), QString("Updating"));
    QCOMPARE(RFID::stateToStr(static_cast<RFID::State>(-1)), QString("Unknown"));
}

void TestRFID::cardEvents()
{
    DeviceClientRig rig(Root);
    RFID rfid(rig.client, B);
    QVERIFY(rig.up());
    CardSignals cards(rfid);
    LogCapture log;

    QVERIFY(rig.feed(B + "/status", status(RFID::Searching)));
    QVERIFY(rig.feed(B + "/card/found", tag("04A1")));
    QCOMPARE(activeUid(rfid), QString("04A1"));
    QCOMPARE(rfid.activeCard()->type(), Tag::MifareClassic1K);
    QCOMPARE(cards.found.size(), 1);
    QCOMPARE(cards.found.first().data(), rfid.activeCard().data());
    QCOMPARE(cards.activeChanged, 1);
    QVERIFY(log.contains(QtInfoMsg, "[RFID] Active tag changed : old=<none> new=04A1"));

    // Searching keeps the card.
    QVERIFY(rig.feed(B + "/status", status(RFID::Searching, "x")));
    QVERIFY(rig.feed(B + "/status", status(RFID::Searching)));
    QCOMPARE(activeUid(rfid), QString("04A1"));

    // Removal reports the card it clears.
    const Tag* held = rfid.activeCard().data();
    QVERIFY(rig.feed(B + "/card/removed", R"({"uid":"04A1"})"));
    QCOMPARE(cards.removed.size(), 1);
    QCOMPARE(cards.removed.first().data(), held);
    QVERIFY(!rfid.activeCard());
    QVERIFY(log.contains(QtInfoMsg, "[RFID] Active tag changed : old=04A1 new=<none>"));
    // A second removal carries no card and changes nothing.
    QVERIFY(rig.feed(B + "/card/removed", "{}"));
    QCOMPARE(cards.removed.size(), 2);
    QVERIFY(!cards.removed.last());
    QCOMPARE(cards.activeChanged, 2);

    // Idle while a card is held: the warning, then the card is cleared.
    QVERIFY(rig.feed(B + "/card/found", tag("04B2", Tag::ISO14443_4A)));
    log.clear();
    QVERIFY(rig.feed(B + "/status", status(RFID::Idle)));
    QVERIFY(!rfid.activeCard());
    QCOMPARE(log.startingWith("[RFID] "),
        QStringList({ "[RFID] State changed : Idle", "[RFID] WARN: RF disabled. Clearing active card",
            "[RFID] Active tag changed : old=04B2 new=<none>" }));
    QVERIFY(log.contains(QtWarningMsg, "[RFID] WARN: RF disabled. Clearing active card"));
    // Idle without a card: no warning.
    QVERIFY(rig.feed(B + "/status", status(RFID::Searching)));
    QVERIFY(rig.feed(B + "/status", status(RFID::Idle)));
    QCOMPARE(log.count("[RFID] WARN: RF disabled. Clearing active card"), 1);

    // Autoread of the known layout: a full record becomes the active card.
    QVERIFY(rig.feed(B + "/card/autoread", compact(cardObject("04C3", 17))));
    QCOMPARE(cards.autoread.size(), 1);
    const auto record = cards.autoread.first().dynamicCast<KSTVv1Card>();
    QVERIFY(record);
    QCOMPARE(record->uid(), QString("04C3"));
    QCOMPARE(record->customsId(), 17);
    QCOMPARE(record->status(), QString("active"));
    QCOMPARE(record->usageLogs().size(), 1);
    QCOMPARE(record->usageLogs().first().deviceId, QString("DEV-9"));
    QCOMPARE(rfid.activeCard().data(), static_cast<Tag*>(record.data()));

    // An autoread error leaves the card where it is.
    QVERIFY(rig.feed(B + "/card/autoread", R"({"error":{"what":"Card is not formatted"}})"));
    QCOMPARE(cards.autoreadFailed, QStringList({ "Card is not formatted" }));
    QCOMPARE(cards.autoread.size(), 1);
    QCOMPARE(rfid.activeCard().data(), static_cast<Tag*>(record.data()));
    // "error" of any type counts as an error.
    QVERIFY(rig.feed(B + "/card/autoread", R"({"error":null,"uid":"X","template":"KSTVv1"})"));
    QCOMPARE(cards.autoreadFailed, QStringList({ "Card is not formatted", "" }));
    QCOMPARE(rfid.activeCard().data(), static_cast<Tag*>(record.data()));

    // Another template, or none, gives no card at all.
    QVERIFY(rig.feed(B + "/card/autoread", compact(cardObject("04D4", 1, "KSTVv2"))));
    QCOMPARE(cards.autoread.size(), 2);
    QVERIFY(!cards.autoread.last());
    QVERIFY(!rfid.activeCard());
    QVERIFY(log.contains(QtInfoMsg, "[RFID] Active tag changed : old=04C3 new=<none>"));
    QVERIFY(rig.feed(B + "/card/autoread", tag("04D5")));
    QCOMPARE(cards.autoread.size(), 3);
    QVERIFY(!cards.autoread.last());

    // The active card is compared by object, not by uid.
    const int changes = cards.activeChanged;
    const Tag::Ptr first(new Tag("04E6", Tag::Other));
    rfid.setActiveCard(first);
    rfid.setActiveCard(Tag::Ptr(new Tag("04E6", Tag::Other)));
    QCOMPARE(cards.activeChanged, changes + 2);
    QCOMPARE(log.count("[RFID] Active tag changed : old=04E6 new=04E6"), 1);
    const Tag::Ptr same = rfid.activeCard();
    rfid.setActiveCard(same);
    QCOMPARE(cards.activeChanged, changes + 2);
    QCOMPARE(log.count("[RFID] Active tag changed : old=04E6 new=04E6"), 1);
}

void TestRFID::unparsableAndForeignTopics()
{
    DeviceClientRig rig(Root);
    RFID rfid(rig.client, B);
    QVERIFY(rig.up());
    CardSignals cards(rfid);
    QVERIFY(rig.feed(B + "/status", status(RFID::CardFound)));
    QVERIFY(rig.feed(B + "/card/found", tag("04A1")));
    const Tag::Ptr held = rfid.activeCard();
    LogCapture log;

    // An empty payload is no JSON, even on the removal topic.
    QVERIFY(rig.feed(B + "/card/removed", ""));
    QCOMPARE(log.texts(QtCriticalMsg), QStringList({ "[RFID] Failed to parse JSON message: " }));
    QCOMPARE(rfid.activeCard(), held);
    QVERIFY(cards.removed.isEmpty());

    QVERIFY(rig.feed(B + "/status", R"({"service":true,"device":{"state":5})"));
    QCOMPARE(log.texts(QtCriticalMsg).last(),
        QString(R"([RFID] Failed to parse JSON message: {"service":true,"device":{"state":5})"));
    QVERIFY(rig.feed(B + "/card/found", "04B2"));
    QCOMPARE(log.texts(QtCriticalMsg).size(), 3);
    QCOMPARE(rfid.state(), RFID::CardFound);
    QCOMPARE(rfid.activeCard(), held);
    QCOMPARE(cards.found.size(), 1);

    // Topics under the root that are none of the five: parsed, then dropped.
    log.clear();
    const QByteArray offline = R"({"service":false})";
    for (const QString& topic : { B + "/card", B + "/status/extra", B + "/card/removed/1", B + "/info/request/1",
             B + "/enable/response/3", B + "/", B + "/Status" }) {
        QVERIFY(rig.feed(topic, offline));
        QVERIFY(rig.feed(topic, "not json"));
    }
    QCOMPARE(log.texts(QtCriticalMsg).size(), 7);
    QCOMPARE(rfid.state(), RFID::CardFound);
    QCOMPARE(rfid.activeCard(), held);
    QVERIFY(cards.removed.isEmpty());

    // The root anywhere in the topic gets a message parsed; elsewhere it is not even looked at.
    log.clear();
    rfid.onMqttReceived("not json", "site/" + B + "/status");
    QCOMPARE(log.texts(QtCriticalMsg), QStringList({ "[RFID] Failed to parse JSON message: not json" }));
    rfid.onMqttReceived(offline, "site/" + B + "/status");
    rfid.onMqttReceived("not json", "lane/RFID/status");
    rfid.onMqttReceived(offline, "lane/RFID/status");
    rfid.onMqttReceived("not json", "lane/rfi/status");
    QCOMPARE(log.texts().size(), 1);
    QCOMPARE(rfid.state(), RFID::CardFound);

    // The same message on the right topic does take effect.
    QVERIFY(rig.feed(B + "/status", offline));
    QCOMPARE(rfid.state(), RFID::Error);
}

void TestRFID::requestIdsAndPayloads()
{
    DeviceClientRig rig(Root);
    RFID rfid(rig.client, B);
    manager::Dispenser dispenser(rig.client, D);
    QVERIFY(rig.up());
    QCOMPARE(rfid.requestTimeout(), 3000);

    auto card = QSharedPointer<KSTVv1Card>::create();
    card->setUid("04D4");
    card->setType(Tag::MifareClassic4K);
    card->setCustomsId(12);
    card->setStatus("active");
    card->addUsageLog("entry", "DEV-1", "LOC-2");
    card->incrUsageCounter(1);
    const QJsonObject written { { "uid", "04D4" }, { "type", 8 }, { "template", "KSTVv1" }, { "data", card->data() } };

    // Each call waits for its request, checks it and answers it; the two clients count apart.
    struct Step
    {
        QString topic;
        QString id;
        QByteArray payload;
        std::function<Deferred<RFID::Result>()> rfidCall;
        std::function<Deferred<manager::Dispenser::Result>()> dispenserCall;
    };
    const QList<Step> steps {
        { B + "/enable", "1", R"({"autoread":false})", [&] { return rfid.enable(false); }, nullptr },
        { D + "/issue", "1", "{}", nullptr, [&] { return dispenser.issue(); } },
        { B + "/card/create", "2", R"({"template":"KSTVv1"})", [&] { return rfid.createCard("KSTVv1"); }, nullptr },
        { B + "/card/read", "3", R"({"template":"KSTVv1","topupLogs":0,"usageLogs":5})",
            [&] { return rfid.readCard("KSTVv1", 5); }, nullptr },
        { B + "/card/write", "4", compact(written), [&] { return rfid.writeCard(card); }, nullptr },
        { B + "/disable", "5", "{}", [&] { return rfid.disable(); }, nullptr },
        { D + "/eject", "2", "{}", nullptr, [&] { return dispenser.eject(); } },
        { B + "/enable", "6", R"({"autoread":true})", [&] { return rfid.enable(true); }, nullptr },
    };
    for (const Step& step : steps) {
        const int from = rig.peer().count();
        int state = 0;
        if (step.rfidCall) {
            auto out = follow(step.rfidCall());
            const auto payload = rig.request(step.topic, step.id, from);
            QVERIFY2(payload, qPrintable(step.topic + " " + step.id));
            QCOMPARE(*payload, step.payload);
            QVERIFY(rig.reply(step.topic, step.id, R"({"completed":true})"));
            QVERIFY(settles(out));
            state = out->state;
        } else {
            auto out = follow(step.dispenserCall());
            const auto payload = rig.request(step.topic, step.id, from);
            QVERIFY2(payload, qPrintable(step.topic + " " + step.id));
            QCOMPARE(*payload, step.payload);
            QVERIFY(rig.reply(step.topic, step.id, R"({"completed":true})"));
            QVERIFY(settles(out));
            state = out->state;
        }
        QCOMPARE(state, 1);
    }

    // Writing no card fails at once, sends nothing and uses no id.
    LogCapture log;
    auto none = follow(rfid.writeCard(Card::Ptr()));
    QCOMPARE(none->state, 2);
    QCOMPARE(none->value.error, QString("No card to write"));
    QVERIFY(log.contains(QtCriticalMsg, "[RFID] ERROR: No card to write"));
    const int from = rig.peer().count();
    auto next = follow(rfid.disable());
    QCOMPARE(rig.request(B + "/disable", "7", from).value_or("missing"), QByteArray("{}"));
    QVERIFY(rig.reply(B + "/disable", "7", R"({"completed":true})"));
    QVERIFY(settles(next));
    QCOMPARE(rig.seen(from, rig.mark()), QStringList({ B + "/disable/request/7", B + "/disable/response/7" }));

    // Beeps are plain messages with an empty payload.
    const int beepFrom = rig.peer().count();
    QVERIFY(rfid.beepValid());
    QVERIFY(rfid.beepInvalid());
    const int end = rig.mark();
    QCOMPARE(rig.seen(beepFrom, end), QStringList({ B + "/beep/valid", B + "/beep/invalid" }));
    QVERIFY(rig.peer().at(beepFrom).payload.isEmpty());
    QVERIFY(!rig.peer().at(beepFrom).retained);
}

void TestRFID::replies()
{
    DeviceClientRig rig(Root);
    RFID rfid(rig.client, B);
    QVERIFY(rig.up());
    CardSignals cards(rfid);
    LogCapture log;
    int id = 0;

    // Sends one call and answers it with payload.
    const auto answer
        = [&](const QString& path, const std::function<Deferred<RFID::Result>()>& call, const QByteArray& payload) {
              const int from = rig.peer().count();
              auto out = follow(call());
              const QString rpcId = QString::number(++id);
              if (!rig.request(B + path, rpcId, from) || !rig.reply(B + path, rpcId, payload) || !settles(out))
                  out->state = -1;
              return out;
          };

    // A completed reply with a card of the known layout makes it the active card.
    const QByteArray created = compact(QJsonObject { { "completed", true }, { "data", cardObject("04E5", 3) } });
    auto ok = answer(
        "/card/create", [&] { return rfid.createCard("KSTVv1"); }, created);
    QCOMPARE(ok->state, 1);
    QVERIFY(ok->value.card);
    QCOMPARE(ok->value.card->uid(), QString("04E5"));
    QCOMPARE(ok->value.error, QString());
    QCOMPARE(ok->value.card.dynamicCast<KSTVv1Card>()->customsId(), 3);
    QCOMPARE(rfid.activeCard(), ok->value.card);
    QVERIFY(log.contains(QtInfoMsg, "[RFID] Active tag changed : old=<none> new=04E5"));
    const Tag::Ptr held = rfid.activeCard();

    // Every reply that is not completed rejects with the "what" text, or none, and keeps the card.
    const QList<QPair<QByteArray, QString>> refusals {
        { R"({"completed":false,"error":{"what":"Card uid mismatch","code":7}})", "Card uid mismatch" },
        { R"({"completed":false})", "" },
        { R"({"completed":false,"error":"Card uid mismatch"})", "" },
        { compact(QJsonObject { { "data", cardObject("04F0", 1) } }), "" },
        { compact(QJsonObject { { "completed", "true" }, { "data", cardObject("04F0", 1) } }), "" },
        { "", "" },
        { "[]", "Invalid response" },
        { "not json", "Invalid response" },
    };
    for (const auto& refusal : refusals) {
        auto out = answer(
            "/card/write", [&] { return rfid.writeCard(held.dynamicCast<Card>()); }, refusal.first);
        QCOMPARE(out->state, 2);
        QCOMPARE(out->value.error, refusal.second);
        QVERIFY(!out->value.card);
        QCOMPARE(out->calls, 1);
        QCOMPARE(rfid.activeCard(), held);
    }

    // A completed reply without a card clears the active card, disable included.
    log.clear();
    auto disabled = answer(
        "/disable", [&] { return rfid.disable(); }, R"({"completed":true})");
    QCOMPARE(disabled->state, 1);
    QVERIFY(!disabled->value.card);
    QCOMPARE(disabled->value.error, QString());
    QVERIFY(!rfid.activeCard());
    QVERIFY(log.contains(QtInfoMsg, "[RFID] Active tag changed : old=04E5 new=<none>"));

    // Data of an unknown layout gives no card either.
    QVERIFY(rig.feed(B + "/card/found", tag("04F1")));
    auto other = answer(
        "/card/read", [&] { return rfid.readCard("KSTVv2", 1); },
        compact(QJsonObject { { "completed", true }, { "data", cardObject("04F1", 1, "KSTVv2") } }));
    QCOMPARE(other->state, 1);
    QVERIFY(!other->value.card);
    QVERIFY(!rfid.activeCard());
    QCOMPARE(cards.activeChanged, 4);
}

void TestRFID::transportFailures()
{
    DeviceClientRig rig(Root);
    RFID rfid(rig.client, B);
    QVERIFY(rig.up());
    QVERIFY(rig.feed(B + "/card/found", tag("04A1")));
    const Tag::Ptr held = rfid.activeCard();

    // No reply within the time-out.
    rfid.setRequestTimeout(250);
    QElapsedTimer clock;
    clock.start();
    auto late = follow(rfid.enable(false));
    QVERIFY(rig.request(B + "/enable", "1"));
    QVERIFY(settles(late));
    QCOMPARE(late->state, 2);
    QCOMPARE(late->value.error, QString("Timeout"));
    QVERIFY(!late->value.card);
    QVERIFY2(clock.elapsed() >= 200 && clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rfid.activeCard(), held);
    // A reply after the time-out changes nothing; the next request has the next id.
    QVERIFY(rig.reply(B + "/enable", "1", R"({"completed":true})"));
    QVERIFY(rig.sync());
    QCOMPARE(late->calls, 1);
    QCOMPARE(rfid.activeCard(), held);
    rfid.setRequestTimeout(3000);
    const int from = rig.peer().count();
    auto next = follow(rfid.disable());
    QVERIFY(rig.request(B + "/disable", "2", from));
    QVERIFY(rig.reply(B + "/disable", "2", R"({"completed":false,"error":{"what":"busy"}})"));
    QVERIFY(settles(next));
    QCOMPARE(next->value.error, QString("busy"));

    // Without a connection every call fails at once.
    manager::MqttClient offline;
    RFID unplugged(offline, "far/rfid");
    for (const auto& call : QList<std::function<Deferred<RFID::Result>()>> { [&] { return unplugged.enable(true); },
             [&] { return unplugged.disable(); }, [&] { return unplugged.createCard("KSTVv1"); },
             [&] { return unplugged.readCard("KSTVv1", 2); },
             [&] { return unplugged.writeCard(QSharedPointer<KSTVv1Card>::create()); } }) {
        auto out = follow(call());
        QCOMPARE(out->state, 2);
        QCOMPARE(out->value.error, QString("Not connected"));
    }
    unplugged.setState(RFID::Searching);
    auto wait = follow(unplugged.waitCardFound(1000));
    QCOMPARE(wait->state, 2);
    QCOMPARE(wait->value.error, QString("Not connected"));
    QVERIFY(!unplugged.beepValid());

    // A lost broker: the same.
    QSignalSpy down(&rig.client, &manager::MqttClient::disconnected);
    rig.broker.kill();
    QVERIFY(down.wait(5000));
    auto lost = follow(rfid.disable());
    QCOMPARE(lost->state, 2);
    QCOMPARE(lost->value.error, QString("Not connected"));
}

void TestRFID::waitCardFound()
{
    DeviceClientRig rig(Root);
    RFID rfid(rig.client, B);
    QVERIFY(rig.up());
    CardSignals cards(rfid);

    // Not searching: rejected at once.
    for (int state : { int(RFID::Init), int(RFID::Idle), int(RFID::Updating), int(RFID::Error), 9 }) {
        if (state != RFID::Init)
            QVERIFY(rig.feed(B + "/status", status(state)));
        auto out = follow(rfid.waitCardFound(1000));
        QCOMPARE(out->state, 2);
        QCOMPARE(out->value.error, QString("RF is disabled"));
        QVERIFY(!out->value.card);
    }

    // A card on the reader: resolved at once with it, without a word on the wire.
    QVERIFY(rig.feed(B + "/status", status(RFID::Searching)));
    QVERIFY(rig.feed(B + "/card/found", tag("04F6")));
    QVERIFY(rig.feed(B + "/status", status(RFID::CardFound)));
    const int before = rig.mark();
    auto at_once = follow(rfid.waitCardFound(1000));
    QCOMPARE(at_once->state, 1);
    QCOMPARE(at_once->value.card, rfid.activeCard());
    QCOMPARE(at_once->value.error, QString());
    QCOMPARE(rig.seen(before + 1, rig.mark()), QStringList());

    // Searching: the next card found.
    QVERIFY(rig.feed(B + "/card/removed", "{}"));
    QVERIFY(rig.feed(B + "/status", status(RFID::Searching)));
    auto next = follow(rfid.waitCardFound(5000));
    QVERIFY(rig.mark() >= 0); // the wait's subscription is in place
    QCOMPARE(next->state, 0);
    const int foundBefore = cards.found.size();
    QVERIFY(rig.feed(B + "/card/found", tag("04F7", Tag::MifareDesfire)));
    QVERIFY(settles(next));
    QCOMPARE(next->state, 1);
    QCOMPARE(next->value.card->uid(), QString("04F7"));
    QCOMPARE(next->value.card->type(), Tag::MifareDesfire);
    QCOMPARE(activeUid(rfid), QString("04F7"));
    QVERIFY(cards.found.size() > foundBefore);
    QCOMPARE(cards.found.last()->uid(), QString("04F7"));

    // Searching without a card: the wait's time-out.
    QElapsedTimer clock;
    clock.start();
    auto none = follow(rfid.waitCardFound(300));
    QVERIFY(settles(none));
    QCOMPARE(none->state, 2);
    QCOMPARE(none->value.error, QString("Timeout"));
    QVERIFY(!none->value.card);
    QVERIFY(clock.elapsed() >= 250);

    // A broken card-found message fails the wait, and the regular handler logs it.
    LogCapture log;
    auto broken = follow(rfid.waitCardFound(5000));
    QVERIFY(rig.mark() >= 0);
    QVERIFY(rig.feed(B + "/card/found", "04F8"));
    QVERIFY(settles(broken));
    QCOMPARE(broken->value.error, QString("Invalid response"));
    QVERIFY(log.contains(QtCriticalMsg, "[RFID] Failed to parse JSON message: 04F8"));
    QCOMPARE(activeUid(rfid), QString("04F7"));
}

void TestRFID::roadWithSimulator()
{
    DeviceClientRig rig(QStringLiteral("zent"));
    RFID rfid(rig.client, QStringLiteral("zent/rfid"));
    QVERIFY(rig.up());
    DeviceSimulator sim(rig.broker.port(), { "--detect-delay-ms", "150", "--cards", "3" });
    QVERIFY2(sim.start(), qPrintable(sim.lastError()));
    CardSignals cards(rfid);

    QTRY_COMPARE(rfid.uid(), QString("RDR-SIM-0001"));
    QTRY_COMPARE(rfid.state(), RFID::Idle);
    const auto issued = rig.peer().call("zent/dispenser", "/issue", "900", {});
    QVERIFY(issued);
    QVERIFY(issued->json().value("completed").toBool());

    auto enabled = follow(rfid.enable(false));
    QVERIFY(settles(enabled));
    QCOMPARE(enabled->state, 1);
    auto found = follow(rfid.waitCardFound(3000));
    QVERIFY(settles(found));
    QCOMPARE(found->state, 1);
    QCOMPARE(found->value.card->uid(), QString("04000000000001"));
    QTRY_COMPARE(rfid.state(), RFID::CardFound);
    QCOMPARE(activeUid(rfid), QString("04000000000001"));
    QVERIFY(!cards.found.isEmpty());

    auto created = follow(rfid.createCard(KSTVv1Card::Name));
    QVERIFY(settles(created));
    QCOMPARE(created->state, 1);
    QVERIFY(created->value.card.dynamicCast<KSTVv1Card>());

    auto record = QSharedPointer<KSTVv1Card>::create();
    record->setUid(created->value.card->uid());
    record->setType(created->value.card->type());
    record->setCustomsId(77);
    record->setStatus("active");
    record->addUsageLog("entry", "DEV-1", "LOC-1");
    record->incrUsageCounter(1);
    auto written = follow(rfid.writeCard(record));
    QVERIFY(settles(written));
    QCOMPARE(written->state, 1);
    const auto onCard = written->value.card.dynamicCast<KSTVv1Card>();
    QVERIFY(onCard);
    QCOMPARE(onCard->uid(), QString("04000000000001"));
    QCOMPARE(onCard->customsId(), 77);
    QCOMPARE(onCard->usageCounter(), 1);
    QCOMPARE(onCard->usageLogs().size(), 1);
    QCOMPARE(onCard->usageLogs().first().locationId, QString("LOC-1"));
    QCOMPARE(rfid.activeCard(), written->value.card);

    auto disabled = follow(rfid.disable());
    QVERIFY(settles(disabled));
    QCOMPARE(disabled->state, 1);
    QVERIFY(!rfid.activeCard());
    QTRY_COMPARE(rfid.state(), RFID::Idle);
    QCOMPARE(sim.journalLines(),
        QStringList({ "dispenser /issue 900", "rfid /enable 1", "rfid /card/create 2", "rfid /card/write 3",
            "rfid /disable 4" }));

    // A refusal by the service carries its text.
    QVERIFY(sim.setReader({ { "state", "updating" } }));
    QTRY_COMPARE(rfid.state(), RFID::Updating);
    QVERIFY(!rfid.active());
    auto refused = follow(rfid.enable(false));
    QVERIFY(settles(refused));
    QCOMPARE(refused->value.error, QString("Reader is updating"));

    // A dead service: its will marks the reader offline.
    sim.kill();
    QTRY_COMPARE(rfid.state(), RFID::Error);
    QCOMPARE(rfid.error(), QString("Service is offline"));
}

QTEST_GUILESS_MAIN(TestRFID)
#include "tst_RFID.moc"

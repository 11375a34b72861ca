// The RFID reader client over a real broker: a raw MQTT peer plays the reader
// service message by message (the card issuer test runs it against the simulator).

#include "DeviceClientRig.h"
#include "KSTVv1Card.h"
#include "LogCapture.h"
#include "RFID.h"

#include <QTest>

using manager::RFID;

namespace {

const QString B = "lane/rfid";
const QByteArray Ok = R"({"completed":true})";

QByteArray status(int state, const QJsonValue& error = QJsonValue(QJsonValue::Null))
{
    return compact({ { "service", true }, { "device", QJsonObject { { "state", state }, { "error", error } } } });
}

QByteArray tag(const QString& uid, int type = Tag::MifareClassic1K)
{
    return compact({ { "uid", uid }, { "type", type } });
}

// A card object of the known layout as the reader service sends it.
QJsonObject cardObject(const QString& uid, int customsId, const QString& templateName = "KSTVv1")
{
    const QJsonObject info { { "version", 0 }, { "customsId", customsId }, { "status", "active" } };
    return { { "uid", uid }, { "type", 4 }, { "template", templateName },
        { "data", QJsonObject { { "info", info }, { "usageCounter", 1 } } } };
}

QString uidOf(const Tag::Ptr& tag)
{
    return tag ? tag->uid() : "<none>";
}

// A client on a started rig.
struct Reader
{
    DeviceClientRig rig { "lane" };
    RFID rfid { rig.client, B };
    QList<Tag::Ptr> found, removed;
    QList<Card::Ptr> autoread;
    QStringList autoreadFailed;

    Reader()
    {
        QObject::connect(&rfid, &RFID::cardFound, [this](Tag::Ptr t) { found << t; });
        QObject::connect(&rfid, &RFID::cardRemoved, [this](Tag::Ptr t) { removed << t; });
        QObject::connect(&rfid, &RFID::cardAutoread, [this](Card::Ptr c) { autoread << c; });
        QObject::connect(&rfid, &RFID::cardAutoreadFailed, [this](const QString& e) { autoreadFailed << e; });
    }
    bool feed(const QString& path, const QByteArray& payload) { return rig.feed(B + path, payload); }
};

} // namespace

class TestRFID : public QObject
{
    Q_OBJECT

private slots:
    void messages()
    {
        Reader r;
        RFID& rfid = r.rfid;
        QVERIFY(r.rig.up());
        LogCapture log;
        QSignalSpy uidChanged(&rfid, &RFID::uidChanged);

        const QByteArray info
            = R"({"device":{"uid":"RDR-1","firmware":"2.1","manufacturer":"ACME","model":"R9"},"service":{"version":"1.4"}})";
        QVERIFY(r.feed("/info", info));
        QVERIFY(r.feed("/info", info)); // the same again changes nothing
        QCOMPARE(QStringList({ rfid.uid(), rfid.firmware(), rfid.manufacturer(), rfid.model(), rfid.software() }),
            QStringList({ "RDR-1", "2.1", "ACME", "R9", "1.4" }));
        QCOMPARE(uidChanged.count(), 1);

        QCOMPARE(rfid.state(), RFID::Init);
        QVERIFY(r.feed("/status", status(RFID::Searching)));
        QVERIFY(r.feed("/status", status(RFID::Searching))); // the same state logs and signals nothing
        QVERIFY(rfid.active());
        QCOMPARE(log.startingWith("[RFID] "), QStringList({ "[RFID] State changed : Searching" }));
        QVERIFY(r.feed("/status", status(RFID::CardFound, "Antenna weak")));
        QCOMPARE(rfid.error(), QString("Antenna weak"));
        QVERIFY(rfid.active()); // a card on the reader is active too
        // A state outside the list is kept as received, and counts as not active.
        QVERIFY(r.feed("/status", status(9)));
        QCOMPARE(int(rfid.state()), 9);
        QVERIFY(!rfid.active() && rfid.error().isEmpty());

        // Anything but the boolean true in "service" means the service is offline.
        for (const char* offline : { R"({"service":"true","device":{"state":2}})", R"({"device":{"state":2}})" }) {
            QVERIFY(r.feed("/status", status(RFID::Idle)));
            QVERIFY(r.feed("/status", offline));
            QCOMPARE(rfid.state(), RFID::Error);
            QCOMPARE(rfid.error(), QString("Service is offline"));
        }

        // Card events.
        int activeChanged = 0;
        connect(&rfid, &RFID::activeCardChanged, this, [&activeChanged] { ++activeChanged; });
        log.clear();

        QVERIFY(r.feed("/status", status(RFID::Searching)));
        QVERIFY(r.feed("/card/found", tag("04A1")));
        QCOMPARE(r.found, QList<Tag::Ptr>({ rfid.activeCard() }));
        QVERIFY(r.feed("/status", status(RFID::Searching, "x"))); // searching keeps the card
        QCOMPARE(uidOf(rfid.activeCard()), QString("04A1"));

        // Removal reports the card it clears; a second one carries no card.
        const Tag::Ptr held = rfid.activeCard();
        QVERIFY(r.feed("/card/removed", R"({"uid":"04A1"})"));
        QVERIFY(r.feed("/card/removed", "{}"));
        QCOMPARE(r.removed, QList<Tag::Ptr>({ held, Tag::Ptr() }));
        QVERIFY(!rfid.activeCard());
        QCOMPARE(activeChanged, 2);

        // Idle while a card is held: the warning, then the card is cleared; without a card no warning.
        QVERIFY(r.feed("/card/found", tag("04B2", Tag::ISO14443_4A)));
        log.clear();
        QVERIFY(r.feed("/status", status(RFID::Idle)));
        QVERIFY(log.contains(QtWarningMsg, "[RFID] WARN: RF disabled. Clearing active card"));
        QVERIFY(!rfid.activeCard());

        // Autoread of the known layout: the record becomes the active card.
        QVERIFY(r.feed("/card/autoread", compact(cardObject("04C3", 17))));
        const auto record = r.autoread.value(0).dynamicCast<KSTVv1Card>();
        QVERIFY(record);
        QCOMPARE(record->customsId(), 17);
        QCOMPARE(rfid.activeCard(), record.staticCast<Tag>());
        // An autoread error of any type leaves the card where it is.
        QVERIFY(r.feed("/card/autoread", R"({"error":{"what":"Card is not formatted"}})"));
        QCOMPARE(r.autoreadFailed, QStringList({ "Card is not formatted" }));
        QCOMPARE(rfid.activeCard(), record.staticCast<Tag>());
        // Another template gives no card at all.
        QVERIFY(r.feed("/card/autoread", compact(cardObject("04D4", 1, "KSTVv2"))));
        QCOMPARE(r.autoread.size(), 2);
        QVERIFY(!r.autoread.last() && !rfid.activeCard());

        // Not JSON, even an empty removal: one line and no effect.
        QVERIFY(r.feed("/status", status(RFID::CardFound)));
        const Tag::Ptr kept = rfid.activeCard();
        log.clear();
        QVERIFY(r.feed("/card/removed", ""));
        QVERIFY(r.feed("/status", R"({"service":true,"device":{"state":5})"));
        // Topics under the root that are none of the five: parsed, then dropped.
        const QByteArray offline = R"({"service":false})";
        for (const char* path : { "/card", "/status/extra", "/Status" }) {
            QVERIFY(r.feed(path, offline));
            QVERIFY(r.feed(path, "not json\n[   12.345] [RFID] State changed : Searching"));
        }
        QCOMPARE(log.texts(QtCriticalMsg).size(), 5); // one line per message that is not JSON
        for (const QString& line : log.texts(QtCriticalMsg)) // the peer's text stays on that line
            QVERIFY2(!line.contains(QLatin1Char('\n')), qPrintable(line));
        QCOMPARE(rfid.state(), RFID::CardFound);
        QCOMPARE(rfid.activeCard(), kept);
    }

    void requestsAndReplies()
    {
        Reader r;
        RFID& rfid = r.rfid;
        QVERIFY(r.rig.up());

        const QSharedPointer<KSTVv1Card> card = KSTVv1Card::fromJson(cardObject("04D4", 12));
        card->addUsageLog("entry", "DEV-1", "LOC-2");

        // Each call's request, answered; ids count from 1.
        int id = 0;
        const auto answer = [&](const QString& path, const Deferred<RFID::Result>& d, const QByteArray& payload = Ok) {
            return r.rig.exchange(B + path, QString::number(++id), d, payload);
        };
        // Every request waits 3 s for its reply.
        const Deferred<RFID::Result> enabled = rfid.enable(false);
        QCOMPARE(r.rig.waitIntervals(), QList<int>({ 3000 }));
        QCOMPARE(answer("/enable", enabled)->request, QByteArray(R"({"autoread":false})"));
        QCOMPARE(answer("/card/create", rfid.createCard("KSTVv1"))->request, QByteArray(R"({"template":"KSTVv1"})"));
        QCOMPARE(answer("/card/read", rfid.readCard("KSTVv1", 5))->request,
            QByteArray(R"({"template":"KSTVv1","topupLogs":0,"usageLogs":5})"));
        QCOMPARE(answer("/card/write", rfid.writeCard(card))->request, compact(card->toJson()));

        // Writing no card fails at once, sends nothing and uses no id.
        const int from = r.rig.peer.count();
        auto none = follow(rfid.writeCard(Card::Ptr()));
        QCOMPARE(none->state, 2);
        QCOMPARE(none->value.error, QString("No card to write"));
        QCOMPARE(answer("/disable", rfid.disable())->request, QByteArray("{}"));

        // Beeps are plain messages with an empty payload.
        QVERIFY(rfid.beepValid());
        QVERIFY(rfid.beepInvalid());
        const int end = r.rig.mark();
        QCOMPARE(r.rig.seen(from, end),
            QStringList(
                { B + "/disable/request/5", B + "/disable/response/5", B + "/beep/valid", B + "/beep/invalid" }));

        // A completed reply with a card of the known layout makes it the active card.
        auto ok = answer("/card/create", rfid.createCard("KSTVv1"),
            compact({ { "completed", true }, { "data", cardObject("04E5", 3) } }));
        QCOMPARE(ok->state, 1);
        QCOMPARE(ok->value.card.dynamicCast<KSTVv1Card>()->customsId(), 3);
        QCOMPARE(rfid.activeCard(), ok->value.card);
        const Tag::Ptr held = rfid.activeCard();

        // Every reply that is not completed (the boolean true) rejects with the "what" text, or
        // none, and keeps the card.
        const QList<QPair<QByteArray, QString>> refusals {
            { R"({"completed":false,"error":{"what":"Card uid mismatch","code":7}})", "Card uid mismatch" },
            { compact({ { "completed", "true" }, { "data", cardObject("04F0", 1) } }), "" },
            { "[]", "Invalid response" }
        };
        for (const auto& [payload, error] : refusals) {
            auto out = answer("/card/write", rfid.writeCard(held.dynamicCast<Card>()), payload);
            QCOMPARE(out->state, 2);
            QCOMPARE(out->value.error, error);
            QCOMPARE(rfid.activeCard(), held);
        }

        // A completed reply without a card clears the active card, disable included.
        auto disabled = answer("/disable", rfid.disable());
        QCOMPARE(disabled->state, 1);
        QVERIFY(!disabled->value.card && !rfid.activeCard());
    }

    void waitCardFound()
    {
        Reader r;
        RFID& rfid = r.rfid;
        QVERIFY(r.rig.up());

        // Not searching: rejected at once.
        QVERIFY(r.feed("/status", status(RFID::Idle)));
        QCOMPARE(follow(rfid.waitCardFound(1000))->value.error, QString("RF is disabled"));

        // A card on the reader: resolved at once with it, without a word on the wire.
        QVERIFY(r.feed("/status", status(RFID::Searching)));
        QVERIFY(r.feed("/card/found", tag("04F6")));
        QVERIFY(r.feed("/status", status(RFID::CardFound)));
        const int before = r.rig.mark();
        auto atOnce = follow(rfid.waitCardFound(1000));
        QCOMPARE(atOnce->state, 1);
        QCOMPARE(atOnce->value.card, rfid.activeCard());
        QCOMPARE(r.rig.seen(before + 1, r.rig.mark()), QStringList());

        // Searching: the next card found.
        QVERIFY(r.feed("/card/removed", "{}"));
        QVERIFY(r.feed("/status", status(RFID::Searching)));
        auto next = follow(rfid.waitCardFound(5000));
        QVERIFY(r.rig.mark() >= 0); // the wait's subscription is in place
        QCOMPARE(next->state, 0);
        QVERIFY(r.feed("/card/found", tag("04F7", Tag::MifareDesfire)));
        QVERIFY(settles(next));
        QCOMPARE(uidOf(next->value.card), QString("04F7"));

        // A broken card-found message fails the wait, and the regular handler logs it.
        auto broken = follow(rfid.waitCardFound(5000));
        QVERIFY(r.rig.mark() >= 0);
        QVERIFY(r.feed("/card/found", "04F8"));
        QVERIFY(settles(broken));
        QCOMPARE(broken->value.error, QString("Invalid response"));
    }
};

QTEST_GUILESS_MAIN(TestRFID)
#include "tst_RFID.moc"

// The card issuer end to end: a real broker, the device simulator playing the
// reader and dispenser services, and the terminal's own clients.

#include "CardIssuer.h"
#include "DeviceSimulator.h"
#include "Dispenser.h"
#include "KSTVv1Card.h"
#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "RFID.h"

#include <QTest>

#include <memory>

using manager::CardIssuer;

namespace {

const QString kFirstUid = "04000000000001";

// One lane's card devices on their own broker.
struct Lane
{
    MosquittoBroker broker;
    std::unique_ptr<DeviceSimulator> sim;
    manager::MqttClient mqtt;
    manager::RFID rfid { mqtt, "zent/rfid" };
    manager::Dispenser dispenser { mqtt, "zent/dispenser" };
    CardIssuer issuer { rfid, dispenser };

    bool start()
    {
        if (!broker.start())
            return false;
        sim = std::make_unique<DeviceSimulator>(broker.port(), QStringList { "--detect-delay-ms", "0" });
        if (!sim->start())
            return false;
        mqtt.setHostname(broker.host());
        mqtt.setPort(broker.port());
        mqtt.setClientId("lane-under-test");
        mqtt.setRetryMillis(300);
        mqtt.connect();
        // Ready once both services' retained status has been seen.
        return QTest::qWaitFor([this] { return issuer.state() == CardIssuer::Ready; }, 5000);
    }

    // Runs the event loop until the sequence has settled; its outcome, or "<pending>" as the error.
    static CardIssuer::Result finish(const Deferred<CardIssuer::Result>& d, int timeoutMs = 10000)
    {
        const auto result = std::make_shared<CardIssuer::Result>(CardIssuer::Result { Tag::Ptr(), "<pending>" });
        const auto keep = [result](const CardIssuer::Result& r) { *result = r; };
        d.done(keep).fail(keep);
        (void)QTest::qWaitFor([&result] { return result->error != "<pending>"; }, timeoutMs);
        return *result;
    }

    // A record as the lane engine issues it: no uid, one "entry" usage.
    static QSharedPointer<KSTVv1Card> record()
    {
        auto card = QSharedPointer<KSTVv1Card>::create();
        card->setCustomsId(1234);
        card->addUsageLog("entry", "TERM-01", "LOC-7");
        return card;
    }

    bool fault(const QString& op, const QString& mode, QJsonObject more = { { "times", 1 } })
    {
        more.insert("mode", mode);
        return sim->setFault(op, more);
    }

    // The simulator's cards at one place: "cartridge", "reader", "mouth", "bin" or "taken".
    QJsonValue cards(const QString& where) { return sim->state().value("cards").toObject().value(where); }
    int count(const QString& where) { return cards(where).toArray().size(); }
};

} // namespace

class TestCardIssuer : public QObject
{
    Q_OBJECT

private slots:
    void issuesACardEndToEnd()
    {
        Lane lane;
        QVERIFY(lane.start());
        LogCapture log;

        const CardIssuer::Result p = Lane::finish(lane.issuer.prepareCard());
        QCOMPARE(p.error, QString());
        QTRY_COMPARE(lane.issuer.reason(), QString("Card on RFID"));

        // The driver takes the card shortly after it is ejected; the issuer says so before it resolves.
        QVERIFY(lane.sim->setAutoTake(50));
        QList<Tag::Ptr> collected;
        connect(&lane.issuer, &CardIssuer::cardCollected, this, [&](Tag::Ptr card) { collected << card; });
        bool collectedBeforeResolve = false;
        const auto card = Lane::record();
        const Deferred<CardIssuer::Result> issued = lane.issuer.issueCard(card, 10);
        issued.done([&](const CardIssuer::Result&) { collectedBeforeResolve = collected.size() == 1; });
        const CardIssuer::Result i = Lane::finish(issued);
        QCOMPARE(i.error, QString());
        QVERIFY(collectedBeforeResolve);

        // Exactly the expected requests, numbered per client.
        QCOMPARE(lane.sim->journalLines(),
            QStringList({ "dispenser /issue 1", "rfid /enable 1", "rfid /disable 2", "rfid /enable 3",
                "rfid /card/create 4", "rfid /card/write 5", "rfid /disable 6", "dispenser /eject 2" }));
        // The record goes out with its own (empty) uid and type 0; the reply names the physical card.
        const QJsonObject write = lane.sim->journal().at(5).toObject().value("payload").toObject();
        QCOMPARE(
            write, QJsonObject({ { "uid", "" }, { "type", 0 }, { "template", "KSTVv1" }, { "data", card->data() } }));

        QTRY_COMPARE(lane.issuer.state(), CardIssuer::Ready);
    }

    void uncollectedCardIsTakenBack()
    {
        Lane lane;
        QVERIFY(lane.start());
        QCOMPARE(Lane::finish(lane.issuer.prepareCard()).error, QString());
        LogCapture log;
        QCOMPARE(Lane::finish(lane.issuer.issueCard(Lane::record(), 1)).error, QString("Card was not collected"));
        QVERIFY(log.contains(QtCriticalMsg, "[CardIssuer] ERROR: Card was not collected"));
        QCOMPARE(lane.sim->journalLines().last(), QString("dispenser /accept 3"));
        // Back on the reader, not handed out and not binned.
        QTRY_COMPARE(lane.cards("reader").toObject().value("uid").toString(), kFirstUid);

        // A failing retraction is logged, but the result still says why the card came back.
        QVERIFY(lane.fault("dispenser/accept", "refuse", { { "code", 4 }, { "text", "No card" } }));
        QCOMPARE(Lane::finish(lane.issuer.issueCard(Lane::record(), 1)).error, QString("Card was not collected"));
        QVERIFY(log.contains(QtCriticalMsg, "[CardIssuer] ERROR: Accept failed : No card"));
    }

    void deafReaderLeadsToTooManyFailures()
    {
        Lane lane;
        QVERIFY(lane.start());
        QVERIFY(lane.sim->setReader({ { "deaf", true } }));
        LogCapture log;
        int disposed = 0;
        connect(&lane.issuer, &CardIssuer::cardDisposed, this, [&](Tag::Ptr) { ++disposed; });
        for (int attempt = 1; attempt <= 4; ++attempt) {
            QCOMPARE(Lane::finish(lane.issuer.prepareCard()).error, QString("Failed to find card : Timeout"));
            QCOMPARE(lane.issuer.failCount(), attempt);
            QTRY_COMPARE(disposed, attempt);
        }
        QTRY_COMPARE(lane.issuer.state(), CardIssuer::Error);
        QCOMPARE(lane.issuer.reason(), QString("Too many failures"));
        QCOMPARE(lane.count("bin"), 4);

        // Refused at once, without a request and without an error line.
        const int requests = lane.sim->journal().size();
        log.clear();
        const Deferred<CardIssuer::Result> refused = lane.issuer.prepareCard();
        QCOMPARE(refused.state(), 2);
        QCOMPARE(Lane::finish(refused).error, QString("Too many failures"));
        QTest::qWait(200);
        QCOMPARE(lane.sim->journal().size(), requests);

        // Opening the cartridge door resets the counter; closing it makes the issuer ready again.
        QVERIFY(lane.sim->setDispenser({ { "doorOpen", true } }));
        QTRY_COMPARE(lane.issuer.reason(), QString("Cartridge door open"));
        QCOMPARE(lane.issuer.failCount(), 0);
        QVERIFY(lane.sim->setDispenser({ { "doorOpen", false } }));
        QTRY_COMPARE(lane.issuer.state(), CardIssuer::Ready);
    }

    void dispenserRefusals()
    {
        Lane lane;
        QVERIFY(lane.start());
        LogCapture log;

        // Code 14 means a card is already on the reader: the preparation goes on to read it
        // (no card really came, so the reading fails).
        QVERIFY(lane.fault("dispenser/issue", "refuse", { { "code", 14 }, { "text", "In RFID" }, { "times", 1 } }));
        QCOMPARE(Lane::finish(lane.issuer.prepareCard()).error, QString("Failed to find card : Timeout"));
        QVERIFY(lane.sim->journalLines().contains("rfid /enable 1"));

        // Any other code ends the preparation, and nothing is disposed for it.
        QVERIFY(lane.sim->clearJournal());
        QVERIFY(lane.fault("dispenser/issue", "refuse", { { "code", 3 }, { "text", "Empty" }, { "times", 1 } }));
        QCOMPARE(Lane::finish(lane.issuer.prepareCard()).error, QString("Issue failed : Empty"));
        QCOMPARE(lane.sim->journalLines(), QStringList({ "dispenser /issue 3" }));

        // A good card clears the failures before it: failures spread over the day never add up.
        QCOMPARE(lane.issuer.failCount(), 1);
        QVERIFY(lane.sim->setAutoTake(20));
        QCOMPARE(Lane::finish(lane.issuer.issueCard(Lane::record(), 10)).error, QString());
        QCOMPARE(lane.issuer.failCount(), 0);
    }

    void failedFinalDisableKeepsTheCard()
    {
        Lane lane;
        QVERIFY(lane.start());
        LogCapture log;
        QVERIFY(lane.fault("rfid/disable", "refuse", { { "text", "Busy" } }));
        const CardIssuer::Result p = Lane::finish(lane.issuer.prepareCard());
        QCOMPARE(p.error, QString());
        QVERIFY(log.contains(QtWarningMsg, "[CardIssuer] WARN: RFID disable failed : Busy"));
        QVERIFY(!log.contains("[CardIssuer] RFID disabled"));

        // The disable after writing fails too: the written card is still handed out.
        QVERIFY(lane.sim->setAutoTake(20));
        QCOMPARE(Lane::finish(lane.issuer.issueCard(Lane::record(), 10)).error, QString());
        QVERIFY(lane.sim->journalLines().filter("/dispose").isEmpty());
    }

    void preparationsAreShared()
    {
        Lane lane;
        QVERIFY(lane.start());
        QVERIFY(lane.fault("dispenser/issue", "delay", { { "ms", 300 } }));
        QVERIFY(lane.sim->setAutoTake(20));
        const Deferred<CardIssuer::Result> prepared = lane.issuer.prepareCard();
        const Deferred<CardIssuer::Result> again = lane.issuer.prepareCard();
        const Deferred<CardIssuer::Result> issued = lane.issuer.issueCard(Lane::record(), 10);
        QCOMPARE(Lane::finish(issued).error, QString());
        QCOMPARE(Lane::finish(prepared).card->uid(), kFirstUid);
        QCOMPARE(Lane::finish(again).card->uid(), kFirstUid);
        QCOMPARE(lane.sim->journalLines().filter("/issue"), QStringList({ "dispenser /issue 1" }));
        QCOMPARE(lane.count("taken"), 1);
    }

    void requestTimeouts()
    {
        Lane lane;
        QVERIFY(lane.start());
        lane.rfid.setRequestTimeout(300);
        lane.dispenser.setRequestTimeout(300);

        // Reader enable unanswered while preparing: the card is disposed.
        QVERIFY(lane.fault("rfid/enable", "noreply"));
        QCOMPARE(Lane::finish(lane.issuer.prepareCard()).error, QString("RFID enable failed : Timeout"));
        QVERIFY(lane.sim->waitForRequest("dispenser /dispose 2"));

        // A write unanswered: the card is disposed by the issuing sequence.
        QTRY_COMPARE(lane.issuer.state(), CardIssuer::Ready);
        QCOMPARE(Lane::finish(lane.issuer.prepareCard()).error, QString());
        QVERIFY(lane.fault("rfid/card/write", "noreply"));
        QCOMPARE(Lane::finish(lane.issuer.issueCard(Lane::record(), 5)).error, QString("Write card failed : Timeout"));
        QTRY_COMPARE(lane.count("bin"), 2);
    }

    void devicesFailDuringASequence()
    {
        Lane lane;
        QVERIFY(lane.start());
        QCOMPARE(Lane::finish(lane.issuer.prepareCard()).error, QString());

        // A jam after the card was written: the eject is refused and the card stays on the reader.
        QVERIFY(lane.sim->setDispenser({ { "jammed", true } }));
        QTRY_COMPARE(lane.issuer.reason(), QString("Dispenser jammed"));
        QCOMPARE(Lane::finish(lane.issuer.issueCard(Lane::record(), 5)).error,
            QString("Failed to eject card : Dispenser jammed"));
        QCOMPARE(lane.cards("reader").toObject().value("uid").toString(), kFirstUid);

        // The cartridge door opened while the driver is still to take the card: the
        // issuer reports the fault, the handing over itself goes on.
        QVERIFY(lane.sim->setDispenser({ { "jammed", false } }));
        const Deferred<CardIssuer::Result> issued = lane.issuer.issueCard(Lane::record(), 10);
        QTRY_COMPARE(lane.issuer.reason(), QString("Card in Mouth"));
        QVERIFY(lane.sim->setDispenser({ { "doorOpen", true } }));
        QTRY_COMPARE(lane.issuer.reason(), QString("Cartridge door open"));
        QVERIFY(lane.sim->take());
        QCOMPARE(Lane::finish(issued).error, QString());
        QCOMPARE(lane.count("taken"), 1);
        QVERIFY(lane.sim->setDispenser({ { "doorOpen", false } }));
        QTRY_COMPARE(lane.issuer.state(), CardIssuer::Ready);
    }

    // The lane engine that owns an issuer is replaced at run time, possibly mid-sequence.
    void destroyedDuringASequence()
    {
        Lane lane;
        QVERIFY(lane.start());
        QVERIFY(lane.fault("dispenser/issue", "delay", { { "ms", 200 } }));
        auto issuer = std::make_unique<CardIssuer>(lane.rfid, lane.dispenser);
        const Deferred<CardIssuer::Result> issued = issuer->issueCard(Lane::record(), 10);
        const Deferred<CardIssuer::Result> prepared = issuer->prepareCard();
        issuer.reset();
        QCOMPARE(Lane::finish(issued, 0).error, QString("Card issuer stopped"));
        QCOMPARE(Lane::finish(prepared, 0).error, QString("Card issuer stopped"));
        // The replies still come, to clients that outlive the issuer; nothing else is asked of the devices.
        QVERIFY(lane.sim->waitForRequest("dispenser /issue 1"));
        QTest::qWait(400);
        QCOMPARE(lane.sim->journalLines(), QStringList({ "dispenser /issue 1" }));
        QTRY_COMPARE(lane.issuer.reason(), QString("Card on RFID"));
    }
};

QTEST_GUILESS_MAIN(TestCardIssuer)
#include "tst_CardIssuer.moc"

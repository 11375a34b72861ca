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

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using manager::CardIssuer;

namespace {

// One lane's card devices on their own broker.
class Lane
{
public:
    explicit Lane(const QStringList& simulatorArgs = { QStringLiteral("--detect-delay-ms"), QStringLiteral("0") })
        : m_simulatorArgs(simulatorArgs)
    {
    }

    bool start()
    {
        if (!broker.start())
            return false;
        sim = std::make_unique<DeviceSimulator>(broker.port(), m_simulatorArgs);
        if (!sim->start())
            return false;
        mqtt.setHostname(broker.host());
        mqtt.setPort(broker.port());
        mqtt.setClientId(QStringLiteral("lane-under-test"));
        mqtt.setRetryMillis(300);
        rfid = std::make_unique<manager::RFID>(mqtt, sim->rfidRoot());
        dispenser = std::make_unique<manager::Dispenser>(mqtt, sim->dispenserRoot());
        issuer = std::make_unique<CardIssuer>(*rfid, *dispenser);
        mqtt.connect();
        // Ready once both services' retained status has been seen.
        return QTest::qWaitFor([this] { return issuer->state() == CardIssuer::Ready; }, 5000);
    }

    // Runs the event loop until the sequence has settled.
    static bool settle(const Deferred<CardIssuer::Result>& d, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&d] { return !d.isPending(); }, timeoutMs);
    }

    static CardIssuer::Result outcome(const Deferred<CardIssuer::Result>& d)
    {
        CardIssuer::Result result;
        d.done([&](const CardIssuer::Result& r) { result = r; });
        d.fail([&](const CardIssuer::Result& r) { result = r; });
        return result;
    }

    // The record the lane engine issues: no uid, customs id, status "active",
    // one "entry" usage, counter raised after it.
    static QSharedPointer<KSTVv1Card> record()
    {
        auto card = QSharedPointer<KSTVv1Card>::create();
        card->setCustomsId(1234);
        card->setStatus(QStringLiteral("active"));
        card->addUsageLog(QStringLiteral("entry"), QStringLiteral("TERM-01"), QStringLiteral("LOC-7"));
        card->incrUsageCounter(1);
        return card;
    }

    QJsonObject cards() { return sim->state().value(QStringLiteral("cards")).toObject(); }

    MosquittoBroker broker;
    std::unique_ptr<DeviceSimulator> sim;
    manager::MqttClient mqtt;
    std::unique_ptr<manager::RFID> rfid;
    std::unique_ptr<manager::Dispenser> dispenser;
    std::unique_ptr<CardIssuer> issuer;

private:
    QStringList m_simulatorArgs;
};

const QString kFirstUid = QStringLiteral("04000000000001");

} // namespace

class TestCardIssuer : public QObject
{
    Q_OBJECT

private slots:
    void issuesACardEndToEnd();
    void issueWithoutPreparedCardPreparesFirst();
    void uncollectedCardIsTakenBack();
    void deafReaderLeadsToTooManyFailures();
    void dispenserRefusals();
    void failedFinalDisableKeepsTheCard();
    void overlappingCallsShareOnePreparation();
    void requestTimeouts();
    void stateFollowsTheDevices();
    void removalSeenAcrossBrokerRestart();
    void collectTimeoutOfZeroUsesDefault();
};

void TestCardIssuer::issuesACardEndToEnd()
{
    Lane lane;
    QVERIFY(lane.start());
    LogCapture log;

    const Deferred<CardIssuer::Result> prepared = lane.issuer->prepareCard();
    QVERIFY(Lane::settle(prepared));
    const CardIssuer::Result p = Lane::outcome(prepared);
    QCOMPARE(p.error, QString());
    QVERIFY(p.card);
    QCOMPARE(p.card->uid(), kFirstUid);
    QCOMPARE(lane.issuer->currCard()->uid(), kFirstUid);
    QTRY_COMPARE(lane.issuer->state(), CardIssuer::Busy);
    QCOMPARE(lane.issuer->reason(), QStringLiteral("Card on RFID"));

    // The driver takes the card shortly after it is ejected.
    QVERIFY(lane.sim->setAutoTake(50));
    QList<Tag::Ptr> collected;
    QObject::connect(lane.issuer.get(), &CardIssuer::cardCollected, [&](Tag::Ptr card) { collected << card; });
    bool collectedBeforeResolve = false;
    const auto card = Lane::record();
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(card, 10);
    issued.done([&](const CardIssuer::Result&) { collectedBeforeResolve = collected.size() == 1; });
    QVERIFY(Lane::settle(issued));
    const CardIssuer::Result i = Lane::outcome(issued);
    QCOMPARE(i.error, QString());
    QVERIFY(!i.card);
    QVERIFY(collectedBeforeResolve);
    const Tag::Ptr handedOver = collected.first();
    QVERIFY(handedOver);
    QCOMPARE(handedOver->uid(), kFirstUid);
    QVERIFY(!lane.issuer->currCard());

    // Exactly the expected requests, numbered per client.
    QCOMPARE(lane.sim->journalLines(),
        (QStringList { "dispenser /issue 1", "rfid /enable 1", "rfid /disable 2", "rfid /enable 3",
            "rfid /card/create 4", "rfid /card/write 5", "rfid /disable 6", "dispenser /eject 2" }));
    // The record goes out with its own (empty) uid and type 0; the reply names the physical card.
    const QJsonArray journal = lane.sim->journal();
    const QJsonObject write = journal.at(5).toObject().value(QStringLiteral("payload")).toObject();
    QCOMPARE(write.value(QStringLiteral("uid")).toString(), QString());
    QCOMPARE(write.value(QStringLiteral("type")).toInt(), 0);
    QCOMPARE(write.value(QStringLiteral("template")).toString(), QStringLiteral("KSTVv1"));
    QCOMPARE(write.value(QStringLiteral("data")).toObject(), card->data());

    const QJsonObject cards = lane.cards();
    QCOMPARE(cards.value(QStringLiteral("taken")).toArray().size(), 1);
    QCOMPARE(cards.value(QStringLiteral("bin")).toArray().size(), 0);

    const QStringList lines = log.startingWith(QStringLiteral("[CardIssuer] "));
    for (const QString& expected :
        { QStringLiteral("[CardIssuer] Moving card on RFID"), QStringLiteral("[CardIssuer] Reading card UID"),
            QStringLiteral("[CardIssuer] RFID enabled."), QStringLiteral("[CardIssuer] Card found : ") + kFirstUid,
            QStringLiteral("[CardIssuer] RFID disabled"), QStringLiteral("[CardIssuer] Card present. Issuing."),
            QStringLiteral("[CardIssuer] Creating card : KSTVv1"),
            QStringLiteral("[CardIssuer] Writing card : ") + kFirstUid,
            QStringLiteral("[CardIssuer] Card written successfully : ") + kFirstUid,
            QStringLiteral("[CardIssuer] Ejecting card"), QStringLiteral("[CardIssuer] Card ejected successfully"),
            QStringLiteral("[CardIssuer] Waiting for card to be collected (timeout=10 sec)"),
            QStringLiteral("[CardIssuer] Card collected successfully") })
        QVERIFY2(lines.contains(expected), qPrintable(expected));
    QVERIFY(log.texts(QtCriticalMsg).isEmpty());
    QTRY_COMPARE(lane.issuer->state(), CardIssuer::Ready);
}

void TestCardIssuer::issueWithoutPreparedCardPreparesFirst()
{
    Lane lane;
    QVERIFY(lane.start());
    QVERIFY(lane.sim->setAutoTake(20));
    LogCapture log;
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 10);
    QVERIFY(Lane::settle(issued));
    QCOMPARE(Lane::outcome(issued).error, QString());
    QVERIFY(log.contains(QtWarningMsg, QStringLiteral("[CardIssuer] WARN: Card not present. Preparing.")));
    QCOMPARE(lane.sim->journalLines().first(), QStringLiteral("dispenser /issue 1"));
    QCOMPARE(lane.sim->journalLines().last(), QStringLiteral("dispenser /eject 2"));
}

void TestCardIssuer::uncollectedCardIsTakenBack()
{
    Lane lane;
    QVERIFY(lane.start());
    QVERIFY(Lane::settle(lane.issuer->prepareCard()));
    LogCapture log;
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 1);
    QVERIFY(Lane::settle(issued, 8000));
    QCOMPARE(Lane::outcome(issued).error, QStringLiteral("Card was not collected"));
    QVERIFY(log.contains(QtCriticalMsg, QStringLiteral("[CardIssuer] ERROR: Card was not collected")));
    QVERIFY(log.contains(QStringLiteral("[CardIssuer] Retracting card : ") + kFirstUid));
    QCOMPARE(lane.sim->journalLines().last(), QStringLiteral("dispenser /accept 3"));
    // Back on the reader, not handed out and not binned.
    QTRY_COMPARE(
        lane.cards().value(QStringLiteral("reader")).toObject().value(QStringLiteral("uid")).toString(), kFirstUid);

    // A failing retraction is logged, but the result still says why the card came back.
    QVERIFY(lane.sim->setFault(QStringLiteral("dispenser/accept"),
        { { QStringLiteral("mode"), QStringLiteral("refuse") }, { QStringLiteral("code"), 4 },
            { QStringLiteral("text"), QStringLiteral("No card") } }));
    const Deferred<CardIssuer::Result> again = lane.issuer->issueCard(Lane::record(), 1);
    QVERIFY(Lane::settle(again, 8000));
    QCOMPARE(Lane::outcome(again).error, QStringLiteral("Card was not collected"));
    QVERIFY(log.contains(QtCriticalMsg, QStringLiteral("[CardIssuer] ERROR: Accept failed : No card")));
}

void TestCardIssuer::deafReaderLeadsToTooManyFailures()
{
    Lane lane;
    QVERIFY(lane.start());
    QVERIFY(lane.sim->setReader({ { QStringLiteral("deaf"), true } }));
    LogCapture log;
    int disposed = 0;
    QObject::connect(lane.issuer.get(), &CardIssuer::cardDisposed, [&](Tag::Ptr) { ++disposed; });
    for (int attempt = 1; attempt <= 4; ++attempt) {
        const Deferred<CardIssuer::Result> prepared = lane.issuer->prepareCard();
        QVERIFY(Lane::settle(prepared));
        QCOMPARE(Lane::outcome(prepared).error, QStringLiteral("Failed to find card : Timeout"));
        QCOMPARE(lane.issuer->failCount(), attempt);
        QTRY_COMPARE(disposed, attempt);
    }
    QVERIFY(log.contains(QStringLiteral("[CardIssuer] Incremented fail counter : 4")));
    QTRY_COMPARE(lane.issuer->state(), CardIssuer::Error);
    QCOMPARE(lane.issuer->reason(), QStringLiteral("Too many failures"));
    QCOMPARE(lane.cards().value(QStringLiteral("bin")).toArray().size(), 4);

    // Refused at once, without a request and without an error line.
    const int requests = lane.sim->journal().size();
    log.clear();
    const Deferred<CardIssuer::Result> refused = lane.issuer->prepareCard();
    QCOMPARE(refused.state(), 2);
    QCOMPARE(Lane::outcome(refused).error, QStringLiteral("Too many failures"));
    QTest::qWait(200);
    QCOMPARE(lane.sim->journal().size(), requests);
    QVERIFY(log.texts(QtCriticalMsg).isEmpty());

    // Opening the cartridge door resets the counter; closing it makes the issuer ready again.
    QVERIFY(lane.sim->setDispenser({ { QStringLiteral("doorOpen"), true } }));
    QTRY_COMPARE(lane.issuer->reason(), QStringLiteral("Cartridge door open"));
    QCOMPARE(lane.issuer->failCount(), 0);
    QVERIFY(log.contains(QStringLiteral("[CardIssuer] Reset fail counter : 0")));
    QVERIFY(lane.sim->setDispenser({ { QStringLiteral("doorOpen"), false } }));
    QTRY_COMPARE(lane.issuer->state(), CardIssuer::Ready);
}

void TestCardIssuer::dispenserRefusals()
{
    Lane lane;
    QVERIFY(lane.start());
    LogCapture log;

    // Code 14 means a card is already on the reader: the preparation goes on to read it.
    QVERIFY(lane.sim->setFault(QStringLiteral("dispenser/issue"),
        { { QStringLiteral("mode"), QStringLiteral("refuse") }, { QStringLiteral("code"), 14 },
            { QStringLiteral("text"), QStringLiteral("In RFID") }, { QStringLiteral("times"), 1 } }));
    const Deferred<CardIssuer::Result> d14 = lane.issuer->prepareCard();
    QVERIFY(Lane::settle(d14));
    QVERIFY(lane.sim->journalLines().contains(QStringLiteral("rfid /enable 1")));
    QVERIFY(!log.contains(QtCriticalMsg, QStringLiteral("[CardIssuer] ERROR: Issue failed : In RFID")));
    // (No card really came, so the reading fails and the empty position is "disposed".)
    QCOMPARE(Lane::outcome(d14).error, QStringLiteral("Failed to find card : Timeout"));

    // Any other code ends the preparation, and nothing is disposed for it.
    QVERIFY(lane.sim->clearJournal());
    QVERIFY(lane.sim->setFault(QStringLiteral("dispenser/issue"),
        { { QStringLiteral("mode"), QStringLiteral("refuse") }, { QStringLiteral("code"), 3 },
            { QStringLiteral("text"), QStringLiteral("Empty") }, { QStringLiteral("times"), 1 } }));
    const Deferred<CardIssuer::Result> d3 = lane.issuer->prepareCard();
    QVERIFY(Lane::settle(d3));
    QCOMPARE(Lane::outcome(d3).error, QStringLiteral("Issue failed : Empty"));
    QCOMPARE(lane.sim->journalLines(), QStringList { QStringLiteral("dispenser /issue 3") });

    // A refused eject leaves the card where it is: neither retracted nor disposed.
    QTRY_COMPARE(lane.issuer->state(), CardIssuer::Ready);
    QVERIFY(Lane::settle(lane.issuer->prepareCard()));
    QVERIFY(lane.sim->clearJournal());
    QVERIFY(lane.sim->setFault(QStringLiteral("dispenser/eject"),
        { { QStringLiteral("mode"), QStringLiteral("refuse") }, { QStringLiteral("code"), 1 },
            { QStringLiteral("text"), QStringLiteral("Jammed") }, { QStringLiteral("times"), 1 } }));
    const Deferred<CardIssuer::Result> ejected = lane.issuer->issueCard(Lane::record(), 5);
    QVERIFY(Lane::settle(ejected));
    QCOMPARE(Lane::outcome(ejected).error, QStringLiteral("Failed to eject card : Jammed"));
    const QStringList lines = lane.sim->journalLines();
    QCOMPARE(lines.last(), QStringLiteral("dispenser /eject 5"));
    QVERIFY(lane.cards().value(QStringLiteral("reader")).isObject());
}

void TestCardIssuer::failedFinalDisableKeepsTheCard()
{
    Lane lane;
    QVERIFY(lane.start());
    LogCapture log;
    QVERIFY(lane.sim->setFault(QStringLiteral("rfid/disable"),
        { { QStringLiteral("mode"), QStringLiteral("refuse") }, { QStringLiteral("text"), QStringLiteral("Busy") } }));
    const Deferred<CardIssuer::Result> prepared = lane.issuer->prepareCard();
    QVERIFY(Lane::settle(prepared));
    const CardIssuer::Result p = Lane::outcome(prepared);
    QCOMPARE(p.error, QString());
    QCOMPARE(p.card->uid(), kFirstUid);
    QVERIFY(log.contains(QtWarningMsg, QStringLiteral("[CardIssuer] WARN: RFID disable failed : Busy")));

    QVERIFY(lane.sim->setAutoTake(20));
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 10);
    QVERIFY(Lane::settle(issued));
    QCOMPARE(Lane::outcome(issued).error, QString());
    QVERIFY(lane.sim->journalLines().filter(QStringLiteral("/dispose")).isEmpty());
    QCOMPARE(lane.cards().value(QStringLiteral("taken")).toArray().size(), 1);
    QCOMPARE(lane.issuer->failCount(), 0);
}

void TestCardIssuer::overlappingCallsShareOnePreparation()
{
    Lane lane;
    QVERIFY(lane.start());
    QVERIFY(lane.sim->setFault(QStringLiteral("dispenser/issue"),
        { { QStringLiteral("mode"), QStringLiteral("delay") }, { QStringLiteral("ms"), 300 } }));
    QVERIFY(lane.sim->setAutoTake(20));
    const Deferred<CardIssuer::Result> prepared = lane.issuer->prepareCard();
    const Deferred<CardIssuer::Result> again = lane.issuer->prepareCard();
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 10);
    QVERIFY(Lane::settle(issued));
    QCOMPARE(Lane::outcome(prepared).card->uid(), kFirstUid);
    QCOMPARE(Lane::outcome(again).card->uid(), kFirstUid);
    QCOMPARE(Lane::outcome(issued).error, QString());
    QCOMPARE(lane.sim->journalLines().count(QStringLiteral("dispenser /issue 1")), 1);
    QCOMPARE(lane.sim->journalLines().filter(QStringLiteral("/issue")).size(), 1);
    QCOMPARE(lane.cards().value(QStringLiteral("taken")).toArray().size(), 1);
    QCOMPARE(lane.cards().value(QStringLiteral("cartridge")).toArray().size(), 49);
}

void TestCardIssuer::requestTimeouts()
{
    Lane lane;
    QVERIFY(lane.start());
    lane.rfid->setRequestTimeout(300);
    lane.dispenser->setRequestTimeout(300);
    LogCapture log;

    // Reader enable unanswered while preparing: the card is disposed.
    QVERIFY(lane.sim->setFault(QStringLiteral("rfid/enable"),
        { { QStringLiteral("mode"), QStringLiteral("noreply") }, { QStringLiteral("times"), 1 } }));
    const Deferred<CardIssuer::Result> prepared = lane.issuer->prepareCard();
    QVERIFY(Lane::settle(prepared));
    QCOMPARE(Lane::outcome(prepared).error, QStringLiteral("RFID enable failed : Timeout"));
    QVERIFY(lane.sim->waitForRequest(QStringLiteral("dispenser /dispose 2")));

    // Create and write unanswered: the card is disposed by the issuing sequence.
    struct Case
    {
        QString op;
        QString error;
    };
    for (const Case& c : { Case { QStringLiteral("rfid/card/create"), QStringLiteral("Create card failed : Timeout") },
             Case { QStringLiteral("rfid/card/write"), QStringLiteral("Write card failed : Timeout") } }) {
        QTRY_COMPARE(lane.issuer->state(), CardIssuer::Ready);
        QVERIFY(Lane::settle(lane.issuer->prepareCard()));
        QVERIFY(lane.sim->setFault(
            c.op, { { QStringLiteral("mode"), QStringLiteral("noreply") }, { QStringLiteral("times"), 1 } }));
        const int disposedBefore = lane.cards().value(QStringLiteral("bin")).toArray().size();
        const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 5);
        QVERIFY(Lane::settle(issued));
        QCOMPARE(Lane::outcome(issued).error, c.error);
        QTRY_COMPARE(lane.cards().value(QStringLiteral("bin")).toArray().size(), disposedBefore + 1);
    }

    // An eject that gets no answer: nothing is retracted or disposed.
    QTRY_COMPARE(lane.issuer->state(), CardIssuer::Ready);
    QVERIFY(Lane::settle(lane.issuer->prepareCard()));
    QVERIFY(lane.sim->setFault(QStringLiteral("dispenser/eject"),
        { { QStringLiteral("mode"), QStringLiteral("noreply") }, { QStringLiteral("times"), 1 } }));
    QVERIFY(lane.sim->clearJournal());
    const Deferred<CardIssuer::Result> ejected = lane.issuer->issueCard(Lane::record(), 5);
    QVERIFY(Lane::settle(ejected));
    QCOMPARE(Lane::outcome(ejected).error, QStringLiteral("Failed to eject card : Timeout"));
    QTest::qWait(100);
    QVERIFY(lane.sim->journalLines().filter(QRegularExpression(QStringLiteral("dispose|accept"))).isEmpty());
    QCOMPARE(lane.issuer->failCount(), 0); // the write succeeded
}

void TestCardIssuer::stateFollowsTheDevices()
{
    Lane lane;
    QVERIFY(lane.start());
    QCOMPARE(lane.issuer->reason(), QString());
    LogCapture log;
    struct Step
    {
        QString device;
        QJsonObject change;
        CardIssuer::State state;
        QString reason;
    };
    const QList<Step> steps {
        { "dispenser", { { "jammed", true } }, CardIssuer::Error, "Dispenser jammed" },
        { "dispenser", { { "active", false } }, CardIssuer::Error, "Dispenser error" },
        { "dispenser", { { "doorOpen", true } }, CardIssuer::Error, "Cartridge door open" },
        { "rfid", { { "state", "updating" } }, CardIssuer::Init, "RFID updating" },
        { "rfid", { { "state", "error" }, { "error", "Antenna" } }, CardIssuer::Error, "RFID error" },
        { "rfid", { { "state", "ok" } }, CardIssuer::Error, "Cartridge door open" },
        { "dispenser", { { "doorOpen", false }, { "active", true } }, CardIssuer::Error, "Dispenser jammed" },
        { "dispenser", { { "jammed", false } }, CardIssuer::Ready, "" },
        { "dispenser", { { "offline", true } }, CardIssuer::Error, "Dispenser error" },
        { "dispenser", { { "offline", false } }, CardIssuer::Ready, "" },
        { "rfid", { { "offline", true } }, CardIssuer::Error, "RFID error" },
        { "rfid", { { "offline", false } }, CardIssuer::Ready, "" },
    };
    for (const Step& step : steps) {
        const bool applied = step.device == QLatin1String("rfid") ? lane.sim->setReader(step.change)
                                                                  : lane.sim->setDispenser(step.change);
        QVERIFY(applied);
        QTRY_VERIFY2(lane.issuer->state() == step.state && lane.issuer->reason() == step.reason,
            qPrintable(
                QStringLiteral("%1 %2: got %3 %4")
                    .arg(step.device, QString::fromUtf8(QJsonDocument(step.change).toJson(QJsonDocument::Compact)),
                        CardIssuer::stateToStr(lane.issuer->state()), lane.issuer->reason())));
    }
    QVERIFY(log.contains(QStringLiteral("[CardIssuer] State changed : (3) Error (reason=Dispenser jammed)")));
    QVERIFY(log.contains(QStringLiteral("[CardIssuer] State changed : (2) Ready ")));

    // A card on the reader, then in the mouth, makes the issuer busy.
    QVERIFY(Lane::settle(lane.issuer->prepareCard()));
    QTRY_COMPARE(lane.issuer->reason(), QStringLiteral("Card on RFID"));
    QVERIFY(
        lane.sim->setFault(QStringLiteral("dispenser/eject"), { { QStringLiteral("mode"), QStringLiteral("none") } }));
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 10);
    QTRY_COMPARE(lane.issuer->reason(), QStringLiteral("Card in Mouth"));
    QVERIFY(lane.sim->take());
    QVERIFY(Lane::settle(issued));
    QTRY_COMPARE(lane.issuer->state(), CardIssuer::Ready);
}

void TestCardIssuer::removalSeenAcrossBrokerRestart()
{
    Lane lane;
    QVERIFY(lane.start());
    QVERIFY(Lane::settle(lane.issuer->prepareCard()));
    QSignalSpy disconnected(&lane.mqtt, &manager::MqttClient::disconnected);
    QSignalSpy connected(&lane.mqtt, &manager::MqttClient::connected);
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 30);
    QVERIFY(lane.sim->waitForRequest(QStringLiteral("dispenser /eject 2")));
    QTRY_COMPARE(lane.issuer->reason(), QStringLiteral("Card in Mouth"));

    lane.broker.kill();
    QTRY_VERIFY(disconnected.count() >= 1);
    QVERIFY(lane.broker.start());
    QTRY_VERIFY_WITH_TIMEOUT(connected.count() >= 1, 10000);
    QTest::qWait(300); // let the renewed subscriptions reach the broker
    // The simulator reconnects on its own; wait until it answers control commands again.
    QVERIFY(QTest::qWaitFor([&] { return lane.sim->take(); }, 10000));
    QVERIFY(Lane::settle(issued));
    QCOMPARE(Lane::outcome(issued).error, QString());
}

void TestCardIssuer::collectTimeoutOfZeroUsesDefault()
{
    Lane lane;
    QVERIFY(lane.start());
    QVERIFY(lane.sim->setAutoTake(50));
    LogCapture log;
    const Deferred<CardIssuer::Result> issued = lane.issuer->issueCard(Lane::record(), 0);
    QVERIFY(Lane::settle(issued));
    QCOMPARE(Lane::outcome(issued).error, QString());
    QVERIFY(
        log.contains(QtWarningMsg, QStringLiteral("[CardIssuer] WARN: Invalid collect timeout 0 sec. Using 60 sec")));
    QVERIFY(log.contains(QStringLiteral("[CardIssuer] Waiting for card to be collected (timeout=60 sec)")));
}

QTEST_GUILESS_MAIN(TestCardIssuer)
#include "tst_CardIssuer.moc"

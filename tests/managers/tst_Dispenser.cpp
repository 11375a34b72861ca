// The card dispenser client over a real broker: a raw MQTT peer plays the
// dispenser service message by message (the card issuer test runs it against the simulator).

#include "DeviceClientRig.h"
#include "Dispenser.h"
#include "LogCapture.h"

#include <QMetaProperty>
#include <QTest>

#include <limits>

using manager::Dispenser;

namespace {

const QString D = "lane/dispenser";

} // namespace

class TestDispenser : public QObject
{
    Q_OBJECT

public slots:
    void noteChange() { m_changes << QString(sender()->metaObject()->method(senderSignalIndex()).name()).chopped(7); }

private slots:
    void messages()
    {
        DeviceClientRig rig("lane");
        Dispenser dispenser(rig.client, D);
        QVERIFY(rig.up());
        LogCapture log;
        const auto lines = [&log] { return log.startingWith("[Dispenser] "); };

        // Every change signal, recorded by name.
        const QMetaObject* meta = dispenser.metaObject();
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
            connect(&dispenser, meta->property(i).notifySignal(), this,
                metaObject()->method(metaObject()->indexOfSlot("noteChange()")));

        const QByteArray info
            = R"({"device":{"firmware":"3.2","manufacturer":"CardCo","model":"CD-100","uid":"x"},"service":{"version":"0.9"}})";
        QVERIFY(rig.feed(D + "/info", info));
        QVERIFY(rig.feed(D + "/info", info)); // the same again: nothing
        QCOMPARE(m_changes, QStringList({ "firmware", "manufacturer", "model", "software" }));
        QCOMPARE(QStringList({ dispenser.property("model").toString(), dispenser.manufacturer(), dispenser.firmware(),
                     dispenser.software() }),
            QStringList({ "CD-100", "CardCo", "3.2", "0.9" }));

        const QStringList sensors { "active", "isJammed", "isDoorOpen", "cardInMouth", "cardInRfid", "cartridge",
            "cartridgePercent" };
        const QByteArray full = R"({"service":true,"device":{"active":true,"isJammed":true,"isCartridgeDoorOpen":true,
            "cardInMouth":true,"cardInRfid":true,"cartridge":"reserve","cartridgePercent":15}})";
        m_changes.clear();
        QVERIFY(rig.feed(D + "/status", full));
        QVERIFY(rig.feed(D + "/status", full)); // the same again: nothing
        QCOMPARE(m_changes, sensors);
        QCOMPARE(lines(),
            QStringList({ "[Dispenser] Active changed : true", "[Dispenser] Jammed changed : true",
                "[Dispenser] Door state changed : Open" }));
        QVERIFY(dispenser.isJammed() && dispenser.isDoorOpen() && dispenser.cardInMouth() && dispenser.cardInRfid());
        QCOMPARE(dispenser.cartridgePercent(), 15);

        // The service down: only active changes, whatever else the message says.
        for (const char* down :
            { R"({"device":{"active":true,"isJammed":false}})", R"({"service":"true","device":{"active":true}})" }) {
            QVERIFY(rig.feed(D + "/status", full));
            m_changes.clear();
            QVERIFY(rig.feed(D + "/status", down));
            QCOMPARE(m_changes, QStringList({ "active" }));
            QVERIFY(!dispenser.active());
        }

        QSignalSpy accepted(&dispenser, &Dispenser::cardAccepted);
        QSignalSpy removed(&dispenser, &Dispenser::cardRemoved);
        QSignalSpy disposed(&dispenser, &Dispenser::cardDisposed);
        log.clear();
        m_changes.clear();

        // An empty payload, or one cut at a NUL, counts as the object before it.
        QVERIFY(rig.feed(D + "/card/inserted", "{}"));
        QVERIFY(rig.feed(D + "/card/removed", ""));
        QVERIFY(rig.feed(D + "/card/disposed", R"({"uid":"04000000000001"})"));
        QVERIFY(rig.feed(D + "/card/inserted", QByteArray("{}\0trailing", 11)));
        QVERIFY(rig.feed(D + "/card/disposed", QByteArray("\0{", 2)));
        QCOMPARE(QList<int>({ accepted.count(), removed.count(), disposed.count() }), QList<int>({ 2, 1, 2 }));
        QCOMPARE(log.texts(QtCriticalMsg), QStringList());

        // Not JSON: one line with the topic and text, and no effect.
        QVERIFY(rig.feed(D + "/status", R"({"service":true,"device":{"active":true})"));
        QCOMPARE(log.texts(QtCriticalMsg).size(), 1);

        // Topics that contain the root but are none of the five, and topics without it.
        for (const QString& topic : { D + "/card/removed/1", "site/" + D + "/status", D + "/Card/removed" })
            dispenser.onMqttReceived(R"({"service":false})", topic);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(m_changes, QStringList());
    }

    void requestsAndReplies()
    {
        DeviceClientRig rig("lane");
        Dispenser dispenser(rig.client, D);
        QVERIFY(rig.up());

        using Call = Deferred<Dispenser::Result> (Dispenser::*)();
        const QList<std::tuple<QString, Call, QByteArray, int, int, QString>> cases {
            { "/accept", &Dispenser::accept, R"({"completed":true,"data":{"code":9}})", 1, 0, "" },
            { "/issue", &Dispenser::issue, R"({"completed":false,"error":{"code":3,"description":"Cartridge empty"}})",
                2, 3, "Cartridge empty" },
            { "/eject", &Dispenser::eject, R"({"data":{},"error":{"code":5}})", 2, 5, "" },
            { "/collect", &Dispenser::collect, "[{]", 2, -1, "Invalid response" },
            { "/accept/disable", &Dispenser::disableAccept,
                R"({"completed":"true","error":{"code":"14","description":7}})", 2, 0, "" },
            { "/issue", &Dispenser::issue,
                R"({"completed":false,"error":{"code":14,"description":"Card already in RFID position"}})", 2, 14,
                "Card already in RFID position" },
        };
        int id = 0;
        for (const auto& [path, call, reply, state, code, description] : cases) {
            const int from = rig.peer.count();
            const QString rpcId = QString::number(++id);
            auto out = rig.exchange(D + path, rpcId, (dispenser.*call)(), reply);
            QCOMPARE(out->request, QByteArray("{}"));
            QCOMPARE(out->state, state);
            QCOMPARE(out->value.code, code);
            QCOMPARE(out->value.description, description);
            // Nothing else went out with it.
            QCOMPARE(rig.seen(from, rig.mark()),
                QStringList({ D + path + "/request/" + rpcId, D + path + "/response/" + rpcId }));
        }

        // Bit 0 is red, bit 1 green, the rest ignored; the payload is indented JSON.
        for (const auto& [mask, red, green] :
            { std::tuple(0x01, true, false), std::tuple(0x02, false, true), std::tuple(0xFC, false, false) }) {
            const int from = rig.peer.count();
            QVERIFY(dispenser.setLEDs(quint8(mask)));
            const int index = rig.peer.waitFor(D + "/led/set", 5000, from);
            QCOMPARE(rig.peer.at(index).payload,
                QJsonDocument(QJsonObject { { "red", red }, { "green", green } }).toJson(QJsonDocument::Indented));
        }
    }

    void waitCollect()
    {
        DeviceClientRig rig("lane");
        Dispenser dispenser(rig.client, D);
        QVERIFY(rig.up());
        QSignalSpy removed(&dispenser, &Dispenser::cardRemoved);

        // 0 or less would wait for ever: 60 s with a warning. A large value must not overflow.
        const int most = std::numeric_limits<int>::max();
        const QList<std::shared_ptr<Outcome<Dispenser::Result>>> waits { follow(dispenser.waitCollect(-7)),
            follow(dispenser.waitCollect(most)), follow(dispenser.waitCollect(2147484)),
            follow(dispenser.waitCollect(5)) };
        QCOMPARE(rig.waitIntervals(), QList<int>({ 5000, 60000, most, most }));

        // Resolved by the removal, which the regular handler also sees.
        QVERIFY(rig.mark() >= 0);
        QVERIFY(rig.feed(D + "/card/removed", ""));
        for (const auto& out : waits) {
            QVERIFY(settles(out));
            QCOMPARE(out->state, 1);
        }
        QCOMPARE(rig.waitIntervals(), QList<int>());
        QCOMPARE(removed.count(), 1);

        // Not collected in time; the regular subscription outlives the wait.
        auto missed = settled(dispenser.waitCollect(1));
        QCOMPARE(missed->state, 2);
        QCOMPARE(missed->value.description, QString("Timeout"));
        QVERIFY(rig.mark() >= 0); // any unsubscription of the waits has reached the broker
        QVERIFY(rig.feed(D + "/card/removed", "{}"));
        QCOMPARE(removed.count(), 2);
    }

private:
    QStringList m_changes;
};

QTEST_GUILESS_MAIN(TestDispenser)
#include "tst_Dispenser.moc"

#include "SAM.h"
#include "ValidatorRfid.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QPointer>
#include <QTest>

#include <climits>

namespace {

QJsonObject json(const char* text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", text);
    return doc.object();
}

// Records the names of every signal the object's own class emits, in order.
class SignalLog : public QObject
{
    Q_OBJECT
public:
    explicit SignalLog(QObject* target)
    {
        const QMetaObject* mo = target->metaObject();
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("record()"));
        for (int i = mo->methodOffset(); i < mo->methodCount(); ++i)
            if (mo->method(i).methodType() == QMetaMethod::Signal)
                connect(target, mo->method(i), this, slot);
    }
    QStringList take()
    {
        QStringList out = m_names;
        m_names.clear();
        return out;
    }

public slots:
    void record() { m_names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()); }

private:
    QStringList m_names;
};

QStringList names(const QMetaObject& mo, QMetaMethod::MethodType type)
{
    QStringList out;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        if (mo.method(i).methodType() == type)
            out << QString::fromLatin1(mo.method(i).name());
    return out;
}

} // namespace

class tst_ValidatorRfid : public QObject
{
    Q_OBJECT

private slots:
    void interfaceForQml()
    {
        const QMetaObject& mo = ValidatorRfid::staticMetaObject;
        QCOMPARE(names(mo, QMetaMethod::Signal),
            QStringList({ "activeChanged", "enabledChanged", "numberOfSlotsChanged", "stateChanged", "errorChanged",
                "firmwareChanged", "versionChanged", "manufacturerChanged", "modelChanged", "deviceUidChanged",
                "samChanged" }));
        for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
            const QMetaProperty p = mo.property(i);
            QVERIFY2(!p.isWritable() && p.hasNotifySignal(), p.name());
        }
        QCOMPARE(names(SAM::staticMetaObject, QMetaMethod::Signal),
            QStringList({ "slotChanged", "enabledChanged", "unlockedChanged", "atrChanged", "batchChanged",
                "modeChanged", "nameChanged", "productionChanged", "uidChanged", "vendorChanged", "versionChanged" }));

        ValidatorRfid rfid(nullptr);
        QCOMPARE(rfid.active(), false);
        QCOMPARE(rfid.enabled(), false);
        QCOMPARE(rfid.numberOfSlots(), 0);
        QCOMPARE(rfid.state(), QString());
        QCOMPARE(rfid.sam(), nullptr);
        // QML reads the same values through the properties.
        rfid.fromJson(json(R"({"state": 3, "slots": [true, false], "sams": [{"slot": 2}]})"));
        QCOMPARE(rfid.property("enabled").toBool(), true);
        QCOMPARE(rfid.property("numberOfSlots").toInt(), 2);
        QCOMPARE(rfid.property("slotStates").value<QList<bool>>(), QList<bool>({ true, false }));
        QCOMPARE(rfid.property("sam").value<SAM*>(), rfid.sam());
        QCOMPARE(rfid.property("sam").value<SAM*>()->property("slot").toInt(), 2);
    }

    void stateAndEnabled()
    {
        QCOMPARE(ValidatorRfid::mapState(0), QStringLiteral("Init"));
        QCOMPARE(ValidatorRfid::mapState(1), QStringLiteral("Idle"));
        QCOMPARE(ValidatorRfid::mapState(2), QStringLiteral("Searching"));
        QCOMPARE(ValidatorRfid::mapState(3), QStringLiteral("CardFound"));
        QCOMPARE(ValidatorRfid::mapState(4), QStringLiteral("Updating"));
        QCOMPARE(ValidatorRfid::mapState(5), QStringLiteral("Error"));
        for (int n : { 6, -1, INT_MAX, INT_MIN })
            QCOMPARE(ValidatorRfid::mapState(n), QStringLiteral("Unknown"));

        ValidatorRfid rfid(nullptr);
        SignalLog log(&rfid);
        rfid.fromJson(json(R"({"state": 2})"));
        QCOMPARE(rfid.state(), QStringLiteral("Searching"));
        QVERIFY(rfid.enabled());
        // Slots and modules are replaced by every status, so they always announce it.
        QCOMPARE(log.take(), QStringList({ "stateChanged", "enabledChanged", "numberOfSlotsChanged", "samChanged" }));

        rfid.fromJson(json(R"({"state": 3})"));
        QCOMPARE(rfid.state(), QStringLiteral("CardFound"));
        QVERIFY(rfid.enabled());
        QCOMPARE(log.take(), QStringList({ "stateChanged", "enabledChanged", "numberOfSlotsChanged", "samChanged" }));

        rfid.fromJson(json(R"({"state": 3})"));
        QCOMPARE(log.take(), QStringList({ "numberOfSlotsChanged", "samChanged" }));

        rfid.fromJson(json(R"({"state": 9})"));
        QCOMPARE(rfid.state(), QStringLiteral("Unknown"));
        QVERIFY(!rfid.enabled());
        QCOMPARE(log.take().mid(0, 2), QStringList({ "stateChanged", "enabledChanged" }));

        // A state that is not an integer reads as 0.
        for (const char* doc : { R"({"state": "2"})", R"({"state": 2.5})", R"({"state": 1e12})", R"({"state": null})",
                 R"({"state": [2]})" }) {
            rfid.fromJson(json(R"({"state": 1})"));
            rfid.fromJson(json(doc));
            QVERIFY2(rfid.state() == QLatin1String("Init"), doc);
        }
        rfid.setState(QStringLiteral("searching"));
        QVERIFY(!rfid.enabled());
    }

    void missingAndWrongMembers()
    {
        ValidatorRfid rfid(nullptr);
        rfid.fromJson(json(R"({"state": 5, "active": true, "error": "antenna fault", "slots": [true]})"));
        QVERIFY(rfid.active());
        QCOMPARE(rfid.error(), QStringLiteral("antenna fault"));
        QCOMPARE(rfid.state(), QStringLiteral("Error"));

        SignalLog log(&rfid);
        rfid.fromJson(json(R"({"state": 5})"));
        QVERIFY(!rfid.active());
        QCOMPARE(rfid.error(), QString());
        QCOMPARE(rfid.numberOfSlots(), 0);
        QCOMPARE(log.take(), QStringList({ "activeChanged", "errorChanged", "numberOfSlotsChanged", "samChanged" }));

        rfid.fromJson(json(R"({"state": 1, "active": "yes", "error": 42, "slots": "abc", "sams": {"slot": 1}})"));
        QVERIFY(!rfid.active());
        QCOMPARE(rfid.error(), QString());
        QCOMPARE(rfid.numberOfSlots(), 0);
        QCOMPARE(rfid.sam(), nullptr);

        // Neither "firmware" nor "state": nothing happens.
        log.take();
        rfid.fromJson(json(R"({"model": "X", "active": true, "slots": [true]})"));
        rfid.fromJson(QJsonObject());
        QCOMPARE(log.take(), QStringList());
        QCOMPARE(rfid.model(), QString());
    }

    void infoLeavesStatusAlone()
    {
        ValidatorRfid rfid(nullptr);
        rfid.fromJson(
            json(R"({"state": 2, "active": true, "error": "e", "slots": [true, true], "sams": [{"slot": 1}]})"));
        QPointer<SAM> module = rfid.sam();
        SignalLog log(&rfid);

        rfid.fromJson(
            json(R"({"firmware": "2.1", "model": "V5", "manufacturer": "ACME", "uid": "04A1", "version": "9"})"));
        QCOMPARE(
            log.take(), QStringList({ "firmwareChanged", "modelChanged", "manufacturerChanged", "deviceUidChanged" }));
        QCOMPARE(rfid.firmware(), QStringLiteral("2.1"));
        QCOMPARE(rfid.model(), QStringLiteral("V5"));
        QCOMPARE(rfid.manufacturer(), QStringLiteral("ACME"));
        QCOMPARE(rfid.deviceUid(), QStringLiteral("04A1"));
        QCOMPARE(rfid.version(), QString());
        QVERIFY(rfid.active());
        QCOMPARE(rfid.error(), QStringLiteral("e"));
        QCOMPARE(rfid.state(), QStringLiteral("Searching"));
        QCOMPARE(rfid.numberOfSlots(), 2);
        QCOMPARE(rfid.sam(), module.data());
        QTest::qWait(1);
        QVERIFY(!module.isNull());

        // Missing or non-text members clear their field.
        rfid.fromJson(json(R"({"firmware": "2.1", "model": 5})"));
        QCOMPARE(log.take(), QStringList({ "modelChanged", "manufacturerChanged", "deviceUidChanged" }));
        QCOMPARE(rfid.model(), QString());

        // Both parts in one object: info first.
        rfid.fromJson(json(R"({"firmware": "3.0", "state": 1, "slots": [true, true]})"));
        QCOMPARE(log.take(),
            QStringList({ "firmwareChanged", "activeChanged", "errorChanged", "stateChanged", "enabledChanged",
                "numberOfSlotsChanged", "samChanged" }));
        QCOMPARE(rfid.firmware(), QStringLiteral("3.0"));
        QCOMPARE(rfid.state(), QStringLiteral("Idle"));

        rfid.setVersion(QStringLiteral("1.0"));
        rfid.setVersion(QStringLiteral("1.0"));
        QCOMPARE(log.take(), QStringList({ "versionChanged" }));
    }

    void slotListsShrinkAndGrow()
    {
        ValidatorRfid rfid(nullptr);
        SignalLog log(&rfid);
        rfid.fromJson(json(R"({"state": 1, "slots": [true, false, true]})"));
        QCOMPARE(rfid.numberOfSlots(), 3);
        QCOMPARE(rfid.slotStates(), QList<bool>({ true, false, true }));
        rfid.fromJson(json(R"({"state": 1, "slots": [false]})"));
        QCOMPARE(rfid.slotStates(), QList<bool>({ false }));
        rfid.fromJson(json(R"({"state": 1, "slots": [true, true, true, true, false, true]})"));
        QCOMPARE(rfid.numberOfSlots(), 6);
        QCOMPARE(rfid.slotStates(), QList<bool>({ true, true, true, true, false, true }));
        rfid.fromJson(json(R"({"state": 1, "slots": [1, "true", null, {}, true]})"));
        QCOMPARE(rfid.slotStates(), QList<bool>({ false, false, false, false, true }));
        rfid.fromJson(json(R"({"state": 1, "slots": []})"));
        QCOMPARE(rfid.numberOfSlots(), 0);
        QCOMPARE(log.take().count(QStringLiteral("numberOfSlotsChanged")), 5);
    }

    void modulesAreReplaced()
    {
        auto* rfid = new ValidatorRfid(nullptr);
        SignalLog log(rfid);
        rfid->fromJson(json(R"({"state": 1, "sams": [{"slot": 1, "name": "A"}, {"slot": 2, "name": "B"}]})"));
        QCOMPARE(rfid->sams().size(), 2);
        QCOMPARE(rfid->sam()->slot(), 1);
        QCOMPARE(rfid->sams().at(1)->name(), QStringLiteral("B"));
        QCOMPARE(rfid->sam()->parent(), rfid);
        const QPointer<SAM> a = rfid->sams().at(0);
        const QPointer<SAM> b = rfid->sams().at(1);

        log.take();
        rfid->fromJson(json(R"({"state": 1, "sams": [{"slot": 3, "name": "C"}, "junk"]})"));
        QCOMPARE(log.take(), QStringList({ "numberOfSlotsChanged", "samChanged" }));
        QCOMPARE(rfid->sams().size(), 2);
        QCOMPARE(rfid->sam()->name(), QStringLiteral("C"));
        QCOMPARE(rfid->sams().at(1)->slot(), 0);
        // The old modules stay readable until the event loop runs.
        QVERIFY(!a.isNull() && !b.isNull());
        QCOMPARE(a->name(), QStringLiteral("A"));
        QTRY_VERIFY(a.isNull() && b.isNull());

        const QPointer<SAM> c = rfid->sam();
        rfid->fromJson(json(R"({"state": 1})"));
        QCOMPARE(rfid->sam(), nullptr);
        QVERIFY(rfid->sams().isEmpty());
        QCOMPARE(log.take(), QStringList({ "numberOfSlotsChanged", "samChanged" }));
        QTRY_VERIFY(c.isNull());

        rfid->fromJson(json(R"({"state": 1, "sams": [{"slot": 4}]})"));
        const QPointer<SAM> d = rfid->sam();
        delete rfid;
        QVERIFY(d.isNull());
    }

    void samFields()
    {
        SAM sam(json(R"({"slot": 2, "enabled": true, "unlocked": true, "atr": "3B8F", "batch": "B7", "mode": "online",
                         "name": "KSTV", "production": "2021-03-15", "uid": "0011", "vendor": "NXP", "version": "3.1"})"),
            nullptr);
        QCOMPARE(sam.slot(), 2);
        QVERIFY(sam.enabled());
        QVERIFY(sam.unlocked());
        QCOMPARE(sam.atr(), QStringLiteral("3B8F"));
        QCOMPARE(sam.batch(), QStringLiteral("B7"));
        QCOMPARE(sam.mode(), QStringLiteral("online"));
        QCOMPARE(sam.name(), QStringLiteral("KSTV"));
        QCOMPARE(sam.production(), QDate(2021, 3, 15));
        QCOMPARE(sam.uid(), QStringLiteral("0011"));
        QCOMPARE(sam.vendor(), QStringLiteral("NXP"));
        QCOMPARE(sam.version(), QStringLiteral("3.1"));

        SignalLog log(&sam);
        const QJsonObject other = json(R"({"slot": 3, "production": "2022-01-01", "version": "3.1"})");
        sam.fromJson(other);
        QCOMPARE(log.take(),
            QStringList({ "slotChanged", "enabledChanged", "unlockedChanged", "atrChanged", "batchChanged",
                "modeChanged", "nameChanged", "productionChanged", "uidChanged", "vendorChanged" }));
        QCOMPARE(sam.fromJson(other), &sam);
        QCOMPARE(log.take(), QStringList());

        for (const char* doc : { R"({"production": "2021-02-30"})", R"({"production": "15-03-2021"})",
                 R"({"production": 20210315})", R"({"production": "2021-03-15T10:00:00"})", R"({})" }) {
            sam.fromJson(json(R"({"production": "2020-06-01"})"));
            QVERIFY(sam.production().isValid());
            sam.fromJson(json(doc));
            QVERIFY2(!sam.production().isValid(), doc);
        }

        sam.fromJson(json(R"({"slot": "3", "enabled": "true", "unlocked": 1, "uid": 123, "name": null})"));
        QCOMPARE(sam.slot(), 0);
        QVERIFY(!sam.enabled());
        QVERIFY(!sam.unlocked());
        QCOMPARE(sam.uid(), QString());
        QCOMPARE(sam.name(), QString());
    }
};

QTEST_GUILESS_MAIN(tst_ValidatorRfid)
#include "tst_ValidatorRfid.moc"

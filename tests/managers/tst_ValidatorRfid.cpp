#include "SAM.h"
#include "ValidatorRfid.h"

#include <QJsonDocument>

#include <QJsonObject>
#include <QMetaMethod>
#include <QTest>

namespace {

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
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
    QStringList take() { return std::exchange(m_names, {}); }

public slots:
    void record() { m_names << QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()); }

private:
    QStringList m_names;
};

// "name=value" of the given properties (all of the class's own when none are named), read as QML reads them.
QString dump(const QObject& object, QStringList names = {})
{
    const QMetaObject* mo = object.metaObject();
    for (int i = names.isEmpty() ? mo->propertyOffset() : mo->propertyCount(); i < mo->propertyCount(); ++i)
        names << mo->property(i).name();
    QStringList out;
    for (const QString& name : names)
        out << name + '=' + object.property(name.toLatin1()).toString();
    return out.join(' ');
}

const QStringList kStatus { "active", "error", "state", "enabled", "numberOfSlots" };
const QStringList kInfo { "firmware", "model", "manufacturer", "deviceUid", "version" };

// Applies one JSON object: the named properties afterwards and the signals it caused.
QString apply(ValidatorRfid& rfid, SignalLog& log, const char* doc, const QStringList& names)
{
    rfid.fromJson(json(doc));
    return dump(rfid, names) + " : " + log.take().join(' ');
}

} // namespace

class tst_ValidatorRfid : public QObject
{
    Q_OBJECT

private slots:
    void statusAndInfo()
    {
        ValidatorRfid rfid(nullptr);
        SignalLog log(&rfid);
        // Slots and modules are replaced by every status, so they always announce it.
        const QString all = " : stateChanged enabledChanged numberOfSlotsChanged samChanged";
        QCOMPARE(apply(rfid, log, R"({"state": 2})", { "state", "enabled" }), "state=Searching enabled=true" + all);
        QCOMPARE(apply(rfid, log, R"({"state": 3})", { "state", "enabled" }), "state=CardFound enabled=true" + all);
        QCOMPARE(
            apply(rfid, log, R"({"state": 9, "active": true, "error": "antenna fault", "slots": [true]})", kStatus),
            "active=true error=antenna fault state=Unknown enabled=false numberOfSlots=1 : activeChanged errorChanged "
            "stateChanged enabledChanged numberOfSlotsChanged samChanged");
        // Missing members clear their field.
        QCOMPARE(apply(rfid, log, R"({"state": 9})", kStatus),
            QStringLiteral("active=false error= state=Unknown enabled=false numberOfSlots=0 : activeChanged "
                           "errorChanged numberOfSlotsChanged samChanged"));
        // Neither "firmware" nor "state": nothing happens.
        QCOMPARE(apply(rfid, log, R"({"model": "X", "active": true, "slots": [true]})", { "model", "active" }),
            QStringLiteral("model= active=false : "));
        // Info leaves the status alone.
        QCOMPARE(apply(rfid, log, R"({"firmware": "2.1", "model": "V5", "uid": "04A1", "version": "9"})", kInfo),
            QStringLiteral("firmware=2.1 model=V5 manufacturer= deviceUid=04A1 version= : firmwareChanged "
                           "modelChanged deviceUidChanged"));
        QCOMPARE(dump(rfid, { "state", "numberOfSlots" }), QStringLiteral("state=Unknown numberOfSlots=0"));

        // A new list of modules replaces the old one as a whole.
        rfid.fromJson(json(R"({"state": 2, "sams": [{"slot": 1}, {"slot": 2}]})"));
        rfid.fromJson(json(R"({"state": 2, "sams": [{"slot": 3}]})"));
        QCOMPARE(rfid.sams().size(), 1);
        QCOMPARE(rfid.sam()->slot(), 3);
    }

    void samFields()
    {
        SAM sam(json(R"({"slot": 2, "enabled": true, "unlocked": true, "atr": "3B8F", "batch": "B7", "mode": "online",
                         "name": "KSTV", "production": "2021-03-15", "uid": "0011", "vendor": "NXP", "version": "3.1"})"),
            nullptr);
        QCOMPARE(dump(sam),
            QStringLiteral("slot=2 enabled=true unlocked=true atr=3B8F batch=B7 mode=online name=KSTV "
                           "production=2021-03-15 uid=0011 vendor=NXP version=3.1"));
        SignalLog log(&sam);
        const QJsonObject other = json(R"({"slot": 3, "production": "2022-01-01", "version": "3.2"})");
        sam.fromJson(other);
        QCOMPARE(log.take(),
            QStringList({ "slotChanged", "enabledChanged", "unlockedChanged", "atrChanged", "batchChanged",
                "modeChanged", "nameChanged", "productionChanged", "uidChanged", "vendorChanged", "versionChanged" }));
        QCOMPARE(sam.fromJson(other), &sam);
        QCOMPARE(log.take(), QStringList());

        for (const char* doc : { R"({"production": "2021-02-30"})", R"({"production": "2021-03-15T10:00:00"})" }) {
            sam.fromJson(json(R"({"production": "2020-06-01"})"));
            sam.fromJson(json(doc));
            QVERIFY2(!sam.production().isValid(), doc);
        }
    }
};

QTEST_GUILESS_MAIN(tst_ValidatorRfid)
#include "tst_ValidatorRfid.moc"

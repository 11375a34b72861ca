#include "Card.h"
#include "KSTVv1Card.h"
#include "Tag.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <limits>

namespace {

// A layout without contents, to see how a card writes an empty data object.
class EmptyLayoutCard : public Card
{
public:
    QJsonObject data() const override { return {}; }
    void setData(const QJsonObject&) override { }
};

QJsonObject parse(const char* text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        qFatal("bad test JSON: %s", text);
    return doc.object();
}

KSTVv1Card::_Usage usage(const QString& type, int counter, const QDateTime& when)
{
    KSTVv1Card::_Usage u;
    u.type = type;
    u.deviceId = QStringLiteral("dev-") + type;
    u.locationId = QStringLiteral("loc-") + type;
    u.timestamp = when;
    u.usageCounter = counter;
    return u;
}

} // namespace

class TestCardRecords : public QObject
{
    Q_OBJECT

private slots:
    void tagJsonAndTypeNames();
    void newRecordWritesDefaults();
    void usageEntryCarriesCounterBeforeIncrement();
    void recordSurvivesRoundTrip();
    void readingIsLenient();
    void timestampForm();
    void lastUsageIsACopy();
    void emptyLayoutWritesNullData();
};

void TestCardRecords::tagJsonAndTypeNames()
{
    QCOMPARE(Tag().toJson(), parse(R"({"uid":"","type":0})"));
    QCOMPARE(Tag(QStringLiteral("04AABB"), Tag::MifareClassic1K).toJson(), parse(R"({"uid":"04AABB","type":4})"));

    Tag::Ptr tag = Tag::fromJson(parse(R"({"uid":"E004","type":256,"template":"KSTVv1","extra":[1]})"));
    QVERIFY(tag);
    QCOMPARE(tag->uid(), QStringLiteral("E004"));
    QCOMPARE(tag->type(), Tag::MifareDesfire);
    QVERIFY(!tag.dynamicCast<Card>()); // always a plain tag

    // Wrong JSON types read as empty and 0; digits in a string are not a number.
    tag = Tag::fromJson(parse(R"({"uid":17,"type":"4"})"));
    QCOMPARE(tag->uid(), QString());
    QCOMPARE(tag->type(), Tag::Unknown);
    tag = Tag::fromJson(parse(R"({"type":4.5})"));
    QCOMPARE(tag->type(), Tag::Unknown);
    // Flags combine as plain integers, also ones without a name, and travel back unchanged.
    tag = Tag::fromJson(parse(R"({"uid":"x","type":1029})"));
    QCOMPARE(static_cast<int>(tag->type()), 1029);
    QCOMPARE(tag->toJson().value("type").toInt(), 1029);

    QCOMPARE(Tag::typeToStr(Tag::Unknown), QStringLiteral("Unknown"));
    QCOMPARE(Tag::typeToStr(Tag::ISO14443_4A), QStringLiteral("ISO14443-4A"));
    QCOMPARE(Tag::typeToStr(Tag::ISO14443_4B), QStringLiteral("ISO14443-4B"));
    QCOMPARE(Tag::typeToStr(Tag::MifareClassic1K), QStringLiteral("MIFARE Classic 1K"));
    QCOMPARE(Tag::typeToStr(Tag::MifareClassic4K), QStringLiteral("MIFARE Classic 4K"));
    QCOMPARE(Tag::typeToStr(Tag::MifarePlus2K), QStringLiteral("MIFARE Plus 2K"));
    QCOMPARE(Tag::typeToStr(Tag::MifarePlus4K), QStringLiteral("MIFARE Plus 4K"));
    QCOMPARE(Tag::typeToStr(Tag::MifareUltralight), QStringLiteral("MIFARE Ultralight"));
    QCOMPARE(Tag::typeToStr(Tag::MifareMini), QStringLiteral("MIFARE Mini"));
    QCOMPARE(Tag::typeToStr(Tag::MifareDesfire), QStringLiteral("MIFARE DESFire"));
    QCOMPARE(Tag::typeToStr(Tag::EMV), QStringLiteral("EMV"));
    QCOMPARE(Tag::typeToStr(Tag::Other), QStringLiteral("Other"));
    QCOMPARE(Tag::typeToStr(static_cast<Tag::Type>(5)), QStringLiteral("Unknown"));
    QCOMPARE(Tag::typeToStr(static_cast<Tag::Type>(1024)), QStringLiteral("Unknown"));
    QCOMPARE(Tag::typeToStr(static_cast<Tag::Type>(-1)), QStringLiteral("Unknown"));

    // A card pointer is a tag pointer to the same object.
    Card::Ptr card = KSTVv1Card::fromJson(parse(R"({"uid":"C1","type":4,"template":"KSTVv1"})"));
    Tag::Ptr asTag = card;
    QCOMPARE(asTag.data(), static_cast<Tag*>(card.data()));
    QCOMPARE(asTag->uid(), QStringLiteral("C1"));
    // The virtual toJson reaches the card's form through the tag pointer.
    QCOMPARE(asTag->toJson().value("template").toString(), QStringLiteral("KSTVv1"));
}

void TestCardRecords::newRecordWritesDefaults()
{
    KSTVv1Card card;
    QCOMPARE(KSTVv1Card::Name, QStringLiteral("KSTVv1"));
    QCOMPARE(card.name(), QStringLiteral("KSTVv1"));
    QCOMPARE(card.status(), QStringLiteral("available"));
    QCOMPARE(card.data(),
        parse(R"({"info":{"version":0,"customsId":0,"status":"available"},"usageCounter":0,"usageLog":[]})"));
    QCOMPARE(card.toJson(), parse(R"({"uid":"","type":0,"template":"KSTVv1",
                  "data":{"info":{"version":0,"customsId":0,"status":"available"},"usageCounter":0,"usageLog":[]}})"));

    card.setStatus(QStringLiteral("active"));
    card.setCustomsId(4711);
    card.setUid(QStringLiteral("04A1"));
    card.setType(Tag::MifareClassic4K);
    QCOMPARE(card.toJson(), parse(R"({"uid":"04A1","type":8,"template":"KSTVv1",
                  "data":{"info":{"version":0,"customsId":4711,"status":"active"},"usageCounter":0,"usageLog":[]}})"));
}

void TestCardRecords::usageEntryCarriesCounterBeforeIncrement()
{
    KSTVv1Card card;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    card.addUsageLog(QStringLiteral("entry"), QStringLiteral("SN-001"), QStringLiteral("LOC-7"));
    card.incrUsageCounter(1);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    const QJsonObject data = card.data();
    QCOMPARE(data.value("usageCounter").toInt(), 1);
    const QJsonArray log = data.value("usageLog").toArray();
    QCOMPARE(log.size(), 1);
    const QJsonObject entry = log.at(0).toObject();
    QCOMPARE(entry.keys(), (QStringList { "deviceId", "locationId", "timestamp", "type", "usageCounter" }));
    QCOMPARE(entry.value("usageCounter").toInt(), 0);
    QCOMPARE(entry.value("type").toString(), QStringLiteral("entry"));
    QCOMPARE(entry.value("deviceId").toString(), QStringLiteral("SN-001"));
    QCOMPARE(entry.value("locationId").toString(), QStringLiteral("LOC-7"));
    const QDateTime stamp = QDateTime::fromString(entry.value("timestamp").toString(), "yyyy-MM-ddThh:mm:ss");
    QVERIFY2(stamp.isValid(), qPrintable(entry.value("timestamp").toString()));
    QVERIFY(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after);

    // New entries are not read entries.
    QVERIFY(card.usageLogs().isEmpty());
    QCOMPARE(card.newUsageLogs().size(), 1);

    // The counter adds any amount, negative included, and wraps instead of overflowing.
    card.incrUsageCounter(41);
    QCOMPARE(card.usageCounter(), 42);
    card.incrUsageCounter(-2);
    QCOMPARE(card.usageCounter(), 40);
    card.incrUsageCounter(std::numeric_limits<int>::max());
    QCOMPARE(card.usageCounter(), std::numeric_limits<int>::min() + 39);

    // An entry given whole is kept unchanged, even with an invalid time.
    KSTVv1Card::_Usage given = usage(QStringLiteral("exit"), 99, QDateTime());
    card.addUsageLog(given);
    QCOMPARE(card.newUsageLogs().last(), given);
    QCOMPARE(card.data().value("usageLog").toArray().at(1).toObject().value("timestamp").toString(), QString());
}

void TestCardRecords::recordSurvivesRoundTrip()
{
    const QDateTime t1(QDate(2024, 3, 9), QTime(7, 5, 3));
    const QDateTime t2(QDate(2024, 12, 31), QTime(23, 59, 59));
    KSTVv1Card card;
    card.setUid(QStringLiteral("04C0FFEE"));
    card.setType(Tag::MifareDesfire);
    card.setStatus(QStringLiteral("active"));
    card.setCustomsId(-12);
    card.addUsageLog(usage(QStringLiteral("entry"), 0, t1));
    card.addUsageLog(usage(QStringLiteral("exit"), 1, t2));
    card.incrUsageCounter(2);

    // Through text, as on the wire.
    const QByteArray wire = QJsonDocument(card.toJson()).toJson(QJsonDocument::Compact);
    QSharedPointer<KSTVv1Card> copy = KSTVv1Card::fromJson(QJsonDocument::fromJson(wire).object());
    QCOMPARE(copy->uid(), card.uid());
    QCOMPARE(copy->type(), card.type());
    QCOMPARE(copy->name(), QStringLiteral("KSTVv1"));
    QCOMPARE(copy->status(), QStringLiteral("active"));
    QCOMPARE(copy->customsId(), -12);
    QCOMPARE(copy->usageCounter(), 2);
    QCOMPARE(copy->usageLogs(), card.newUsageLogs());
    QVERIFY(copy->newUsageLogs().isEmpty());
    // Read entries are never written back.
    QCOMPARE(copy->data().value("usageLog").toArray(), QJsonArray());

    // setData appends: the record's own new entries become read entries, twice over when read twice.
    const QJsonObject data = card.data();
    card.setData(data);
    QCOMPARE(card.usageLogs(), card.newUsageLogs());
    QCOMPARE(card.newUsageLogs().size(), 2);
    card.setData(data);
    QCOMPARE(card.usageLogs().size(), 4);
    QCOMPARE(card.usageLogs().at(2), card.usageLogs().at(0));
    QCOMPARE(card.usageLogs().at(3).type, QStringLiteral("exit"));

    // The name is whatever the object says, even another template or none.
    QCOMPARE(KSTVv1Card::fromJson(parse(R"({"template":"Other"})"))->name(), QStringLiteral("Other"));
    QCOMPARE(KSTVv1Card::fromJson(parse(R"({"uid":"x"})"))->name(), QString());
}

void TestCardRecords::readingIsLenient()
{
    // No "data": zeros, an empty status (not "available") and no entries.
    QSharedPointer<KSTVv1Card> card = KSTVv1Card::fromJson(parse(R"({"uid":"A","type":"4","template":"KSTVv1"})"));
    QCOMPARE(card->type(), Tag::Unknown);
    QCOMPARE(card->customsId(), 0);
    QCOMPARE(card->usageCounter(), 0);
    QCOMPARE(card->status(), QString());
    QVERIFY(card->usageLogs().isEmpty());

    // "info" without status; mistyped values; a null data.
    card = KSTVv1Card::fromJson(parse(R"({"data":{"info":{"customsId":3},"usageCounter":"5"}})"));
    QCOMPARE(card->customsId(), 3);
    QCOMPARE(card->status(), QString());
    QCOMPARE(card->usageCounter(), 0);
    card = KSTVv1Card::fromJson(parse(R"({"data":null})"));
    QCOMPARE(card->status(), QString());
    card = KSTVv1Card::fromJson(parse(R"({"data":{"info":[1,2],"usageLog":{"type":"entry"}}})"));
    QCOMPARE(card->customsId(), 0);
    QVERIFY(card->usageLogs().isEmpty());

    // Numbers out of range or with a fraction read as 0, never as a wrapped value.
    card = KSTVv1Card::fromJson(parse(R"({"type":1e40,"data":{"info":{"customsId":2.5},"usageCounter":-1e300}})"));
    QCOMPARE(card->type(), Tag::Unknown);
    QCOMPARE(card->customsId(), 0);
    QCOMPARE(card->usageCounter(), 0);

    // Every element of the log gives an entry, whatever it holds; broken fields read as empty.
    card = KSTVv1Card::fromJson(parse(R"({"data":{"usageLog":[
        {"timestamp":"2024-02-30T10:00:00","type":"entry","usageCounter":4,"deviceId":"D","locationId":"L"},
        {"timestamp":"2024-02-28T10:00","type":7},
        {"timestamp":"2024-02-28T10:00:00Z"},
        "text", 12, null,
        {"timestamp":"2024-02-29T00:00:00","type":"exit","usageCounter":"9"}]}})"));
    const QList<KSTVv1Card::_Usage>& log = card->usageLogs();
    QCOMPARE(log.size(), 7);
    QVERIFY(!log.at(0).timestamp.isValid()); // no 30th of February
    QCOMPARE(log.at(0).type, QStringLiteral("entry"));
    QCOMPARE(log.at(0).usageCounter, 4);
    QCOMPARE(log.at(0).deviceId, QStringLiteral("D"));
    QCOMPARE(log.at(0).locationId, QStringLiteral("L"));
    QCOMPARE(log.at(0).toJson().value("timestamp").toString(), QString());
    QVERIFY(!log.at(1).timestamp.isValid()); // no seconds
    QCOMPARE(log.at(1).type, QString());
    QVERIFY(!log.at(2).timestamp.isValid()); // no zone allowed
    for (int i = 3; i < 6; ++i)
        QCOMPARE(log.at(i), KSTVv1Card::_Usage());
    QCOMPARE(log.at(6).timestamp, QDateTime(QDate(2024, 2, 29), QTime(0, 0, 0)));
    QCOMPARE(log.at(6).usageCounter, 0);

    // fromJson on an entry overwrites every field, also with emptiness.
    KSTVv1Card::_Usage entry = usage(QStringLiteral("entry"), 3, QDateTime::currentDateTime());
    QCOMPARE(entry.fromJson(QJsonObject()), KSTVv1Card::_Usage());
}

void TestCardRecords::timestampForm()
{
    // Hours run 00 to 23, fields are zero-padded, no zone and no fraction.
    KSTVv1Card::_Usage u = usage(QStringLiteral("entry"), 1, QDateTime(QDate(987, 1, 2), QTime(15, 4, 5, 678)));
    QCOMPARE(u.toJson().value("timestamp").toString(), QStringLiteral("0987-01-02T15:04:05"));
    u.timestamp = QDateTime(QDate(2025, 11, 30), QTime(0, 0, 9));
    QCOMPARE(u.toJson().value("timestamp").toString(), QStringLiteral("2025-11-30T00:00:09"));
    KSTVv1Card::_Usage back;
    QCOMPARE(back.fromJson(u.toJson()), u);
    QCOMPARE(back.timestamp.timeSpec(), Qt::LocalTime);
}

void TestCardRecords::lastUsageIsACopy()
{
    KSTVv1Card card;
    card.addUsageLog(QStringLiteral("entry"), QStringLiteral("D"), QStringLiteral("L"));
    QVERIFY(!card.lastUsage()); // new entries are not read entries

    QJsonObject data = parse(R"({"usageLog":[{"type":"first","usageCounter":1},{"type":"second","usageCounter":2}]})");
    card.setData(data);
    std::optional<KSTVv1Card::_Usage> last = card.lastUsage();
    QVERIFY(last);
    QCOMPARE(last->type, QStringLiteral("second"));

    // Reading many more entries grows (and reallocates) the list; the copy taken before stays whole.
    QJsonArray many;
    for (int i = 0; i < 200; ++i)
        many.append(QJsonObject { { "type", QStringLiteral("bulk-%1").arg(i) }, { "usageCounter", 100 + i } });
    card.setData(QJsonObject { { "usageLog", many } });
    QCOMPARE(last->type, QStringLiteral("second"));
    QCOMPARE(last->usageCounter, 2);
    QCOMPARE(card.lastUsage()->type, QStringLiteral("bulk-199"));

    // Changing the copy leaves the record alone.
    last->type = QStringLiteral("changed");
    QCOMPARE(card.usageLogs().at(1).type, QStringLiteral("second"));
}

void TestCardRecords::emptyLayoutWritesNullData()
{
    EmptyLayoutCard card;
    card.setUid(QStringLiteral("U"));
    card.setName(QStringLiteral("raw"));
    const QJsonObject object = card.toJson();
    QCOMPARE(object.value("template").toString(), QStringLiteral("raw"));
    QVERIFY(object.contains("data"));
    QVERIFY(object.value("data").isNull());
    QCOMPARE(object.size(), 4);
}

QTEST_GUILESS_MAIN(TestCardRecords)
#include "tst_CardRecords.moc"

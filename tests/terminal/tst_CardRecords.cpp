#include "KSTVv1Card.h"
#include "Tag.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <limits>

namespace {

QJsonObject parse(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

QString tagText(const Tag& tag)
{
    return QStringLiteral("%1/%2").arg(tag.uid()).arg(int(tag.type()));
}

KSTVv1Card::_Usage usage(const QString& type, int counter, const QDateTime& when)
{
    return { type, "dev-" + type, "loc-" + type, when, counter };
}

// A layout without any key.
class BlankCard : public Card
{
public:
    QJsonObject data() const override { return {}; }
    void setData(const QJsonObject&) override {}
};

} // namespace

class TestCardRecords : public QObject
{
    Q_OBJECT

private slots:
    void tags()
    {
        QCOMPARE(Tag().toJson(), parse(R"({"uid":"","type":0})"));
        Tag::Ptr tag = Tag::fromJson(parse(R"({"uid":"E004","type":256,"template":"KSTVv1","extra":[1]})"));
        QCOMPARE(tagText(*tag), QStringLiteral("E004/256"));
        // Wrong JSON types read as empty and 0; digits in a string are not a number.
        QCOMPARE(tagText(*Tag::fromJson(parse(R"({"uid":17,"type":"4"})"))), QStringLiteral("/0"));
        QCOMPARE(tagText(*Tag::fromJson(parse(R"({"type":4.5})"))), QStringLiteral("/0"));

        // toJson through a tag pointer reaches the card's form.
        Tag::Ptr asTag = KSTVv1Card::fromJson(parse(R"({"uid":"C1","type":4,"template":"KSTVv1"})"));
        QCOMPARE(asTag->toJson().value("template").toString(), QStringLiteral("KSTVv1"));
        // A layout without keys goes out as null.
        BlankCard blank;
        blank.setName(QStringLiteral("Blank"));
        QCOMPARE(blank.toJson(), parse(R"({"uid":"","type":0,"template":"Blank","data":null})"));
    }

    void newRecordAndUsage()
    {
        KSTVv1Card card;
        QCOMPARE(card.toJson(), parse(R"({"uid":"","type":0,"template":"KSTVv1",
                  "data":{"info":{"version":0,"customsId":0,"status":"available"},"usageCounter":0,"usageLog":[]}})"));
        card.setStatus(QStringLiteral("active"));
        card.setCustomsId(4711);
        card.setUid(QStringLiteral("04A1"));
        card.setType(Tag::MifareClassic4K);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        card.addUsageLog(QStringLiteral("entry"), QStringLiteral("SN-001"), QStringLiteral("LOC-7"));
        card.incrUsageCounter(1);
        // The entry carries the counter from before the increment, and a local time to the second.
        const QJsonObject written = card.toJson();
        const QString stamp = written["data"]["usageLog"][0]["timestamp"].toString();
        const QDateTime when = QDateTime::fromString(stamp, "yyyy-MM-ddThh:mm:ss");
        QVERIFY2(
            when >= before.addMSecs(-before.time().msec()) && when <= QDateTime::currentDateTime(), qPrintable(stamp));
        QCOMPARE(written,
            parse(QStringLiteral(R"({"uid":"04A1","type":8,"template":"KSTVv1",
                  "data":{"info":{"version":0,"customsId":4711,"status":"active"},"usageCounter":1,"usageLog":[
                  {"deviceId":"SN-001","locationId":"LOC-7","timestamp":"%1","type":"entry","usageCounter":0}]}})")
                      .arg(stamp)
                      .toUtf8()));

        // The counter wraps instead of overflowing.
        card.incrUsageCounter(std::numeric_limits<int>::max());
        card.incrUsageCounter(3);
        QCOMPARE(card.usageCounter(), std::numeric_limits<int>::min() + 3);
        // Zero-padded fields, hours 00 to 23, no zone and no fraction; read back as local time.
        KSTVv1Card::_Usage u = usage(QStringLiteral("entry"), 1, QDateTime(QDate(987, 1, 2), QTime(5, 4, 5)));
        QCOMPARE(u.toJson().value("timestamp").toString(), QStringLiteral("0987-01-02T05:04:05"));
        QCOMPARE(KSTVv1Card::_Usage().fromJson(u.toJson()), u);
    }

    void readingIsLenient()
    {
        // Nothing usable: zeros, an empty status (not "available") and no entries. Digits in a string are no
        // number; numbers out of range or with a fraction read as 0, never as a wrapped value.
        for (const char* json : { R"({"uid":"A","type":"4","template":"KSTVv1"})", R"({"data":null})",
                 R"({"data":{"info":[1,2],"usageLog":{"type":"entry"},"usageCounter":"5"}})",
                 R"({"type":1e40,"data":{"info":{"customsId":2.5},"usageCounter":-1e300}})" }) {
            const QSharedPointer<KSTVv1Card> card = KSTVv1Card::fromJson(parse(json));
            QVERIFY2(card->type() == 0 && card->usageLogs().isEmpty(), json);
            QCOMPARE(card->data(),
                parse(R"({"info":{"version":0,"customsId":0,"status":""},"usageCounter":0,"usageLog":[]})"));
        }

        // Every element of the log gives an entry, whatever it holds; broken fields read as empty.
        const QSharedPointer<KSTVv1Card> card = KSTVv1Card::fromJson(parse(R"({"data":{"usageLog":[
            {"timestamp":"2024-02-30T10:00:00","type":"entry","usageCounter":4,"deviceId":"D","locationId":"L"},
            {"timestamp":"2024-02-28T10:00","type":7},
            {"timestamp":"2024-02-28T10:00:00Z"},
            "text", 12, null,
            {"timestamp":"2024-02-29T00:00:00","type":"exit","usageCounter":"9"}]}})"));
        const QList<KSTVv1Card::_Usage>& log = card->usageLogs();
        QCOMPARE(log.size(), 7);
        // No 30th of February, no time without seconds, no zone.
        QVERIFY(!log.at(0).timestamp.isValid() && !log.at(1).timestamp.isValid() && !log.at(2).timestamp.isValid());
        for (int i = 3; i < 6; ++i)
            QCOMPARE(log.at(i), KSTVv1Card::_Usage());
    }

    void lastUsageIsACopy()
    {
        KSTVv1Card card;
        card.addUsageLog(QStringLiteral("entry"), QStringLiteral("D"), QStringLiteral("L"));
        card.setData(parse(R"({"usageLog":[{"type":"second","usageCounter":2}]})"));
        std::optional<KSTVv1Card::_Usage> last = card.lastUsage();
        // Reading many more entries grows (and reallocates) the list; the copy taken before stays whole.
        QJsonArray many;
        for (int i = 0; i < 200; ++i)
            many.append(QJsonObject { { "type", QStringLiteral("bulk-%1").arg(i) }, { "usageCounter", 100 + i } });
        card.setData(QJsonObject { { "usageLog", many } });
        QCOMPARE(last->type, QStringLiteral("second"));
        QCOMPARE(last->usageCounter, 2);
        QCOMPARE(card.lastUsage()->type, QStringLiteral("bulk-199"));
    }
};

QTEST_GUILESS_MAIN(TestCardRecords)
#include "tst_CardRecords.moc"

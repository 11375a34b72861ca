// Feeds arbitrary card objects to the card record parser, the way a reader
// reply or a card-found message would arrive, and checks that what was read
// survives writing and reading again. Input that is JSON is used as it is;
// other input steers a generator of card-shaped objects, since the JSON
// parser itself is not instrumented and the fuzzer could not learn its syntax.

#include "KSTVv1Card.h"
#include "Tag.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void exercise(const QJsonObject& object)
{
    Tag::Ptr tag = Tag::fromJson(object);
    check(Tag::fromJson(tag->toJson())->uid() == tag->uid());
    check(Tag::fromJson(tag->toJson())->type() == tag->type());
    Tag::typeToStr(tag->type());

    QSharedPointer<KSTVv1Card> card = KSTVv1Card::fromJson(object);
    const QJsonObject written = card->toJson();
    check(written.value(QStringLiteral("data")).isObject());
    QSharedPointer<KSTVv1Card> again = KSTVv1Card::fromJson(written);
    check(again->uid() == card->uid());
    check(again->type() == card->type());
    check(again->name() == card->name());
    check(again->status() == card->status());
    check(again->customsId() == card->customsId());
    check(again->usageCounter() == card->usageCounter());
    check(again->usageLogs().isEmpty()); // read entries are never written

    // Each read entry, written and read again, stays the same entry.
    for (const KSTVv1Card::_Usage& usage : card->usageLogs()) {
        KSTVv1Card::_Usage copy;
        copy.fromJson(usage.toJson());
        check(copy.toJson() == usage.toJson());
        card->addUsageLog(usage);
    }
    const int read = card->usageLogs().size();
    std::optional<KSTVv1Card::_Usage> last = card->lastUsage();
    check(last.has_value() == (read > 0));
    card->setData(card->data());
    check(card->usageLogs().size() == 2 * read);
    if (last)
        last->toJson();
    card->incrUsageCounter(card->usageCounter());
}

const char* const Keys[] = { "uid", "type", "template", "data", "info", "version", "customsId", "status",
    "usageCounter", "usageLog", "timestamp", "deviceId", "locationId", "KSTVv1", "" };

QJsonValue generate(FuzzedDataProvider& in, int depth);

QJsonObject generateObject(FuzzedDataProvider& in, int depth)
{
    QJsonObject object;
    const int count = in.ConsumeIntegralInRange(0, 6);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i)
        object.insert(QString::fromLatin1(in.PickValueInArray(Keys)), generate(in, depth + 1));
    return object;
}

QJsonValue generate(FuzzedDataProvider& in, int depth)
{
    switch (in.ConsumeIntegralInRange(0, depth > 4 ? 5 : 8)) {
    case 0:
        return QJsonValue(QJsonValue::Null);
    case 1:
        return in.ConsumeBool();
    case 2:
        return in.ConsumeIntegral<qint32>();
    case 3:
        return in.ConsumeFloatingPoint<double>();
    case 4:
        return QString::fromUtf8(QByteArray::fromStdString(in.ConsumeRandomLengthString(40)));
    case 5: {
        // A timestamp-like text, mostly well formed, sometimes not a real date.
        const QString text = QStringLiteral("%1-%2-%3T%4:%5:%6")
                                 .arg(in.ConsumeIntegralInRange(0, 10000), 4, 10, QLatin1Char('0'))
                                 .arg(in.ConsumeIntegralInRange(0, 13), 2, 10, QLatin1Char('0'))
                                 .arg(in.ConsumeIntegralInRange(0, 32), 2, 10, QLatin1Char('0'))
                                 .arg(in.ConsumeIntegralInRange(0, 25), 2, 10, QLatin1Char('0'))
                                 .arg(in.ConsumeIntegralInRange(0, 61), 2, 10, QLatin1Char('0'))
                                 .arg(in.ConsumeIntegralInRange(0, 61), 2, 10, QLatin1Char('0'));
        return text.left(in.ConsumeIntegralInRange(0, 20));
    }
    case 6: {
        QJsonArray array;
        const int count = in.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < count && in.remaining_bytes() > 0; ++i)
            array.append(generate(in, depth + 1));
        return array;
    }
    default:
        return generateObject(in, depth);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (doc.isObject()) {
        exercise(doc.object());
        // The same object also as the "data" of a card and as one usage entry.
        exercise(
            QJsonObject { { QStringLiteral("template"), KSTVv1Card::Name }, { QStringLiteral("data"), doc.object() } });
        exercise(QJsonObject {
            { QStringLiteral("data"), QJsonObject { { QStringLiteral("usageLog"), QJsonArray { doc.object() } } } } });
    } else if (doc.isArray()) {
        exercise(
            QJsonObject { { QStringLiteral("data"), QJsonObject { { QStringLiteral("usageLog"), doc.array() } } } });
    }
    return 0;
}

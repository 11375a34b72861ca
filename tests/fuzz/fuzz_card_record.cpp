// Feeds arbitrary card objects to the card record parser, the way a reader reply or a
// card-found message would arrive, and checks that what was read survives writing and
// reading again. Input that is JSON is used as it is; other input steers a generator.

#include "FuzzJson.h"
#include "KSTVv1Card.h"
#include "Tag.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

namespace {

void exercise(const QJsonObject& object)
{
    Tag::Ptr tag = Tag::fromJson(object);
    check(Tag::fromJson(tag->toJson())->toJson() == tag->toJson());
    Tag::typeToStr(tag->type());

    QSharedPointer<KSTVv1Card> card = KSTVv1Card::fromJson(object);
    const QJsonObject written = card->toJson();
    check(written.value(QStringLiteral("data")).isObject());
    QSharedPointer<KSTVv1Card> again = KSTVv1Card::fromJson(written);
    check(again->toJson() == written);
    check(again->usageLogs().isEmpty()); // read entries are never written

    // Each read entry, written and read again, stays the same entry.
    for (const KSTVv1Card::_Usage& usage : card->usageLogs()) {
        KSTVv1Card::_Usage copy;
        check(copy.fromJson(usage.toJson()).toJson() == usage.toJson());
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

// The object as a card, as the "data" of a card and as one usage entry.
void exerciseAll(const QJsonObject& object)
{
    exercise(object);
    exercise(QJsonObject { { "template", KSTVv1Card::Name }, { "data", object } });
    exercise(QJsonObject { { "data", QJsonObject { { "usageLog", QJsonArray { object } } } } });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    if (doc.isObject()) {
        exerciseAll(doc.object());
    } else if (doc.isArray()) {
        exercise(QJsonObject { { "data", QJsonObject { { "usageLog", doc.array() } } } });
    } else {
        FuzzedDataProvider in(data, size);
        exerciseAll(FuzzJson(in,
            { "uid", "type", "template", "data", "info", "version", "customsId", "status", "usageCounter", "usageLog",
                "timestamp", "deviceId", "locationId", "KSTVv1", "" })
                        .object());
    }
    return 0;
}

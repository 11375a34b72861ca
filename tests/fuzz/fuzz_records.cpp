// Feeds arbitrary objects to the card record parser (the way a reader reply or a
// card-found message would arrive) and to the validator reader model. Read card records
// must survive writing and reading again; the model must stay consistent. Input that is
// JSON is used as it is; other input steers a generator, so short runs still reach every
// member with every value type.

#include "FuzzJson.h"
#include "KSTVv1Card.h"
#include "SAM.h"
#include "Tag.h"
#include "ValidatorRfid.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdint>

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

void apply(ValidatorRfid& rfid, const QJsonObject& object)
{
    rfid.fromJson(object);
    if (object.contains(QLatin1String("state"))) {
        check(rfid.numberOfSlots() == object.value(QLatin1String("slots")).toArray().size());
        check(rfid.sams().size() == object.value(QLatin1String("sams")).toArray().size());
    }
    check(rfid.sam() == (rfid.sams().isEmpty() ? nullptr : rfid.sams().first()));
    check(rfid.enabled() == (rfid.state() == QLatin1String("Searching") || rfid.state() == QLatin1String("CardFound")));
    for (const SAM* sam : rfid.sams())
        check(sam->parent() == &rfid);

    // The same module object applied twice changes nothing the second time.
    SAM sam(object, nullptr);
    int changes = 0;
    for (auto signal : { &SAM::slotChanged, &SAM::enabledChanged, &SAM::unlockedChanged, &SAM::atrChanged,
             &SAM::batchChanged, &SAM::modeChanged, &SAM::nameChanged, &SAM::productionChanged, &SAM::uidChanged,
             &SAM::vendorChanged, &SAM::versionChanged })
        QObject::connect(&sam, signal, [&changes] { ++changes; });
    sam.fromJson(object);
    check(changes == 0);
}

void applyAll(ValidatorRfid& rfid, const QJsonObject& object)
{
    exerciseAll(object);
    apply(rfid, object);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Replaced modules are deleted from the event loop, as in the application.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), int(size)));
    ValidatorRfid rfid(nullptr);
    if (doc.isObject()) {
        applyAll(rfid, doc.object());
    } else if (doc.isArray()) {
        exercise(QJsonObject { { "data", QJsonObject { { "usageLog", doc.array() } } } });
        for (const QJsonValue& v : doc.array())
            apply(rfid, v.toObject());
    } else {
        FuzzedDataProvider in(data, size);
        FuzzJson json(in,
            { "uid", "type", "template", "data", "info", "version", "customsId", "status", "usageCounter", "usageLog",
                "timestamp", "deviceId", "locationId", "KSTVv1", "", "firmware", "model", "manufacturer", "state",
                "active", "error", "slots", "sams", "slot", "enabled", "unlocked", "atr", "batch", "mode", "name",
                "production", "vendor" });
        while (in.remaining_bytes() > 0)
            applyAll(rfid, json.object());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

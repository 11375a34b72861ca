// Feeds arbitrary JSON to the validator reader model. Input that is not a JSON object
// or array steers a generator of status and info objects, so short runs still reach
// every member with every value type.

#include "FuzzJson.h"
#include "SAM.h"
#include "ValidatorRfid.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

namespace {

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
        apply(rfid, doc.object());
    } else if (doc.isArray()) {
        for (const QJsonValue& v : doc.array())
            apply(rfid, v.toObject());
    } else {
        FuzzedDataProvider in(data, size);
        FuzzJson json(in,
            { "firmware", "model", "manufacturer", "uid", "version", "state", "active", "error", "slots", "sams",
                "slot", "enabled", "unlocked", "atr", "batch", "mode", "name", "production", "vendor" });
        while (in.remaining_bytes() > 0)
            apply(rfid, json.object());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

// Feeds arbitrary JSON to the validator reader model. Input that is not a JSON
// object or array is turned into a status/info object built from the bytes, so
// short runs still reach every member with every value type.

#include "SAM.h"
#include "ValidatorRfid.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

const char* const kKeys[] = { "firmware", "model", "manufacturer", "uid", "version", "state", "active", "error",
    "slots", "sams", "slot", "enabled", "unlocked", "atr", "batch", "mode", "name", "production", "vendor" };

QJsonValue makeValue(FuzzedDataProvider& in, int depth);

QJsonObject makeObject(FuzzedDataProvider& in, int depth)
{
    QJsonObject object;
    const int members = in.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < members && in.remaining_bytes() > 0; ++i)
        object.insert(QLatin1String(in.PickValueInArray(kKeys)), makeValue(in, depth + 1));
    return object;
}

QJsonValue makeValue(FuzzedDataProvider& in, int depth)
{
    switch (in.ConsumeIntegralInRange(0, depth > 3 ? 4 : 6)) {
    case 0:
        return QJsonValue();
    case 1:
        return in.ConsumeBool();
    case 2:
        return in.ConsumeIntegralInRange(-3, 12);
    case 3:
        return in.ConsumeFloatingPoint<double>();
    case 4:
        return QString::fromUtf8(in.ConsumeRandomLengthString(24).c_str());
    case 5: {
        QJsonArray array;
        const int n = in.ConsumeIntegralInRange(0, 6);
        for (int i = 0; i < n; ++i)
            array.append(in.ConsumeBool() ? makeValue(in, depth + 1) : QJsonValue(makeObject(in, depth + 1)));
        return array;
    }
    default:
        return makeObject(in, depth + 1);
    }
}

void check(bool ok)
{
    if (!ok)
        std::abort();
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Replaced modules are deleted from the event loop, as in the application.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);

    ValidatorRfid rfid(nullptr);
    if (doc.isObject()) {
        apply(rfid, doc.object());
    } else if (doc.isArray()) {
        for (const QJsonValue& v : doc.array())
            apply(rfid, v.toObject());
    } else {
        FuzzedDataProvider in(data, size);
        while (in.remaining_bytes() > 0)
            apply(rfid, makeObject(in, 0));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

// Feeds arbitrary topics and payloads to the card dispenser client's message
// handler, over an MQTT client that never connects. Each input is a sequence
// of messages to one client, so sensor values carry from one message to the next.

#include "Dispenser.h"
#include "MqttClient.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

using manager::Dispenser;

namespace {

const QString Base = QStringLiteral("zent/dispenser");

const char* const kKeys[] = { "service", "device", "active", "isJammed", "isCartridgeDoorOpen", "cardInMouth",
    "cardInRfid", "cartridge", "cartridgePercent", "firmware", "manufacturer", "model", "version", "completed", "error",
    "code", "description" };
const char* const kTexts[] = { "", "empty", "reserve", "normal", "full", "CD-100", "true" };
const char* const kSuffixes[] = { "/info", "/status", "/card/inserted", "/card/removed", "/card/disposed", "/card",
    "/status/x", "/", "", "/issue/response/1", "/led/set" };

int g_critical = 0;
int g_warning = 0;
int g_other = 0;
QString g_lastCritical;

void countMessages(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg) {
        ++g_critical;
        g_lastCritical = text;
    } else if (type == QtWarningMsg) {
        ++g_warning;
    } else if (type == QtFatalMsg) {
        std::abort();
    } else {
        ++g_other;
    }
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

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
    switch (in.ConsumeIntegralInRange(0, depth > 3 ? 5 : 7)) {
    case 0:
        return QJsonValue();
    case 1:
    case 2:
        return in.ConsumeBool();
    case 3:
        return in.ConsumeIntegralInRange(-1, 101);
    case 4:
        return QLatin1String(in.PickValueInArray(kTexts));
    case 5:
        return in.ConsumeFloatingPoint<double>();
    case 6: {
        QJsonArray array;
        const int n = in.ConsumeIntegralInRange(0, 3);
        for (int i = 0; i < n; ++i)
            array.append(makeValue(in, depth + 1));
        return array;
    }
    default:
        return makeObject(in, depth + 1);
    }
}

QString makeTopic(FuzzedDataProvider& in)
{
    const QString suffix = QLatin1String(in.PickValueInArray(kSuffixes));
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
        return QString::fromUtf8(in.ConsumeRandomLengthString(24).c_str());
    case 1:
        return QString::fromUtf8(in.ConsumeRandomLengthString(8).c_str()) + Base + suffix;
    case 2:
        return QStringLiteral("zent/Dispenser") + suffix;
    default:
        return Base + suffix;
    }
}

QByteArray makePayload(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: {
        const std::string raw = in.ConsumeRandomLengthString(48);
        return QByteArray(raw.data(), int(raw.size()));
    }
    case 1:
        return QByteArray();
    case 2: {
        // A valid object cut short by a NUL and followed by anything.
        const std::string tail = in.ConsumeRandomLengthString(8);
        return QJsonDocument(makeObject(in, 0)).toJson(QJsonDocument::Compact) + '\0'
            + QByteArray(tail.data(), int(tail.size()));
    }
    default:
        return QJsonDocument(makeObject(in, 0))
            .toJson(in.ConsumeBool() ? QJsonDocument::Compact : QJsonDocument::Indented);
    }
}

struct Snapshot
{
    QString manufacturer, model, firmware, software, cartridge;
    bool active, jammed, doorOpen, inMouth, inRfid;
    int percent;

    explicit Snapshot(const Dispenser& d)
        : manufacturer(d.manufacturer())
        , model(d.model())
        , firmware(d.firmware())
        , software(d.software())
        , cartridge(d.cartridge())
        , active(d.active())
        , jammed(d.isJammed())
        , doorOpen(d.isDoorOpen())
        , inMouth(d.cardInMouth())
        , inRfid(d.cardInRfid())
        , percent(d.cartridgePercent())
    {
    }
    // Everything but active and the identity.
    bool sensorsEqual(const Snapshot& o) const
    {
        return cartridge == o.cartridge && jammed == o.jammed && doorOpen == o.doorOpen && inMouth == o.inMouth
            && inRfid == o.inRfid && percent == o.percent;
    }
    bool operator==(const Snapshot& o) const
    {
        return sensorsEqual(o) && active == o.active && manufacturer == o.manufacturer && model == o.model
            && firmware == o.firmware && software == o.software;
    }
};

// The payload as the client reads it: up to the first NUL, empty as {}.
bool readPayload(const QByteArray& payload, QJsonObject* object)
{
    const int nul = payload.indexOf('\0');
    QString text = QString::fromUtf8(nul < 0 ? payload : payload.left(nul));
    if (text.isEmpty())
        text = QStringLiteral("{}");
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    *object = document.object();
    return error.error == QJsonParseError::NoError;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(countMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    manager::MqttClient mqtt;
    Dispenser dispenser(mqtt, Base);
    int changes = 0, accepted = 0, removed = 0, disposed = 0;
    for (auto signal : { &Dispenser::manufacturerChanged, &Dispenser::modelChanged, &Dispenser::firmwareChanged,
             &Dispenser::softwareChanged, &Dispenser::activeChanged, &Dispenser::isJammedChanged,
             &Dispenser::isDoorOpenChanged, &Dispenser::cardInMouthChanged, &Dispenser::cardInRfidChanged,
             &Dispenser::cartridgeChanged, &Dispenser::cartridgePercentChanged })
        QObject::connect(&dispenser, signal, [&changes] { ++changes; });
    QObject::connect(&dispenser, &Dispenser::cardAccepted, [&accepted] { ++accepted; });
    QObject::connect(&dispenser, &Dispenser::cardRemoved, [&removed] { ++removed; });
    QObject::connect(&dispenser, &Dispenser::cardDisposed, [&disposed] { ++disposed; });

    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange(0, 15) == 0) {
            // The waits and requests cannot go out without a connection, whatever the time-out.
            const int seconds = in.ConsumeIntegral<int>();
            const int warningsBefore = g_warning;
            bool rejected = false;
            dispenser.waitCollect(seconds).fail([&rejected](const Dispenser::Result& r) {
                rejected = r.code == -1 && r.description == QLatin1String("Not connected");
            });
            check(rejected);
            check(g_warning == warningsBefore + (seconds <= 0 ? 1 : 0));
            check(!dispenser.setLEDs(quint8(seconds)));
            rejected = false;
            dispenser.issue().fail([&rejected](const Dispenser::Result& r) { rejected = r.code == -1; });
            check(rejected);
            continue;
        }
        const QString topic = makeTopic(in);
        const QByteArray payload = makePayload(in);
        const Snapshot before(dispenser);
        const int changesBefore = changes;
        const int acceptedBefore = accepted, removedBefore = removed, disposedBefore = disposed;
        const int eventsBefore = accepted + removed + disposed;
        const int criticalBefore = g_critical;
        const int otherBefore = g_other + g_warning;

        dispenser.onMqttReceived(payload, topic);

        const Snapshot after(dispenser);
        const int events = accepted + removed + disposed;
        if (!topic.contains(Base)) {
            check(after == before && changes == changesBefore && events == eventsBefore);
            check(g_critical == criticalBefore && g_other + g_warning == otherBefore);
            continue;
        }
        QJsonObject object;
        if (!readPayload(payload, &object)) {
            check(after == before && changes == changesBefore && events == eventsBefore);
            check(g_critical == criticalBefore + 1);
            check(g_lastCritical.startsWith(QStringLiteral("[Dispenser] ERROR: Failed to parse JSON message (topic=")
                + topic + QStringLiteral(") :")));
            continue;
        }
        check(g_critical == criticalBefore);

        if (topic == Base + QLatin1String("/status")) {
            check(events == eventsBefore);
            if (object.value(QLatin1String("service")) != QJsonValue(true)) {
                check(!dispenser.active() && after.sensorsEqual(before));
            } else {
                const QJsonObject device = object.value(QLatin1String("device")).toObject();
                check(dispenser.active() == (device.value(QLatin1String("active")) == QJsonValue(true)));
                check(
                    dispenser.isDoorOpen() == (device.value(QLatin1String("isCartridgeDoorOpen")) == QJsonValue(true)));
                check(dispenser.cartridgePercent() == device.value(QLatin1String("cartridgePercent")).toInt(0));
            }
        } else if (topic == Base + QLatin1String("/info")) {
            check(events == eventsBefore && after.sensorsEqual(before) && after.active == before.active);
        } else if (topic == Base + QLatin1String("/card/inserted")) {
            check(after == before && accepted == acceptedBefore + 1 && events == eventsBefore + 1);
        } else if (topic == Base + QLatin1String("/card/removed")) {
            check(after == before && removed == removedBefore + 1 && events == eventsBefore + 1);
        } else if (topic == Base + QLatin1String("/card/disposed")) {
            check(after == before && disposed == disposedBefore + 1 && events == eventsBefore + 1);
        } else {
            check(after == before && changes == changesBefore && events == eventsBefore);
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

// Feeds arbitrary topics and payloads to the RFID reader client's message
// handler, over an MQTT client that never connects. Each input is a sequence
// of messages to one client, so states carry from one message to the next.

#include "MqttClient.h"
#include "RFID.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

using manager::RFID;

namespace {

const QString Base = QStringLiteral("zent/rfid");

const char* const kKeys[] = { "service", "device", "state", "error", "what", "uid", "type", "template", "data", "info",
    "customsId", "status", "version", "usageCounter", "usageLog", "timestamp", "deviceId", "locationId", "firmware",
    "manufacturer", "model", "completed" };
const char* const kTexts[]
    = { "KSTVv1", "KSTVv2", "", "04A1", "2024-02-30T10:00:00", "2024-03-01T08:15:00", "entry", "Service is offline" };
const char* const kSuffixes[] = { "/info", "/status", "/card/found", "/card/removed", "/card/autoread", "/card",
    "/status/x", "/", "", "/enable/response/1", "/card/found/request/2" };

int g_critical = 0;
int g_other = 0;

void countMessages(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtCriticalMsg)
        ++g_critical;
    else if (type == QtFatalMsg)
        std::abort();
    else
        ++g_other;
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
    const int members = in.ConsumeIntegralInRange(0, 6);
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
        return in.ConsumeBool();
    case 2:
        return in.ConsumeIntegralInRange(-3, 12);
    case 3:
        return in.ConsumeFloatingPoint<double>();
    case 4:
        return QLatin1String(in.PickValueInArray(kTexts));
    case 5:
        return QString::fromUtf8(in.ConsumeRandomLengthString(16).c_str());
    case 6: {
        QJsonArray array;
        const int n = in.ConsumeIntegralInRange(0, 4);
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
        return QStringLiteral("zent/RFID") + suffix;
    default:
        return Base + suffix;
    }
}

QByteArray makePayload(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: {
        const std::string raw = in.ConsumeRandomLengthString(48);
        return QByteArray(raw.data(), int(raw.size()));
    }
    case 1:
        return QByteArray();
    default:
        return QJsonDocument(makeObject(in, 0))
            .toJson(in.ConsumeBool() ? QJsonDocument::Compact : QJsonDocument::Indented);
    }
}

struct Snapshot
{
    QString uid, manufacturer, model, firmware, software, error;
    int state;
    Tag* card;

    explicit Snapshot(const RFID& r)
        : uid(r.uid())
        , manufacturer(r.manufacturer())
        , model(r.model())
        , firmware(r.firmware())
        , software(r.software())
        , error(r.error())
        , state(int(r.state()))
        , card(r.activeCard().data())
    {
    }
    bool operator==(const Snapshot& o) const
    {
        return uid == o.uid && manufacturer == o.manufacturer && model == o.model && firmware == o.firmware
            && software == o.software && error == o.error && state == o.state && card == o.card;
    }
};

struct Counts
{
    int changes = 0;
    int cardChanged = 0;
    int found = 0;
    int removed = 0;
    int autoread = 0;
    int autoreadFailed = 0;
    Tag* lastFound = nullptr;
};

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
    RFID rfid(mqtt, Base);
    Counts counts;
    for (auto signal : { &RFID::uidChanged, &RFID::manufacturerChanged, &RFID::modelChanged, &RFID::firmwareChanged,
             &RFID::softwareChanged, &RFID::stateChanged, &RFID::errorChanged })
        QObject::connect(&rfid, signal, [&counts] { ++counts.changes; });
    QObject::connect(&rfid, &RFID::activeCardChanged, [&counts] { ++counts.cardChanged; });
    QObject::connect(&rfid, &RFID::cardFound, [&counts](Tag::Ptr t) {
        ++counts.found;
        counts.lastFound = t.data();
    });
    QObject::connect(&rfid, &RFID::cardRemoved, [&counts](Tag::Ptr) { ++counts.removed; });
    QObject::connect(&rfid, &RFID::cardAutoread, [&counts](Card::Ptr) { ++counts.autoread; });
    QObject::connect(&rfid, &RFID::cardAutoreadFailed, [&counts](const QString&) { ++counts.autoreadFailed; });

    while (in.remaining_bytes() > 0) {
        const QString topic = makeTopic(in);
        const QByteArray payload = makePayload(in);
        const Snapshot before(rfid);
        const Counts countsBefore = counts;
        const int criticalBefore = g_critical;
        const int otherBefore = g_other;

        rfid.onMqttReceived(payload, topic);

        const Snapshot after(rfid);
        const bool cardChanged = before.card != after.card;
        check(counts.cardChanged == countsBefore.cardChanged + (cardChanged ? 1 : 0));
        const RFID::State state = rfid.state();
        const bool known = state >= RFID::Init && state <= RFID::Error;
        check(rfid.active() == (state == RFID::Idle || state == RFID::Searching || state == RFID::CardFound));
        check((RFID::stateToStr(state) == QLatin1String("Unknown")) == !known);

        if (!topic.contains(Base)) {
            // Not even looked at.
            check(after == before);
            check(g_critical == criticalBefore && g_other == otherBefore);
            check(counts.changes == countsBefore.changes);
            continue;
        }
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
        if (error.error != QJsonParseError::NoError) {
            check(after == before);
            check(g_critical == criticalBefore + 1);
            check(counts.changes == countsBefore.changes && counts.found == countsBefore.found
                && counts.removed == countsBefore.removed && counts.autoread == countsBefore.autoread
                && counts.autoreadFailed == countsBefore.autoreadFailed);
            continue;
        }
        check(g_critical == criticalBefore);
        const QJsonObject object = document.object();
        const int events = counts.found + counts.removed + counts.autoread + counts.autoreadFailed;
        const int eventsBefore
            = countsBefore.found + countsBefore.removed + countsBefore.autoread + countsBefore.autoreadFailed;

        if (topic == Base + QLatin1String("/status")) {
            check(events == eventsBefore);
            if (object.value(QLatin1String("service")) != QJsonValue(true)) {
                check(state == RFID::Error && rfid.error() == QLatin1String("Service is offline"));
            } else {
                const QJsonObject device = object.value(QLatin1String("device")).toObject();
                check(int(state) == device.value(QLatin1String("state")).toInt(0));
                if (state == RFID::Idle)
                    check(!rfid.activeCard());
                else
                    check(!cardChanged);
            }
        } else if (topic == Base + QLatin1String("/card/found")) {
            check(counts.found == countsBefore.found + 1 && events == eventsBefore + 1);
            check(rfid.activeCard() && counts.lastFound == rfid.activeCard().data() && cardChanged);
            check(rfid.activeCard()->uid() == object.value(QLatin1String("uid")).toString());
        } else if (topic == Base + QLatin1String("/card/removed")) {
            check(counts.removed == countsBefore.removed + 1 && events == eventsBefore + 1);
            check(!rfid.activeCard());
        } else if (topic == Base + QLatin1String("/card/autoread")) {
            check(events == eventsBefore + 1);
            if (object.contains(QLatin1String("error"))) {
                check(counts.autoreadFailed == countsBefore.autoreadFailed + 1 && !cardChanged);
            } else {
                const bool known = object.value(QLatin1String("template")).toString() == QLatin1String("KSTVv1");
                check(counts.autoread == countsBefore.autoread + 1);
                check(bool(rfid.activeCard()) == known);
                check(rfid.activeCard().dynamicCast<Card>() == rfid.activeCard());
            }
        } else if (topic == Base + QLatin1String("/info")) {
            check(events == eventsBefore && before.state == after.state && !cardChanged);
        } else {
            // Under the root but none of the five: parsed, then dropped.
            check(after == before && events == eventsBefore && counts.changes == countsBefore.changes);
        }

        // The wait for a card follows the state; without a connection it cannot wait.
        bool settled = false;
        rfid.waitCardFound(5)
            .done([&](const RFID::Result& r) {
                settled = true;
                check(state == RFID::CardFound && r.card == rfid.activeCard() && r.error.isEmpty());
            })
            .fail([&](const RFID::Result& r) {
                settled = true;
                check(!r.card && state != RFID::CardFound);
                check(r.error
                    == (state == RFID::Searching ? QLatin1String("Not connected") : QLatin1String("RF is disabled")));
            });
        check(settled);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

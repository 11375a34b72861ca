// Feeds arbitrary topics and payloads to the RFID reader client's message
// handler, over an MQTT client that never connects; states carry from one
// message to the next. Any state number must stay a valid state.

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
    "customsId", "usageLog", "timestamp", "model", "completed" };
const char* const kSuffixes[] = { "/info", "/status", "/card/found", "/card/removed", "/card/autoread", "/card", "" };

int g_logged = 0;

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void countMessages(QtMsgType type, const QMessageLogContext&, const QString&)
{
    check(type != QtFatalMsg);
    ++g_logged;
}

QJsonValue makeValue(FuzzedDataProvider& in, int depth)
{
    switch (depth == 0 ? 4 : in.ConsumeIntegralInRange(0, depth > 3 ? 2 : 4)) {
    case 0:
        return in.ConsumeBool();
    case 1:
        return in.ConsumeBool() ? in.ConsumeIntegralInRange(-3, 12) : in.ConsumeIntegral<int>();
    case 2:
        return QLatin1String(in.PickValueInArray({ "KSTVv1", "04A1", "2024-03-01T08:15:00", "" }));
    case 3:
        return QJsonArray { makeValue(in, depth + 1), makeValue(in, depth + 1) };
    default: {
        QJsonObject object;
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0 && in.remaining_bytes() > 0; --n)
            object.insert(QLatin1String(in.PickValueInArray(kKeys)), makeValue(in, depth + 1));
        return object;
    }
    }
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
    RFID rfid(mqtt, Base);
    int signalled = 0;
    for (auto signal : { &RFID::stateChanged, &RFID::errorChanged, &RFID::uidChanged, &RFID::activeCardChanged })
        QObject::connect(&rfid, signal, [&signalled] { ++signalled; });

    while (in.remaining_bytes() > 0) {
        const int form = in.ConsumeIntegralInRange(0, 3);
        const QString suffix = QLatin1String(in.PickValueInArray(kSuffixes));
        const QString topic = form == 0 ? QString::fromStdString(in.ConsumeRandomLengthString(24))
                                        : (form == 1 ? QStringLiteral("zent/RFID") : Base) + suffix;
        const QByteArray payload = in.ConsumeBool()
            ? QByteArray::fromStdString(in.ConsumeRandomLengthString(48))
            : QJsonDocument(makeValue(in, 0).toObject()).toJson(QJsonDocument::Compact);
        const int loggedBefore = g_logged, signalledBefore = signalled;

        rfid.onMqttReceived(payload, topic);

        // Topics outside the root are not even looked at.
        if (!topic.contains(Base))
            check(g_logged == loggedBefore && signalled == signalledBefore);
        const RFID::State state = rfid.state();
        check(rfid.active() == (state == RFID::Idle || state == RFID::Searching || state == RFID::CardFound));
        check((RFID::stateToStr(state) == QLatin1String("Unknown")) == (state < RFID::Init || state > RFID::Error));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

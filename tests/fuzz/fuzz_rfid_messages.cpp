// Feeds arbitrary topics and payloads to the RFID reader client's message
// handler, over an MQTT client that never connects; states carry from one
// message to the next. Any state number must stay a valid state.

#include "MqttClient.h"
#include "RFID.h"

#include "FuzzJson.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>

using manager::RFID;

namespace {

const QString Base = QStringLiteral("zent/rfid");
const char* const kKeys[] = { "service", "device", "state", "error", "what", "uid", "type", "template", "data", "info",
    "customsId", "usageLog", "timestamp", "model", "completed" };
const char* const kSuffixes[] = { "/info", "/status", "/card/found", "/card/removed", "/card/autoread", "/card", "" };

void quiet(QtMsgType type, const QMessageLogContext&, const QString&)
{
    check(type != QtFatalMsg);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    manager::MqttClient mqtt;
    RFID rfid(mqtt, Base);

    while (in.remaining_bytes() > 0) {
        const QString topic = in.ConsumeIntegralInRange(0, 3) == 0
            ? QString::fromStdString(in.ConsumeRandomLengthString(24))
            : Base + QLatin1String(in.PickValueInArray(kSuffixes));
        const QByteArray payload = in.ConsumeBool()
            ? QByteArray::fromStdString(in.ConsumeRandomLengthString(48))
            : QJsonDocument(FuzzJson(in, { std::begin(kKeys), std::end(kKeys) }).object())
                  .toJson(QJsonDocument::Compact);
        rfid.onMqttReceived(payload, topic);

        const RFID::State state = rfid.state();
        check(rfid.active() == (state == RFID::Idle || state == RFID::Searching || state == RFID::CardFound));
        check((RFID::stateToStr(state) == QLatin1String("Unknown")) == (state < RFID::Init || state > RFID::Error));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

// Feeds arbitrary topics and payloads to the card dispenser client's message
// handler, over an MQTT client that never connects.

#include "Dispenser.h"
#include "MqttClient.h"

#include "FuzzJson.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>

using manager::Dispenser;

namespace {

const QString Base = QStringLiteral("zent/dispenser");
const char* const kKeys[] = { "service", "device", "active", "isJammed", "isCartridgeDoorOpen", "cardInMouth",
    "cardInRfid", "cartridge", "cartridgePercent", "model", "version", "completed", "error", "code" };
const char* const kSuffixes[]
    = { "/info", "/status", "/card/inserted", "/card/removed", "/card/disposed", "/card", "" };

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
    Dispenser dispenser(mqtt, Base);

    while (in.remaining_bytes() > 0) {
        const QString topic = in.ConsumeIntegralInRange(0, 3) == 0
            ? QString::fromStdString(in.ConsumeRandomLengthString(24))
            : Base + QLatin1String(in.PickValueInArray(kSuffixes));
        QByteArray payload = in.ConsumeBool()
            ? QByteArray::fromStdString(in.ConsumeRandomLengthString(48))
            : QJsonDocument(FuzzJson(in, { std::begin(kKeys), std::end(kKeys) }).object())
                  .toJson(QJsonDocument::Compact);
        if (in.ConsumeBool())
            payload += '\0' + QByteArray::fromStdString(in.ConsumeRandomLengthString(8));
        dispenser.onMqttReceived(payload, topic);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

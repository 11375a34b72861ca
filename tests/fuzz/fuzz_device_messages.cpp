// Feeds arbitrary topics and payloads to the message handlers of the RFID reader and
// card dispenser clients, over an MQTT client that never connects; states carry from
// one message to the next. Any reader state number must stay a valid state, and the
// reply parsing of a call must ignore whatever follows a NUL.

#include "Dispenser.h"
#include "FuzzJson.h"
#include "MqttClient.h"
#include "RFID.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdint>

using manager::RFID;

namespace {

const QString Rfid = QStringLiteral("zent/rfid"), Dispenser = QStringLiteral("zent/dispenser");
const char* const kKeys[] = { "service", "device", "state", "error", "what", "uid", "type", "template", "data", "info",
    "customsId", "usageLog", "timestamp", "model", "completed", "active", "isJammed", "isCartridgeDoorOpen",
    "cardInMouth", "cardInRfid", "cartridge", "cartridgePercent", "version", "code" };
const char* const kSuffixes[] = { "/info", "/status", "/card/found", "/card/removed", "/card/autoread",
    "/card/inserted", "/card/disposed", "/card", "" };

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType t, const QMessageLogContext&, const QString&) { check(t != QtFatalMsg); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    manager::MqttClient mqtt;
    RFID rfid(mqtt, Rfid);
    manager::Dispenser dispenser(mqtt, Dispenser);

    while (in.remaining_bytes() > 0) {
        const bool toReader = in.ConsumeBool();
        const QString topic = in.ConsumeIntegralInRange(0, 3) == 0
            ? QString::fromStdString(in.ConsumeRandomLengthString(24))
            : (toReader ? Rfid : Dispenser) + QLatin1String(in.PickValueInArray(kSuffixes));
        QByteArray payload = in.ConsumeBool()
            ? QByteArray::fromStdString(in.ConsumeRandomLengthString(48))
            : QJsonDocument(FuzzJson(in, { kKeys, kKeys + sizeof kKeys / sizeof *kKeys }).object())
                  .toJson(QJsonDocument::Compact);
        if (in.ConsumeBool())
            payload += '\0' + QByteArray::fromStdString(in.ConsumeRandomLengthString(8));
        toReader ? rfid.onMqttReceived(payload, topic) : dispenser.onMqttReceived(payload, topic);

        QJsonObject object, prefixObject;
        const bool ok = manager::MqttClient::parseReply(payload, object);
        const int nul = payload.indexOf('\0'); // left() of a negative length is empty, not the whole
        check(manager::MqttClient::parseReply(nul < 0 ? payload : payload.left(nul), prefixObject) == ok
            && prefixObject == object && (!payload.startsWith('\0') || (ok && object.isEmpty())));

        const RFID::State state = rfid.state();
        check(rfid.active() == (state == RFID::Idle || state == RFID::Searching || state == RFID::CardFound)
            && (RFID::stateToStr(state) == QLatin1String("Unknown")) == (state < RFID::Init || state > RFID::Error));
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

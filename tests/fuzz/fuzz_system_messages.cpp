// Feeds arbitrary topics under each root and arbitrary payloads to the network,
// Ethernet, inspector, update and GPS clients, over an MQTT client that never
// connects, mixed with update checks.

#include "GPSManager.h"
#include "Inspector.h"
#include "MqttClient.h"
#include "Network.h"
#include "Update.h"

#include "FuzzJson.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace {

const char* const kKeys[] = { "service", "version", "stateStr", "connectivityStr", "hostname", "primaryConnection",
    "interface", "typeStr", "reasonStr", "mac", "ipv4", "address", "netmask", "gateway", "dns0", "dns1", "method",
    "internal", "volume", "updateman", "pending", "state", "description", "percent", "progress", "device", "fix",
    "error", "simulation", "latitude", "groundSpeed", "imei", "assisted" };
const char* const kRoots[] = { "zent/network", "zent/network/ethernet", "zent/inspector", "zent/update", "zent/gps" };
const char* const kSuffixes[]
    = { "/status", "/info", "/state", "/config", "/audio", "/progress", "/data", "/stats/cpu", "/status/x", "" };

void failOnFatal(QtMsgType type, const QMessageLogContext&, const QString&)
{
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(failOnFatal);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    manager::MqttClient mqtt;
    manager::Network network(mqtt, QStringLiteral("zent/network"));
    manager::Inspector inspector(mqtt, QStringLiteral("zent/inspector"));
    manager::Update update(mqtt, QStringLiteral("zent/update"));
    manager::GPSManager gps(mqtt, QStringLiteral("zent/gps"));

    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange(0, 12) == 0) {
            const QString before = update.status();
            update.check();
            if (update.status() != before)
                std::abort(); // a check that cannot be sent must not show as running
            continue;
        }
        const QString topic = in.ConsumeIntegralInRange(0, 4) == 0
            ? QString::fromStdString(in.ConsumeRandomLengthString(32))
            : QLatin1String(in.PickValueInArray(kRoots)) + QLatin1String(in.PickValueInArray(kSuffixes));
        const QByteArray payload = in.ConsumeBool()
            ? QByteArray::fromStdString(in.ConsumeRandomLengthString(64))
            : QJsonDocument(FuzzJson(in, { std::begin(kKeys), std::end(kKeys) }).object())
                  .toJson(QJsonDocument::Compact);
        emit mqtt.received(payload, topic.toUtf8());
        // The stored IPv4 maps never hold more than the five settings.
        if (network.ethernet()->ipv4()->toMap().size() > 5 || network.ethernet()->config()->toMap().size() > 5)
            std::abort();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

// The local system services' clients. Either arbitrary topics under each root and
// arbitrary payloads for the network, Ethernet, inspector, update and GPS clients,
// over an MQTT client that never connects, mixed with update checks; or the clock
// over arbitrary outputs, exit codes and failures of its system commands and
// arbitrary time zones and NTP servers, checking that no command ever gets an
// argument that could act as an option or as more than a replacement text in the
// sed script.

#include "Clock.h"
#include "CommandRunner.h"
#include "GPSManager.h"
#include "Inspector.h"
#include "MqttClient.h"
#include "Network.h"
#include "Update.h"

#include "FuzzJson.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QRegularExpression>

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

class FuzzRunner : public CommandRunner
{
public:
    explicit FuzzRunner(FuzzedDataProvider& in)
        : m_in(in)
    {
    }

    Result run(const QString& program, const QStringList& arguments, int) override
    {
        static const QRegularExpression script(
            QRegularExpression::anchoredPattern(QStringLiteral("s/\\^#\\?NTP=\\.\\*/NTP=[A-Za-z0-9.: -]*/")));
        if (program == QLatin1String("sed") && !script.match(arguments.value(2)).hasMatch())
            std::abort();
        if (program == QLatin1String("timedatectl") && arguments.value(0) == QLatin1String("set-timezone")
            && arguments.value(1).startsWith(QLatin1Char('-')))
            std::abort();
        Result result;
        result.status = static_cast<Result::Status>(m_in.ConsumeIntegralInRange(0, 3));
        result.exitCode = m_in.ConsumeIntegralInRange(-1, 2);
        result.error = m_in.ConsumeIntegralInRange(0, 5);
        result.output = QByteArray::fromStdString(m_in.ConsumeRandomLengthString(160));
        return result;
    }

private:
    FuzzedDataProvider& m_in;
};

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
    if (in.ConsumeBool()) {
        FuzzRunner runner(in);
        manager::Clock clock(runner, QStringLiteral("/conf/timesyncd.conf"));
        while (in.remaining_bytes() > 0) {
            const QString value = QString::fromUtf8(in.ConsumeRandomLengthString(40).c_str());
            const int action = in.ConsumeIntegralInRange(0, 4);
            if (action == 0 && (in.ConsumeBool() || clock.timezones().isEmpty()))
                clock.setTimezone(value);
            else if (action == 0)
                clock.setTimezone(
                    clock.timezones().value(in.ConsumeIntegralInRange<int>(0, clock.timezones().size() - 1)));
            else if (action == 1)
                clock.setNtpServer(value);
            else if (action == 2)
                clock.setNtpEnabled(in.ConsumeBool());
            else
                clock.refresh();
        }
        return 0;
    }
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

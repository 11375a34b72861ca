// Full card cycles (prepare, issue, collect) through the card issuer against
// the device simulator answering at once, beside the same requests and waits
// made directly on an MQTT client: the difference is what the card layers cost.

#include "CardIssuer.h"
#include "DeviceSimulator.h"
#include "Dispenser.h"
#include "KSTVv1Card.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"
#include "RFID.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <memory>

namespace {

int g_cycles = 1000;

struct Lane
{
    MosquittoBroker broker;
    std::unique_ptr<DeviceSimulator> sim;
    manager::MqttClient mqtt;
    std::unique_ptr<manager::RFID> rfid;
    std::unique_ptr<manager::Dispenser> dispenser;
    std::unique_ptr<manager::CardIssuer> issuer;
    MqttProbe counter;

    // Empty when the lane is up, else what is missing.
    QString start()
    {
        if (!broker.start())
            return QStringLiteral("could not start the test broker (is the mosquitto program installed?)");
        sim = std::make_unique<DeviceSimulator>(
            broker.port(), QStringList { "--detect-delay-ms", "0", "--auto-take-ms", "0", "--cards", "100000" });
        if (!sim->start())
            return QStringLiteral("could not start the device simulator ") + DeviceSimulator::programPath() + ": "
                + sim->lastError() + " (build tools/devicesim, or set DEVICESIM_PATH)";
        mqtt.setHostname(broker.host());
        mqtt.setPort(broker.port());
        mqtt.setClientId(QStringLiteral("bench-lane"));
        rfid = std::make_unique<manager::RFID>(mqtt, sim->rfidRoot());
        dispenser = std::make_unique<manager::Dispenser>(mqtt, sim->dispenserRoot());
        issuer = std::make_unique<manager::CardIssuer>(*rfid, *dispenser);
        mqtt.connect();
        if (!QTest::qWaitFor([this] { return issuer->state() == manager::CardIssuer::Ready; }, 5000))
            return QStringLiteral("the card issuer did not become ready: ")
                + manager::CardIssuer::stateToStr(issuer->state()) + " " + issuer->reason();
        // Counts the application messages the broker routes to the devices and back.
        if (!counter.connectTo(broker.host(), broker.port()) || !counter.subscribe(sim->rfidRoot() + "/#")
            || !counter.subscribe(sim->dispenserRoot() + "/#"))
            return QStringLiteral("could not subscribe the message counter");
        return QString();
    }
};

// Runs the event loop until d settles (QTest::qWaitFor would add its 10 ms naps to
// every step); true when it resolved.
template<class... T> bool settle(const Deferred<T...>& d)
{
    if (d.isPending()) {
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        d.doneZero([&loop] { loop.quit(); }).failZero([&loop] { loop.quit(); });
        loop.exec();
    }
    return d.state() == 1;
}

Lane* g_lane = nullptr;

void IssuerCardCycle(benchmark::State& state)
{
    Lane& lane = *g_lane;
    lane.counter.clear();
    int cycles = 0;
    for (auto _ : state) {
        if (!settle(lane.issuer->prepareCard())) {
            state.SkipWithError("prepareCard failed");
            break;
        }
        auto card = QSharedPointer<KSTVv1Card>::create();
        card->addUsageLog(QStringLiteral("entry"), QStringLiteral("BENCH"), QStringLiteral("LOC"));
        card->incrUsageCounter(1);
        if (!settle(lane.issuer->issueCard(card, 60))) {
            state.SkipWithError("issueCard failed");
            break;
        }
        ++cycles;
    }
    QTest::qWait(50);
    if (cycles > 0)
        state.counters["mqtt_msgs_per_cycle"] = double(lane.counter.count()) / cycles;
    state.counters["cycles_per_s"] = benchmark::Counter(cycles, benchmark::Counter::kIsRate);
}

// The same requests and event waits made directly on an MQTT client of its
// own: transport and simulator only, without the reader, dispenser and issuer layers.
void BareRpcCardCycle(benchmark::State& state)
{
    Lane& lane = *g_lane;
    manager::MqttClient mqtt;
    mqtt.setHostname(lane.broker.host());
    mqtt.setPort(lane.broker.port());
    mqtt.setClientId(QStringLiteral("bench-bare"));
    QEventLoop connected;
    QObject::connect(&mqtt, &manager::MqttClient::connected, &connected, &QEventLoop::quit);
    QTimer::singleShot(5000, &connected, &QEventLoop::quit);
    mqtt.connect();
    connected.exec();
    const QString rfid = lane.sim->rfidRoot();
    const QString dispenser = lane.sim->dispenserRoot();
    int id = 100000;
    auto call = [&](const QString& topic, const QJsonObject& params) {
        return settle(mqtt.executeRpc(topic, QString::number(++id), params, 3000));
    };
    // Events come through standing subscriptions, as the device clients have them.
    mqtt.subscribe(rfid + "/card/found");
    mqtt.subscribe(dispenser + "/card/removed");
    auto enableAndFind = [&] {
        const Deferred<QJsonValue> found = mqtt.waitTopic(rfid + "/card/found", 1000);
        return call(rfid + "/enable", { { "autoread", false } }) && settle(found);
    };
    int cycles = 0;
    for (auto _ : state) {
        bool ok = call(dispenser + "/issue", {}) && enableAndFind() && call(rfid + "/disable", {});
        ok = ok && enableAndFind() && call(rfid + "/card/create", { { "template", "KSTVv1" } })
            && call(rfid + "/card/write",
                { { "uid", "" }, { "type", 0 }, { "template", "KSTVv1" }, { "data", QJsonObject() } })
            && call(rfid + "/disable", {});
        if (ok) {
            const Deferred<QJsonValue> removed = mqtt.waitTopic(dispenser + "/card/removed", 5000);
            ok = call(dispenser + "/eject", {}) && settle(removed);
        }
        if (!ok) {
            state.SkipWithError("bare cycle failed");
            break;
        }
        ++cycles;
    }
    state.counters["cycles_per_s"] = benchmark::Counter(cycles, benchmark::Counter::kIsRate);
}

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            m_ms[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void summary() const
    {
        const auto issuer = m_ms.find("IssuerCardCycle/iterations:" + std::to_string(g_cycles) + "/real_time");
        const auto raw = m_ms.find("BareRpcCardCycle/iterations:" + std::to_string(g_cycles) + "/real_time");
        if (issuer == m_ms.end() || raw == m_ms.end() || raw->second <= 0)
            return;
        std::cout << "card cycle: issuer " << issuer->second << " ms, same requests on a bare MQTT client "
                  << raw->second << " ms, reader/dispenser/issuer layers add " << issuer->second - raw->second
                  << " ms per cycle (" << issuer->second / raw->second << "x)\n";
    }

private:
    std::map<std::string, double> m_ms;
};

} // namespace

int main(int argc, char** argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--cycles=", 9) == 0)
            g_cycles = std::max(1, std::atoi(argv[i] + 9));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    QCoreApplication app(argc, argv);
    // The clients' debug lines would dominate the measurement.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    benchmark::Initialize(&argc, argv);
    // Run by hand the build tree is not named in the environment: the simulator is
    // built beside this program.
    if (qEnvironmentVariableIsEmpty("DEVICESIM_PATH") && qEnvironmentVariableIsEmpty("LANE_BINARY_DIR"))
        qputenv("DEVICESIM_PATH",
            QFile::encodeName(QCoreApplication::applicationDirPath() + "/../tools/devicesim/devicesim"));
    Lane lane;
    const QString missing = lane.start();
    if (!missing.isEmpty()) {
        std::cerr << "bench_card_cycle: " << missing.toStdString() << "\n";
        return 1;
    }
    g_lane = &lane;
    benchmark::RegisterBenchmark("IssuerCardCycle", IssuerCardCycle)
        ->Iterations(g_cycles)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BareRpcCardCycle", BareRpcCardCycle)
        ->Iterations(g_cycles)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.summary();
    benchmark::Shutdown();
    return 0;
}

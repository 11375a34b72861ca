// Vehicle passages back to back through the whole terminal (engine, card issuer,
// cameras) against simulators that answer at once, beside a baseline making the same
// camera cycle and card sequences directly: the difference is what the terminal and
// its engine add per passage. The fixed pauses of a passage (500 ms before the issue,
// 500 ms barrier step, 3000 ms return to Idle) are set to 0 for the figure; one run
// with the real pauses reports its time beyond them.

#include "CameraManager.h"
#include "CameraRig.h"
#include "CardIssuer.h"
#include "Config.h"
#include "DeviceSimulator.h"
#include "KSTVv1Card.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "MqttProbe.h"
#include "OwnHome.h"
#include "PrivateNetwork.h"
#include "Session.h"
#include "Susi.h"
#include "Terminal.h"
#include "TestPorts.h"
#include "TimeStandIns.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <iostream>
#include <memory>

namespace {

int g_passages = 200;
int g_realPassages = 3;
constexpr double kFixedPausesMs = 500 + 500 + 3000;

// Runs the event loop until the condition holds, checking every millisecond
// (QTest::qWaitFor naps 10 ms); false after ten seconds.
bool waitUntil(const std::function<bool()>& condition)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (condition())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    return condition();
}

template<class... T> bool settle(const Deferred<T...>& d)
{
    bool over = false;
    d.doneZero([&over] { over = true; }).failZero([&over] { over = true; });
    return waitUntil([&over] { return over; }) && d.state() == 1;
}

struct Rig
{
    QTemporaryDir work;
    MosquittoBroker broker;
    std::unique_ptr<DeviceSimulator> devices;
    std::unique_ptr<CameraRig> cameras;
    std::unique_ptr<Config> config;
    manager::MqttClient mqtt;
    std::unique_ptr<Terminal> terminal;
    MqttProbe counter;

    // Empty when everything is up, else what is missing.
    QString start()
    {
        QDir::setCurrent(work.path());
        QDir().mkpath("gpio");
        for (const char* pin : { "gpio/gpio0", "gpio/gpio1" }) {
            QFile file(pin);
            if (!file.open(QIODevice::WriteOnly) || file.write("0\n") != 2)
                return "could not write the GPIO simulator's files";
        }
        qputenv(SusiSimulatorDirVariable, work.filePath("gpio").toLocal8Bit());
        testsupport::useTimeStandIns(work.filePath("time"));
        if (!broker.start())
            return "could not start the test broker (is the mosquitto program installed?)";
        devices = std::make_unique<DeviceSimulator>(broker.port(),
            QStringList {
                "--model", "RTA27408", "--detect-delay-ms", "0", "--auto-take-ms", "0", "--cards", "100000" });
        if (!devices->start())
            return "could not start the device simulator " + DeviceSimulator::programPath() + ": "
                + devices->lastError() + " (build tools/devicesim, or set DEVICESIM_PATH)";
        cameras = std::make_unique<CameraRig>(testsupport::freePort());
        QString error;
        if (!cameras->start(&error))
            return "could not start the camera simulator: " + error;
        QVariantMap settings = cameras->settings();
        settings.insert({ { "topics/rfid", devices->rfidRoot() }, { "topics/dispenser", devices->dispenserRoot() },
            { "topics/network", "zent/network" }, { "topics/update", "zent/update" }, { "camera/triggerDelayMsec", 0 },
            { "terminal/collectTimeoutSec", 10 }, { "terminal/deviceId", "BENCH01" }, { "terminal/customsId", "17" },
            { "terminal/locationId", "LOC7" } });
        config = std::make_unique<Config>(work.filePath("gui.conf"), settings);
        terminal = std::make_unique<Terminal>(*config, mqtt);
        mqtt.setHostname(broker.host());
        mqtt.setPort(broker.port());
        mqtt.setClientId("bench-terminal");
        mqtt.connect();
        if (!waitUntil([this] { return terminal->state() == Terminal::Ready && idle(); }))
            return "the terminal did not become ready: " + terminal->reason();
        if (!counter.connectTo(broker.host(), broker.port()) || !counter.subscribe(devices->rfidRoot() + "/#")
            || !counter.subscribe(devices->dispenserRoot() + "/#"))
            return "could not subscribe the message counter";
        return QString();
    }

    // Idle with a card read and the reader switched off again: the next vehicle can come.
    bool idle() const
    {
        return terminal->engine() && terminal->engine()->state() == Engine::Idle
            && !terminal->session()->cardId().isEmpty() && terminal->rfid()->state() == manager::RFID::Idle;
    }

    // One passage as a driver who presses first; false when it did not end in a collected card.
    bool passage()
    {
        QSharedPointer<Engine> engine = terminal->engine();
        bool collected = false;
        QMetaObject::Connection done = QObject::connect(
            terminal.get(), &Terminal::sessionFinished, [&] { collected = terminal->session()->result(); });
        engine->simButtonPressed();
        const bool ok = waitUntil([&] { return collected && idle(); });
        QObject::disconnect(done);
        return ok;
    }
};

Rig* g_rig = nullptr;

void runPassages(benchmark::State& state, const Engine::Pauses& pauses, bool beyondPauses)
{
    Rig& rig = *g_rig;
    rig.terminal->setEnginePauses(pauses);
    rig.counter.clear();
    int passages = 0;
    for (auto _ : state) {
        if (!rig.passage()) {
            state.SkipWithError("passage failed");
            break;
        }
        ++passages;
    }
    QTest::qWait(20);
    if (passages > 0)
        state.counters["mqtt_msgs_per_passage"] = double(rig.counter.count()) / passages;
    if (beyondPauses)
        state.counters["pauses_ms"] = kFixedPausesMs;
}

void TerminalPassage(benchmark::State& state)
{
    runPassages(state, Engine::Pauses { 0, 0, 0, 1000, 25000 }, false);
}

void TerminalPassageRealPauses(benchmark::State& state)
{
    runPassages(state, Engine::Pauses {}, true);
}

// The same work without terminal and engine: one camera cycle, the issue of the card on
// the reader and the preparation of the next, on the terminal's own clients.
void DirectDeviceWork(benchmark::State& state)
{
    Rig& rig = *g_rig;
    rig.terminal->engine()->stop();
    manager::CardIssuer issuer(*rig.terminal->rfid(), *rig.terminal->dispenser());
    issuer.checkState();
    rig.counter.clear();
    int passages = 0;
    for (auto _ : state) {
        auto card = QSharedPointer<KSTVv1Card>::create();
        card->setCustomsId(17);
        card->addUsageLog(QStringLiteral("entry"), QStringLiteral("BENCH01"), QStringLiteral("LOC7"));
        card->incrUsageCounter(1);
        if (!settle(rig.terminal->cameras()->cameraProcess(QString())) || !settle(issuer.issueCard(card, 10))
            || !settle(issuer.prepareCard())) {
            state.SkipWithError("device work failed");
            break;
        }
        ++passages;
    }
    QTest::qWait(20);
    if (passages > 0)
        state.counters["mqtt_msgs_per_passage"] = double(rig.counter.count()) / passages;
}

class OverheadReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            m_ms[run.benchmark_name().substr(0, run.benchmark_name().find('/'))] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void summary() const
    {
        const double passage = value("TerminalPassage"), direct = value("DirectDeviceWork");
        const double real = value("TerminalPassageRealPauses");
        if (passage > 0 && direct > 0)
            std::cout << "passage without pauses " << passage << " ms, same device work done directly " << direct
                      << " ms: terminal and engine add " << passage - direct << " ms per passage\n";
        if (real > 0)
            std::cout << "passage with the real pauses " << real << " ms, " << real - kFixedPausesMs
                      << " ms beyond the " << kFixedPausesMs << " ms of fixed pauses\n";
    }

private:
    double value(const std::string& name) const
    {
        const auto it = m_ms.find(name);
        return it == m_ms.end() ? 0 : it->second;
    }
    std::map<std::string, double> m_ms;
};

} // namespace

int main(int argc, char** argv)
{
    // The terminal's back-office client reads its API key from the user's settings otherwise.
    testsupport::useOwnHome(QStringLiteral(LANE_BENCH_HOME));
    // Cameras answer on port 80 of 127.0.0.11-14: only possible in a network of our own.
    QString networkError;
    if (!testsupport::enterPrivateNetwork(&networkError)) {
        std::cerr << "bench_passage: cannot enter a private network namespace: " << networkError.toStdString() << "\n";
        return 1;
    }
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--passages=", 11) == 0)
            g_passages = std::max(1, std::atoi(argv[i] + 11));
        else if (std::strncmp(argv[i], "--real-passages=", 16) == 0)
            g_realPassages = std::max(0, std::atoi(argv[i] + 16));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("DEVICESIM_PATH") && qEnvironmentVariableIsEmpty("LANE_BINARY_DIR"))
        qputenv("DEVICESIM_PATH",
            QFile::encodeName(QCoreApplication::applicationDirPath() + "/../tools/devicesim/devicesim"));
    Rig rig;
    const QString missing = rig.start();
    if (!missing.isEmpty()) {
        std::cerr << "bench_passage: " << missing.toStdString() << "\n";
        return 1;
    }
    g_rig = &rig;
    benchmark::RegisterBenchmark("TerminalPassage", TerminalPassage)
        ->Iterations(g_passages)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    if (g_realPassages > 0)
        benchmark::RegisterBenchmark("TerminalPassageRealPauses", TerminalPassageRealPauses)
            ->Iterations(g_realPassages)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    // Last: it stops the engine.
    benchmark::RegisterBenchmark("DirectDeviceWork", DirectDeviceWork)
        ->Iterations(g_passages)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    OverheadReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.summary();
    benchmark::Shutdown();
    return 0;
}

// Round trip of one request/response call through manager::MqttClient
// against the raw libmosquitto round trip (publish, receive the answer) as
// the baseline, over the same local broker and the same responder process,
// and the process's resident memory before and after 10,000 calls.
//
// Run with "--responder PORT" the program is the responder itself: a plain
// libmosquitto client that answers every request topic on its response topic.

#include "MosquittoBroker.h"
#include "MqttClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <mosquitto.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// ---- the responder process --------------------------------------------------

void responderOnConnect(mosquitto* mosq, void*, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(mosq, nullptr, "bench/+/request/+", 1);
}

void responderOnSubscribe(mosquitto*, void*, int, int, const int*)
{
    puts("ready");
    fflush(stdout);
}

void responderOnMessage(mosquitto* mosq, void*, const mosquitto_message* message)
{
    std::string topic(message->topic);
    const auto at = topic.find("/request/");
    if (at == std::string::npos)
        return;
    topic.replace(at, strlen("/request/"), "/response/");
    mosquitto_publish(mosq, nullptr, topic.c_str(), message->payloadlen, message->payload, 1, false);
}

int runResponder(int port)
{
    mosquitto_lib_init();
    mosquitto* mosq = mosquitto_new("bench-responder", true, nullptr);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq, responderOnConnect);
    mosquitto_subscribe_callback_set(mosq, responderOnSubscribe);
    mosquitto_message_callback_set(mosq, responderOnMessage);
    if (mosquitto_connect(mosq, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS)
        return 1;
    // Ends when the benchmark kills it.
    mosquitto_loop_forever(mosq, -1, 1);
    return 0;
}

// ---- the benchmark process --------------------------------------------------

const QJsonObject kRequest { { "cmd", "read" }, { "block", 4 }, { "key", "A0A1A2A3A4A5" } };

// Raw libmosquitto client: a lasting subscription to its response topics,
// then publish and wait for the answer.
struct RawClient
{
    mosquitto* mosq = nullptr;
    int received = 0;
    bool subscribed = false;

    bool start(int port)
    {
        mosq = mosquitto_new("bench-raw", true, this);
        mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(
            mosq, [](mosquitto*, void* self, const mosquitto_message*) { ++static_cast<RawClient*>(self)->received; });
        mosquitto_subscribe_callback_set(mosq,
            [](mosquitto*, void* self, int, int, const int*) { static_cast<RawClient*>(self)->subscribed = true; });
        if (mosquitto_connect(mosq, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS)
            return false;
        mosquitto_subscribe(mosq, nullptr, "bench/raw/response/+", 1);
        for (int i = 0; i < 100 && !subscribed; ++i)
            mosquitto_loop(mosq, 50, 1);
        return subscribed;
    }
    bool roundTrip(int id)
    {
        const QByteArray payload = QJsonDocument(kRequest).toJson(QJsonDocument::Compact);
        const std::string topic = "bench/raw/request/" + std::to_string(id);
        const int before = received;
        mosquitto_publish(mosq, nullptr, topic.c_str(), payload.size(), payload.constData(), 1, false);
        for (int i = 0; i < 1000 && received == before; ++i)
            mosquitto_loop(mosq, 100, 1);
        return received != before;
    }
    ~RawClient()
    {
        if (mosq) {
            mosquitto_disconnect(mosq);
            mosquitto_destroy(mosq);
        }
    }
};

struct Environment
{
    MosquittoBroker broker;
    QProcess responder;
    manager::MqttClient client;
    RawClient raw;
    int nextId = 0;
    bool ok = false;

    Environment()
    {
        broker.setLogTypes({ QStringLiteral("error") });
        if (!broker.start()) {
            fputs("cannot start mosquitto\n", stderr);
            return;
        }
        responder.start(
            QCoreApplication::applicationFilePath(), { QStringLiteral("--responder"), QString::number(broker.port()) });
        if (!responder.waitForReadyRead(5000) || !responder.readAllStandardOutput().contains("ready")) {
            fputs("responder did not start\n", stderr);
            return;
        }
        client.setPort(broker.port());
        client.connect();
        QEventLoop loop;
        QObject::connect(&client, &manager::MqttClient::connected, &loop, &QEventLoop::quit);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        ok = raw.start(broker.port()) && rpc();
    }
    ~Environment()
    {
        responder.kill();
        responder.waitForFinished(3000);
    }

    // One executeRpc call, run to its end like the application's event loop would.
    bool rpc()
    {
        bool settled = false;
        bool success = false;
        client.executeRpc(QStringLiteral("bench/rpc"), QString::number(++nextId), kRequest)
            .done([&](const QJsonValue&) { settled = success = true; })
            .fail([&](const QJsonValue&) { settled = true; });
        while (!settled)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return success;
    }
};

Environment* g_env = nullptr;

void BM_RawLibmosquittoRoundTrip(benchmark::State& state)
{
    int id = 0;
    for (auto _ : state)
        if (!g_env->raw.roundTrip(++id))
            state.SkipWithError("no answer");
}
BENCHMARK(BM_RawLibmosquittoRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_ExecuteRpcRoundTrip(benchmark::State& state)
{
    for (auto _ : state)
        if (!g_env->rpc())
            state.SkipWithError("call failed");
}
BENCHMARK(BM_ExecuteRpcRoundTrip)->Unit(benchmark::kMicrosecond);

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

template<class F> double microsPerCall(int calls, F&& call)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        if (!call())
            return -1;
    return double(timer.nsecsElapsed()) / 1000.0 / calls;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--responder") == 0)
        return runResponder(atoi(argv[2]));

    QCoreApplication app(argc, argv);
    // The client logs every call at debug level; a benchmark wants none of it.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    mosquitto_lib_init();
    Environment env;
    if (!env.ok)
        return 1;
    g_env = &env;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    // Same figures over a fixed count, side by side, and the memory check.
    const int calls = 10000;
    int rawId = 1000000;
    microsPerCall(1000, [&] { return env.rpc(); }); // warm-up: pools, hash tables
    const long before = residentKiB();
    const double rpc = microsPerCall(calls, [&] { return env.rpc(); });
    const long after = residentKiB();
    const double raw = microsPerCall(calls, [&] { return env.raw.roundTrip(++rawId); });
    // The last UNSUBACK may still be on its way.
    QElapsedTimer settle;
    settle.start();
    MosquittoClient* adapter = env.client.findChild<MosquittoClient*>();
    while (adapter && adapter->subscriptionCount() > 0 && settle.elapsed() < 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    printf("\n%d calls each, same broker and responder:\n", calls);
    printf("  raw libmosquitto round trip : %8.1f us\n", raw);
    printf("  executeRpc round trip       : %8.1f us\n", rpc);
    printf("  ratio executeRpc / raw      : %8.2f\n", raw > 0 ? rpc / raw : -1.0);
    printf("  resident memory before      : %8ld KiB\n", before);
    printf("  resident memory after       : %8ld KiB (%+ld KiB)\n", after, after - before);
    printf("  subscription objects left   : %8d\n", adapter ? adapter->subscriptionCount() : -1);
    printf("  wait timers left            : %8d\n",
        int(env.client.findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly).size()));
    benchmark::Shutdown();
    return rpc > 0 && raw > 0 ? 0 : 1;
}

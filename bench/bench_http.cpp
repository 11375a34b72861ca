// The push listener under a burst of pushes from a second process (this program
// started again as a load generator), beside a bare TCP server that answers
// without parsing; and the REST client's TLS round trip beside libcurl's in this
// process, with the same certificates against the same local server (on a thread of
// its own), each once with a fresh TLS connection per call and once over one kept
// connection.

#include "HttpClient.h"
#include "HttpServer.h"
#include "PeakMemory.h"
#include "TestCertificates.h"
#include "TlsTestServer.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <curl/curl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

int g_pushes = 10000;
int g_concurrency = 50;
int g_bodySize = 2048;
int g_roundTrips = 200;

const char Reply[] = "HTTP/1.1 200 OK\r\n\r\n";

// ---- load generator (runs in the second process) ----

struct LoadConnection
{
    int fd = -1;
    size_t sent = 0;
    std::string received;
};

int openConnection(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

int runLoad(int port, int total, int concurrency, int bodySize)
{
    std::string body = "{\"plate\":\"ABC1234\",\"confidence\":97,\"image\":\"";
    body += std::string(size_t(qMax(0, bodySize - int(body.size()) - 2)), 'x') + "\"}";
    const std::string request = "POST /local/push HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                "Content-Length: "
        + std::to_string(body.size()) + "\r\n\r\n" + body;

    std::vector<LoadConnection> live;
    int started = 0, ok = 0, failed = 0;
    const auto begin = std::chrono::steady_clock::now();
    while (ok + failed < total) {
        while (int(live.size()) < concurrency && started < total) {
            ++started;
            LoadConnection c;
            c.fd = openConnection(port);
            if (c.fd < 0)
                ++failed;
            else
                live.push_back(c);
        }
        std::vector<pollfd> fds;
        for (const LoadConnection& c : live)
            fds.push_back({ c.fd, short(c.sent < request.size() ? POLLOUT : POLLIN), 0 });
        if (poll(fds.data(), fds.size(), 5000) <= 0) {
            failed += int(live.size()); // stalled
            for (const LoadConnection& c : live)
                close(c.fd);
            live.clear();
            continue;
        }
        for (size_t i = fds.size(); i-- > 0;) {
            LoadConnection& c = live[i];
            bool done = false;
            if (fds[i].revents & POLLOUT) {
                const ssize_t n = send(c.fd, request.data() + c.sent, request.size() - c.sent, MSG_NOSIGNAL);
                if (n > 0)
                    c.sent += size_t(n);
                else if (errno != EAGAIN)
                    done = true;
            } else if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buffer[256];
                const ssize_t n = recv(c.fd, buffer, sizeof(buffer), 0);
                if (n > 0)
                    c.received.append(buffer, size_t(n));
                else if (n == 0 || errno != EAGAIN)
                    done = true;
            }
            if (done) {
                (c.received == Reply ? ok : failed) += 1;
                close(c.fd);
                live.erase(live.begin() + long(i));
            }
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    printf("ok=%d failed=%d seconds=%.6f\n", ok, failed, seconds);
    return 0;
}

// ---- measurements in this process ----

void discard(QtMsgType, const QMessageLogContext&, const QString&)
{
}

struct BurstResult
{
    int ok = 0;
    int failed = 0;
    double seconds = 0;
    double peakMiB = 0;
    double requestsPerSecond() const { return seconds > 0 ? ok / seconds : 0; }
};

// Starts the generator against the port and serves until it is done.
BurstResult burst(int port)
{
    BurstResult result;
    testsupport::resetPeakMemory();
    QProcess generator;
    QEventLoop loop;
    QObject::connect(
        &generator, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    generator.start(QCoreApplication::applicationFilePath(),
        { "--push-load", QString::number(port), QString::number(g_pushes), QString::number(g_concurrency),
            QString::number(g_bodySize) });
    loop.exec();
    result.peakMiB = testsupport::peakMemoryKiB() / 1024.0;
    const QByteArray out = generator.readAllStandardOutput();
    sscanf(out.constData(), "ok=%d failed=%d seconds=%lf", &result.ok, &result.failed, &result.seconds);
    return result;
}

BurstResult g_listener;
BurstResult g_raw;

void report(benchmark::State& state, const BurstResult& r)
{
    state.counters["req_per_s"] = r.requestsPerSecond();
    state.counters["peak_rss_MiB"] = r.peakMiB;
    state.counters["failed"] = r.failed;
    if (r.failed > 0)
        state.SkipWithError("pushes failed");
}

void BM_ListenerBurst(benchmark::State& state)
{
    const QtMessageHandler previous = qInstallMessageHandler(discard);
    for (auto _ : state) {
        HttpServer server;
        int received = 0;
        QObject::connect(&server, &HttpServer::requestReceived,
            [&received](QHostAddress, HttpServer::Request request) { received += request.body.size() == g_bodySize; });
        const quint16 port = [] {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            return probe.serverPort();
        }();
        // The generator plays many cameras from one loopback address.
        server.setMaxConnectionsPerPeer(g_concurrency);
        server.listen(port);
        g_listener = burst(port);
        if (received != g_listener.ok)
            state.SkipWithError("emissions do not match the replies");
    }
    qInstallMessageHandler(previous);
    report(state, g_listener);
}

// Baseline: answers the first read of each connection without parsing or logging.
void BM_BareTcpServerBurst(benchmark::State& state)
{
    for (auto _ : state) {
        QTcpServer server;
        QObject::connect(&server, &QTcpServer::newConnection, [&server] {
            QTcpSocket* socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                if (socket->property("done").toBool())
                    return;
                socket->setProperty("done", true);
                socket->write(Reply, sizeof(Reply) - 1);
                socket->disconnectFromHost();
            });
        });
        server.listen(QHostAddress::LocalHost, 0);
        g_raw = burst(server.serverPort());
    }
    report(state, g_raw);
}

// The REST server on its own thread, so a blocking libcurl call can be served.
class TlsServerThread : public QThread
{
public:
    TestCertificates certs;
    QString url;
    bool ready = false;

    bool begin()
    {
        if (!certs.generate())
            return false;
        start();
        m_started.acquire();
        return ready;
    }
    ~TlsServerThread() override
    {
        quit();
        wait();
    }

protected:
    void run() override
    {
        TlsTestServer server;
        server.setCertificate(certs.serverCert(), certs.serverKey());
        server.setCaCertificate(certs.caCert());
        server.setRequireClientCertificate(true);
        server.setKeepAlive(true);
        server.setHandler([](const TlsTestServer::Request&) {
            return TlsTestServer::json(200, "OK", "{\"status\":\"OK\",\"version\":\"1.0.0\"}");
        });
        ready = server.start();
        url = server.url("/api/v1/device/heartbeat");
        m_started.release();
        if (ready)
            exec();
    }

private:
    QSemaphore m_started;
};

TlsServerThread* tls()
{
    static TlsServerThread* server = [] {
        auto* thread = new TlsServerThread;
        thread->begin();
        return thread;
    }();
    return server;
}

// Milliseconds per call of each client, fresh connection [0] and kept connection [1].
double g_clientMs[2] = { 0, 0 };
double g_curlMs[2] = { 0, 0 };

// "Connection: close" makes both sides end the connection after each call, so the next
// call opens a new one with a full TLS handshake (the server keeps no session cache).
void BM_HttpClientRoundTrip(benchmark::State& state)
{
    const bool fresh = state.range(0) == 0;
    const QtMessageHandler previous = qInstallMessageHandler(discard);
    TlsServerThread* server = tls();
    if (!server->ready) {
        qInstallMessageHandler(previous);
        state.SkipWithError("TLS server did not start");
        return;
    }
    HttpClient client;
    client.setTLSCert(server->certs.clientCert());
    client.setTLSKey(server->certs.clientKey());
    client.setTLSRootCA(server->certs.caCert());
    client.setHeader("Content-Type", "application/json");
    if (fresh)
        client.setHeader("Connection", "close");
    const QUrl url(server->url);
    int failures = 0;
    auto call = [&] {
        QEventLoop loop;
        client.get(url)
            .done([&loop, &failures](int status, const QJsonValue&) {
                failures += status != 200;
                loop.quit();
            })
            .fail([&loop, &failures](int, const QJsonValue&) {
                ++failures;
                loop.quit();
            });
        loop.exec();
    };
    call(); // the manager and, when kept, the connection exist before the clock starts
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < g_roundTrips; ++i)
            call();
        g_clientMs[fresh ? 0 : 1] = timer.nsecsElapsed() / 1e6 / g_roundTrips;
    }
    qInstallMessageHandler(previous);
    state.counters["ms_per_call"] = g_clientMs[fresh ? 0 : 1];
    if (failures > 0)
        state.SkipWithError("requests failed");
}

size_t collect(char* data, size_t size, size_t count, void* body)
{
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

void BM_LibcurlRoundTrip(benchmark::State& state)
{
    const bool fresh = state.range(0) == 0;
    TlsServerThread* server = tls();
    if (!server->ready) {
        state.SkipWithError("TLS server did not start");
        return;
    }
    const std::string url = server->url.toStdString();
    const std::string ca = server->certs.caCert().toStdString();
    const std::string cert = server->certs.clientCert().toStdString();
    const std::string key = server->certs.clientKey().toStdString();
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    if (fresh)
        headers = curl_slist_append(headers, "Connection: close");
    std::string body;
    auto handle = [&] {
        CURL* curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
        curl_easy_setopt(curl, CURLOPT_SSLCERT, cert.c_str());
        curl_easy_setopt(curl, CURLOPT_SSLKEY, key.c_str());
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2 | CURL_SSLVERSION_MAX_TLSv1_2));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        return curl;
    };
    int failures = 0;
    CURL* kept = fresh ? nullptr : handle();
    auto call = [&] {
        // A fresh handle per call has no connection and no TLS session to reuse.
        CURL* curl = fresh ? handle() : kept;
        body.clear();
        long status = 0;
        if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK
            || status != 200 || body.find("\"OK\"") == std::string::npos)
            ++failures;
        if (fresh)
            curl_easy_cleanup(curl);
    };
    call();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < g_roundTrips; ++i)
            call();
        g_curlMs[fresh ? 0 : 1] = timer.nsecsElapsed() / 1e6 / g_roundTrips;
    }
    if (kept)
        curl_easy_cleanup(kept);
    curl_slist_free_all(headers);
    state.counters["ms_per_call"] = g_curlMs[fresh ? 0 : 1];
    if (failures > 0)
        state.SkipWithError("libcurl calls failed");
}

bool takeIntFlag(const char* arg, const char* name, int* value)
{
    const size_t length = strlen(name);
    if (strncmp(arg, name, length) != 0 || arg[length] != '=')
        return false;
    *value = atoi(arg + length + 1);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && strcmp(argv[1], "--push-load") == 0)
        return runLoad(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));

    // Our own flags go before Google Benchmark sees the rest.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (!takeIntFlag(argv[i], "--pushes", &g_pushes) && !takeIntFlag(argv[i], "--concurrency", &g_concurrency)
            && !takeIntFlag(argv[i], "--round-trips", &g_roundTrips))
            argv[kept++] = argv[i];
    }
    argc = kept;

    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RegisterBenchmark("ListenerBurst", BM_ListenerBurst)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BareTcpServerBurst", BM_BareTcpServerBurst)
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    // Argument 0: a fresh connection per call; 1: one kept connection.
    for (int kept : { 0, 1 }) {
        benchmark::RegisterBenchmark("HttpClientRoundTrip", BM_HttpClientRoundTrip)
            ->Arg(kept)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("LibcurlRoundTrip", BM_LibcurlRoundTrip)
            ->Arg(kept)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete tls();
    curl_global_cleanup();

    printf("\nListener, %d pushes of %d bytes, %d at a time from a second process:\n", g_pushes, g_bodySize,
        g_concurrency);
    printf("  HttpServer        %9.0f req/s  peak RSS %6.1f MiB\n", g_listener.requestsPerSecond(), g_listener.peakMiB);
    printf(
        "  bare QTcpServer   %9.0f req/s  peak RSS %6.1f MiB  (baseline)\n", g_raw.requestsPerSecond(), g_raw.peakMiB);
    if (g_raw.requestsPerSecond() > 0)
        printf("  ratio             %9.2f\n", g_listener.requestsPerSecond() / g_raw.requestsPerSecond());
    printf("REST round trip over TLS 1.2 with client certificate, %d calls each, in this process:\n", g_roundTrips);
    const char* const kinds[] = { "fresh connection", "kept connection" };
    for (int i = 0; i < 2; ++i) {
        printf(
            "  %-17s HttpClient %7.3f ms/call  libcurl (baseline) %7.3f ms/call", kinds[i], g_clientMs[i], g_curlMs[i]);
        if (g_curlMs[i] > 0)
            printf("  ratio %5.2f", g_clientMs[i] / g_curlMs[i]);
        printf("\n");
    }
    return 0;
}

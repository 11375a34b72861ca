// The REST client against a real TLS server on loopback: client certificate, statuses and
// bodies, refusals, time-outs, progress, the reply size limit, kept connections and their
// TLS settings, redirects that must not leak the key.

#include "HttpClient.h"

#include "DeferredDataBase.h"
#include "LogCapture.h"
#include "PrivateNetwork.h"
#include "TestCertificates.h"
#include "TestPorts.h"
#include "TlsTestServer.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {

using Response = TlsTestServer::Response;
using Request = TlsTestServer::Request;

const QString kSecret = QStringLiteral("secret-key");

// Hands the settled call's text to the callback: "resolved 200 <body as compact JSON>" or
// "rejected 0 \"text\"".
void describe(const Deferred<int, QJsonValue>& result, const std::function<void(const QString&)>& settled)
{
    auto settle = [settled](const char* state) {
        return [settled, state](int status, const QJsonValue& body) {
            const QByteArray json = QJsonDocument(QJsonArray { body }).toJson(QJsonDocument::Compact);
            settled(QStringLiteral("%1 %2 %3").arg(state).arg(status).arg(QString::fromUtf8(json.mid(1, json.size() - 2))));
        };
    };
    result.done(settle("resolved")).fail(settle("rejected"));
}

// Waits for the call to settle and gives its text; "pending" when it has not within the time.
QString finish(const Deferred<int, QJsonValue>& result, int ms = 10000)
{
    auto text = std::make_shared<QString>(QStringLiteral("pending"));
    describe(result, [text](const QString& settled) { *text = settled; });
    static_cast<void>(QTest::qWaitFor([&] { return *text != "pending"; }, ms));
    return *text;
}

// A call that failed below HTTP, with the network error's text.
bool transportError(const QString& result)
{
    return result.startsWith("rejected 0 \"") && result.size() > 13;
}

Response reply(int status, const QByteArray& body, const QList<QPair<QByteArray, QByteArray>>& headers = {})
{
    return { status, "Status", headers.isEmpty() ? decltype(headers) { { "Content-Type", "text/html" } } : headers,
        body };
}

// These bytes as the whole answer, the connection closed after them unless kept open.
Response raw(const QByteArray& bytes, bool keepOpen = false)
{
    Response answer;
    answer.raw = bytes;
    answer.keepOpen = keepOpen;
    return answer;
}

int silentCalls(const TlsTestServer& server)
{
    const QList<Request> requests = server.requests();
    return int(std::count_if(requests.begin(), requests.end(), [](const Request& r) { return r.path == "/silent"; }));
}

// Makes calls from a thread of its own and records their outcomes there, each marked when its
// callback ran on another thread.
class CallerThread
{
public:
    CallerThread()
    {
        m_context->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
        m_thread.start();
    }
    ~CallerThread() { end(); }

    void call(std::function<Deferred<int, QJsonValue>()> make)
    {
        QMetaObject::invokeMethod(m_context, [this, make] {
            describe(make(), [this](const QString& result) {
                QMutexLocker lock(&m_mutex);
                m_results << result + (QThread::currentThread() == &m_thread ? "" : " (on another thread)");
            });
        });
    }
    QStringList results() const
    {
        QMutexLocker lock(&m_mutex);
        return m_results;
    }
    // The thread ends; calls still pending stay so.
    void end()
    {
        m_thread.quit();
        m_thread.wait();
    }

private:
    QThread m_thread;
    QObject* m_context = new QObject;
    mutable QMutex m_mutex;
    QStringList m_results;
};

using PostPoint = DeferredDataBase::PostPoint;

// While alive, watches the results handed from other threads to one thread: reached as one is
// about to go, or as its thread's proxy is found; passed as it is posted. When held, each waits
// for go at the point where it is reached.
class HandOver
{
public:
    static inline QSemaphore reached { 0 }, passed { 0 }, go { 0 };

    HandOver(QThread* target, bool hold, PostPoint at = PostPoint::Lookup)
    {
        for (QSemaphore* s : { &reached, &passed, &go })
            s->acquire(s->available());
        s_target = target;
        s_hold = hold;
        s_at = at;
        DeferredDataBase::setPostHook(&hook);
    }
    ~HandOver()
    {
        DeferredDataBase::setPostHook(nullptr);
        go.release(100);
    }

private:
    static void hook(QThread* thread, PostPoint point)
    {
        if (thread != s_target || QThread::currentThread() == thread)
            return;
        if (point == s_at) {
            reached.release();
            if (s_hold)
                go.acquire();
        }
        // The post follows under the registry's lock: the thread cannot end before it.
        if (point == PostPoint::Found)
            passed.release();
    }

    static inline std::atomic<QThread*> s_target { nullptr };
    static inline std::atomic<bool> s_hold { false };
    static inline std::atomic<PostPoint> s_at { PostPoint::Lookup };
};

// A calling thread whose run goes on after its event loop ends, until resumed.
class StoppingThread : public QThread
{
public:
    QSemaphore loopEnded, resume;

    ~StoppingThread() override
    {
        quit();
        resume.release();
        wait();
    }

protected:
    void run() override
    {
        exec();
        loopEnded.release();
        resume.acquire();
    }
};

} // namespace

class tst_HttpClient : public QObject
{
    Q_OBJECT

private:
    TestCertificates m_certs;

    // TLS with the test CA's certificate, asking for our client certificate.
    void secure(TlsTestServer& server, bool requireClientCert = true)
    {
        server.setCertificate(m_certs.serverCert(), m_certs.serverKey());
        server.setCaCertificate(m_certs.caCert());
        server.setRequireClientCertificate(requireClientCert);
    }

    // A TLS server as above, started.
    std::unique_ptr<TlsTestServer> tlsServer(TlsTestServer::Handler handler, bool requireClientCert = true)
    {
        auto server = std::make_unique<TlsTestServer>();
        secure(*server, requireClientCert);
        server->setHandler(std::move(handler));
        if (!server->start())
            qFatal("test server did not start");
        return server;
    }

    static Response ok(const Request&) { return TlsTestServer::json(200, "OK", "{}"); }

    void configure(HttpClient& client)
    {
        client.setTLSCert(m_certs.clientCert());
        client.setTLSKey(m_certs.clientKey());
        client.setTLSRootCA(m_certs.caCert());
        client.setHeader("Content-Type", "application/json");
        client.setHeader("X-API-Key", kSecret);
    }

private slots:
    void initTestCase() { QVERIFY2(m_certs.generate(), qPrintable(m_certs.error())); }

    void successWithClientCertificate()
    {
        LogCapture log;
        auto server = tlsServer([](const Request& request) {
            return TlsTestServer::json(200, "OK", "{\"m\":\"" + request.method + "\"}");
        });
        HttpClient client;
        configure(client);
        // Values that would end their line early, and add lines of their own, are not sent.
        client.setHeader("X-Note", "a\r\nX-Injected: 1");
        client.setHeader("X-Other", "b\nX-Injected: 2");
        const QUrl url(server->url("/api/v1/device/heartbeat"));
        QString results = finish(client.post(url, QJsonObject { { "status", "OK" }, { "apiKey", "k1" } }));
        results += finish(client.put(url, QStringLiteral("plain text"), 5000));
        results += finish(client.get(url));
        results += finish(client.del(url));
        QCOMPARE(results,
            QStringLiteral("resolved 200 {\"m\":\"POST\"}resolved 200 {\"m\":\"PUT\"}resolved 200 {\"m\":\"GET\"}"
                           "resolved 200 {\"m\":\"DELETE\"}"));
        QByteArrayList seen;
        for (const Request& r : server->requests())
            seen << r.path + ' ' + r.headers.value("x-api-key") + ' ' + r.headers.value("content-type") + ' '
                    + r.clientCommonName.toLatin1() + ' ' + QByteArray::number(r.protocol == QSsl::TlsV1_2) + ' '
                    + r.headers.value("x-injected") + r.body;
        const QByteArray common = "/api/v1/device/heartbeat secret-key application/json device-001 1 ";
        QCOMPARE(seen,
            QByteArrayList(
                { common + "{\"apiKey\":\"k1\",\"status\":\"OK\"}", common + "plain text", common, common }));
        // The key member of the body is masked on its line.
        QCOMPARE(log.startingWith("[HttpClient] Data : QJsonValue("),
            QStringList(
                { "[HttpClient] Data : QJsonValue(object, QJsonObject({\"apiKey\":\"****\",\"status\":\"OK\"}))",
                    "[HttpClient] Data : QJsonValue(string, plain text)" }));
        QVERIFY(log.texts(QtWarningMsg).isEmpty());
        QStringList notSent;
        for (int call = 0; call < 4; ++call)
            for (const char* name : { "X-Note", "X-Other" })
                notSent << QString("[HttpClient] ERROR: Header not sent, it does not fit one line : ") + name;
        QCOMPARE(log.texts(QtCriticalMsg), notSent);
    }

    void tlsRefusals()
    {
        // No client certificate for a server that demands one (the paths never set are still
        // read, and fail), a TLS 1.3-only server, and no server at all.
        LogCapture log;
        auto server = tlsServer(ok);
        HttpClient client;
        client.setTLSRootCA(m_certs.caCert());
        QVERIFY(transportError(finish(client.get(QUrl(server->url("/api"))))));
        const QString openError = "[HttpClient] ERROR: Could not open file : ";
        QCOMPARE(log.texts(QtCriticalMsg), QStringList({ openError, openError }));
        configure(client);
        server->setProtocol(QSsl::TlsV1_3OrLater);
        QVERIFY(transportError(finish(client.get(QUrl(server->url("/api"))))));
        QVERIFY(server->requests().isEmpty());
        const QUrl nobody(QStringLiteral("https://127.0.0.1:%1/api").arg(testsupport::freePort()));
        QCOMPARE(finish(client.post(nobody, QJsonObject())), QStringLiteral("rejected 0 \"Connection refused\""));
    }

    void tlsSettingsChangedWhileKept_data()
    {
        QTest::addColumn<bool>("rewritten");
        QTest::addColumn<bool>("clientCert");
        QTest::newRow("errors no longer ignored") << false << true;
        QTest::newRow("root CA file rewritten in place") << true << true;
        QTest::newRow("root CA file rewritten, no client certificate") << true << false;
    }

    void tlsSettingsChangedWhileKept()
    {
        // A kept connection is used again only under the TLS settings it was opened with: after the
        // change the next call needs a handshake of its own, which fails.
        QFETCH(bool, rewritten);
        QFETCH(bool, clientCert);
        LogCapture log;
        QTemporaryDir dir;
        const QString rootCA = dir.filePath("ca.pem");
        QVERIFY(QFile::copy(m_certs.caCert(), rootCA));
        TlsTestServer server;
        secure(server, false);
        if (!rewritten)
            server.setCertificate(m_certs.foreignServerCert(), m_certs.foreignServerKey());
        server.setKeepAlive(true);
        server.setHandler(ok);
        QVERIFY(server.start());
        HttpClient client;
        if (clientCert)
            configure(client);
        client.setTLSRootCA(rootCA);
        client.setIgnoreSslErrors(!rewritten);
        const QUrl url(server.url("/api"));
        QCOMPARE(finish(client.get(url)), QStringLiteral("resolved 200 {}"));
        client.setIgnoreSslErrors(false);
        QFile file(rootCA);
        QFile foreign(m_certs.foreignServerCert());
        QVERIFY(!rewritten
            || (file.open(QIODevice::WriteOnly) && foreign.open(QIODevice::ReadOnly)
                && file.write(foreign.readAll()) > 0 && file.flush()));
        QVERIFY(transportError(finish(client.get(url))));
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.connectionsAccepted(), 2);
    }

    void timeouts()
    {
        LogCapture log;
        auto server = tlsServer([](const Request&) {
            Response silent;
            silent.silent = true;
            return silent;
        });
        HttpClient client;
        configure(client);
        const Deferred<int, QJsonValue> noTimer = client.get(QUrl(server->url("/forever")), 0);

        // A client destroyed with a call in flight takes its reply along quietly, its timer too: the
        // call stays pending past its time-out. The time-out leaves room for the request to arrive
        // on a busy machine; the checks below run while it passes.
        const int orphanTimeout = 2000;
        QElapsedTimer orphanAge;
        orphanAge.start();
        auto doomed = std::make_unique<HttpClient>();
        configure(*doomed);
        const Deferred<int, QJsonValue> orphan = doomed->get(QUrl(server->url("/orphan")), orphanTimeout);
        QTRY_COMPARE(server->requests().size(), 2);
        doomed.reset();

        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(
            finish(client.get(QUrl(server->url("/silent")), 300)), QStringLiteral("rejected 0 \"Operation canceled\""));
        // Never early.
        QVERIFY2(elapsed.elapsed() >= 300, qPrintable(QString::number(elapsed.elapsed())));
        // Time-out 0 starts no timer: still waiting well after the other one ended.
        QCOMPARE(finish(noTimer, 300), QStringLiteral("pending"));
        QCOMPARE(finish(orphan, std::max<qint64>(0, orphanTimeout + 300 - orphanAge.elapsed())),
            QStringLiteral("pending"));
        // Only the one time-out, and the aborted reply is not read (the toolkit would warn "device not open").
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList { "[HttpClient] ERROR: Request timed-out (timeout=300 msec). Aborting." });
        QCOMPARE(log.texts(QtWarningMsg), QStringList());
    }

    void statusAndBodies()
    {
        LogCapture log;
        // Path, what the server answers there, and the outcome ("%1" for the URL).
        const QList<std::tuple<QByteArray, Response, QString>> cases {
            { "/json404", TlsTestServer::json(404, "Not Found", "{\"e\":1}"), "rejected 404 {\"e\":1}" },
            { "/html404", reply(404, "<html>Not here</html>"),
                "rejected 404 \"Error transferring %1 - server replied: Status\"" },
            { "/text", reply(200, "OK"), "resolved 200 \"OK\"" },
            // No body after 204, also without a length on a connection that stays open.
            { "/empty", raw("HTTP/1.1 204 No Content\r\n\r\n", true), "resolved 204 \"\"" },
            // Interim replies are skipped; the connection is used again after the final one.
            { "/interim",
                raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s>\r\n\r\n"
                    "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\n{\"a\":1}",
                    true),
                "resolved 200 {\"a\":1}" },
            // Neither length nor chunks: the body ends with the connection.
            { "/close", raw("HTTP/1.1 200 OK\r\n\r\n{\"a\":2}"), "resolved 200 {\"a\":2}" },
            { "/auth", reply(401, "no", { { "WWW-Authenticate", "Basic realm=\"bo\"" } }),
                "rejected 401 \"Host requires authentication\"" },
            // A broken JSON reply keeps its empty object, but says so in the log.
            { "/broken", TlsTestServer::json(200, "OK", "{\"b\": "), "resolved 200 {}" },
            // A body coded although only an uncoded one was asked for cannot be read.
            { "/gzip", reply(200, "\x1f\x8b", { { "Content-Encoding", "gzip" } }),
                "rejected 200 \"Unsupported content encoding\"" },
            // A length that is not a number gives no end to the body: not taken as ending at the close.
            { "/length", raw("HTTP/1.1 200 OK\r\nContent-Length: 10x\r\n\r\n0123456789"),
                "rejected 0 \"Malformed reply\"" },
            // Lengths that disagree: either could be the one a proxy on the way took.
            { "/lengths", raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 7\r\n\r\n{}12345"),
                "rejected 0 \"Malformed reply\"" },
            // A head without end is refused once it passes its bound, the connection still open.
            { "/endless", raw("HTTP/1.1 200 OK\r\n" + QByteArray("X-Pad: 0123456789\r\n").repeated(4000), true),
                "rejected 0 \"Malformed reply\"" }
        };
        auto server = tlsServer([&](const Request& request) {
            for (const auto& [path, response, outcome] : cases)
                if (path == request.path)
                    return response;
            return Response();
        });
        // Over kept connections, as the back office's calls go: each reply must end where it says.
        server->setKeepAlive(true);
        HttpClient client;
        configure(client);
        int asked = 0;
        connect(&client, &HttpClient::authRequired, this, [&asked, &server](const QUrl& url, QAuthenticator* a) {
            asked += url == QUrl(server->url("/auth")) && a && a->realm() == QLatin1String("bo");
        });
        for (const auto& [path, response, outcome] : cases) {
            const QString url = server->url(path);
            QCOMPARE(finish(client.get(QUrl(url))), outcome.contains("%1") ? outcome.arg(url) : outcome);
        }
        QCOMPARE(asked, 1);
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList { "[HttpClient] WARN: Invalid JSON in reply from " + server->url("/broken")
                + " : unterminated object at offset 6" });
    }

    void progressAndSizeLimit()
    {
        // Decimal units, strict boundaries.
        const QList<QPair<qint64, QString>> sizes { { -1, "-- KB" }, { 999, "1.0 KB" }, { 1000000, "1000.0 KB" },
            { 1000001, "1.0 MB" }, { 1000000000, "1000.0 MB" }, { 1500000000, "1.5 GB" } };
        for (const auto& size : sizes)
            QCOMPARE(HttpClient::bytesToStr(size.first), size.second);

        LogCapture log;
        const qint64 limit = HttpClient::MaxReplyBytes;
        Response slow = reply(200, QByteArray(4000, 'p'));
        slow.firstPart = 1000;
        // Announced sizes arrive with the head and no byte of the body comes.
        Response over = reply(200, "");
        over.announce = limit + 1;
        Response atLimit = over;
        atLimit.announce = limit;
        Response streamed = reply(200, QByteArray(limit + 1, 's'));
        streamed.chunked = true;
        auto server = tlsServer([&](const Request& request) {
            const QMap<QByteArray, Response> answers { { "/slow", slow }, { "/over", over }, { "/limit", atLimit },
                { "/streamed", streamed } };
            return answers.value(request.path);
        });
        HttpClient client;
        configure(client);

        QStringList progress;
        const Deferred<int, QJsonValue> call = client.get(QUrl(server->url("/slow")));
        call.progress([&progress, &server](int percent, const QJsonValue& text) {
            progress << QString("%1 %2").arg(percent).arg(text.toString());
            // The rest only once the first part was reported: merged parts would show no 25 %.
            server->sendRest();
        });
        QVERIFY(finish(call).startsWith("resolved 200 \"pppp"));
        QVERIFY2(progress.contains("25 Downloaded 1.0 KB / 4.0 KB"), qPrintable(progress.join(" | ")));

        // Refused as soon as the size shows it, announced or received; a size at the limit is not: that
        // call ends by its time-out, with the head read. The time-out leaves room for the head to
        // arrive on a busy machine; the other calls run while it passes.
        const Deferred<int, QJsonValue> atLimitCall = client.get(QUrl(server->url("/limit")), 2000);
        const QString refused = "rejected 200 \"Reply body too large\"";
        QCOMPARE(finish(client.get(QUrl(server->url("/over")))), refused);
        QCOMPARE(finish(client.get(QUrl(server->url("/streamed")))), refused);
        QCOMPARE(finish(atLimitCall), QStringLiteral("rejected 200 \"Operation canceled\""));
        QCOMPARE(log.startingWith("[HttpClient] ERROR: Reply body too large").size(), 2);
        QVERIFY(log.contains(QString("[HttpClient] ERROR: Reply body too large (%1 bytes, at most %2). Aborting.")
                                 .arg(limit + 1)
                                 .arg(limit)));
    }

    void cutShortReply_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("get");
        QTest::addColumn<QByteArray>("length");
        for (bool tls : { false, true }) {
            for (bool get : { false, true }) {
                const QByteArray row = QByteArray(tls ? "https" : "http") + (get ? " get" : "");
                QTest::newRow(row) << tls << get << QByteArray("100");
                // As a proxy that merges repeated fields sends it: the network layer took such a
                // reply for one of unknown length, whole at the close.
                QTest::newRow(row + ", length listed") << tls << get << QByteArray("100, 100");
            }
        }
    }

    void cutShortReply()
    {
        // 200 with 10 of the 100 bytes it announces, and the connection closed at once. The
        // server answers before the request's body is in, from a thread of its own, so the answer
        // reaches the client while the request is still being written.
        QFETCH(bool, tls);
        QFETCH(bool, get);
        QFETCH(QByteArray, length);
        TlsTestServer cut;
        if (tls)
            secure(cut);
        const Response partial = raw("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\n0123456789");
        cut.setHandler([partial](const Request&) { return partial; });
        cut.setAnswerEarly(true);
        QVERIFY(cut.startInThread());

        LogCapture log;
        HttpClient client;
        if (tls)
            configure(client);
        const QUrl url(cut.url("/api/v1/device/transaction"));
        const QString result = finish(get ? client.get(url) : client.post(url, QJsonObject { { "card", "A1" } }));
        QCOMPARE(result, QStringLiteral("rejected 200 \"Reply cut short (10 of 100 bytes)\""));
        QVERIFY(log.contains("[HttpClient] ERROR: Reply cut short (10 of 100 bytes) : " + url.toString()));
        // Never sent again: a copy would have gone out before the call ended.
        QByteArrayList seen;
        for (const Request& request : cut.requests())
            seen << request.method + ' ' + request.path;
        QCOMPARE(seen, QByteArrayList { QByteArray(get ? "GET" : "POST") + " /api/v1/device/transaction" });
    }

    void keptConnectionLost_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("calls");
        for (bool tls : { false, true }) {
            const QByteArray scheme = tls ? "https " : "http ";
            // Closes the connection after each reply without saying so, the next call at once:
            // whether or not the close was seen first, every call succeeds.
            QTest::newRow(scheme + "POST, closed after each reply")
                << tls << QByteArray("POST") << QByteArray("/quiet") << "resolved 200 {}" << 20;
            // Forgotten by a middlebox while idle, reset at the next request, which never got in:
            // sent once more, on a new connection, whatever the method.
            for (const char* method : { "POST", "PUT", "GET", "DELETE" })
                QTest::newRow(scheme + method + ", reset while kept")
                    << tls << QByteArray(method) << QByteArray("/reset") << "resolved 200 {}" << 1;
            // A reply that had begun may have been acted on: the call fails, never sent again.
            QTest::newRow(scheme + "GET, status line and close")
                << tls << QByteArray("GET") << QByteArray("/status") << "rejected 0 \"" << 1;
            QTest::newRow(scheme + "POST, part of the body and close")
                << tls << QByteArray("POST") << QByteArray("/part")
                << "rejected 200 \"Reply cut short (10 of 100 bytes)\"" << 1;
            // A request on a new connection is never sent again.
            QTest::newRow(scheme + "POST, reset on a new connection")
                << tls << QByteArray("POST") << QByteArray("/fresh") << "rejected 0 \"" << 1;
        }
    }

    void keptConnectionLost()
    {
        QFETCH(bool, tls);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QString, outcome);
        QFETCH(int, calls);
        TlsTestServer server;
        if (tls)
            secure(server, false);
        server.setKeepAlive(true);
        server.setResetKeptConnections(path == "/reset");
        server.setHandler([](const Request& request) {
            Response answer = TlsTestServer::json(200, "OK", "{}");
            if (request.path == "/status")
                answer.raw = "HTTP/1.1 200 OK\r\n";
            else if (request.path == "/part")
                answer.raw = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789";
            else if (request.path == "/quiet")
                answer.raw = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
            answer.reset = request.path == "/fresh";
            return answer;
        });
        QVERIFY(server.startInThread());

        LogCapture log;
        HttpClient client;
        if (tls)
            configure(client);
        const QUrl url(server.url(path));
        QByteArrayList expected;
        if (path != "/fresh") {
            // Two kept connections: a request sent again goes on a new one, not on the other kept one.
            const QUrl first(server.url("/first"));
            const Deferred<int, QJsonValue> one = client.get(first), two = client.get(first);
            QCOMPARE(finish(one) + finish(two), QStringLiteral("resolved 200 {}resolved 200 {}"));
            expected << "GET /first"
                     << "GET /first";
        }
        // Each call starts the next from its callback, as the send queue does.
        const QJsonObject data { { "card", "A1" } };
        QStringList results;
        std::function<void()> next = [&] {
            describe(method == "GET" ? client.get(url)
                    : method == "DELETE" ? client.del(url)
                    : method == "PUT"    ? client.put(url, data)
                                         : client.post(url, data),
                [&](const QString& result) {
                    results << result;
                    if (results.size() < calls)
                        next();
                });
        };
        next();
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), calls, 20000);
        for (const QString& result : results) {
            QVERIFY2(result.startsWith(outcome), qPrintable(result));
            expected << method + ' ' + path;
        }
        // Each call reached the server once; a reset request never did.
        QByteArrayList seen;
        for (const Request& request : server.requests())
            seen << request.method + ' ' + request.path;
        QCOMPARE(seen, expected);
        if (path != "/quiet")
            QCOMPARE(log.startingWith("[HttpClient] WARN: Kept connection lost before any reply").size(),
                path == "/reset" ? 1 : 0);
    }

    void settlesInTheCallersEventLoop()
    {
        // The reply is read on the client's own thread, and may be in before the caller gets to add
        // its callbacks: the result still waits for the caller's event loop, so that a callback
        // that ends a local loop cannot run before that loop starts.
        LogCapture log;
        TlsTestServer server;
        server.setHandler([](const Request&) { return TlsTestServer::json(204, "No Content", ""); });
        QVERIFY(server.startInThread());
        HttpClient client;
        HandOver handOver(QThread::currentThread(), false);
        const Deferred<int, QJsonValue> call = client.get(QUrl(server.url("/api")));
        // Waited for without taking events, which would settle the result.
        const QString received = "[HttpClient] Received response for : " + server.url("/api");
        QDeadlineTimer deadline(10000);
        while (!log.contains(QtDebugMsg, received) && !deadline.hasExpired())
            QThread::msleep(1);
        QVERIFY2(log.contains(QtDebugMsg, received), "no reply");
        QVERIFY(HandOver::passed.tryAcquire(1, int(deadline.remainingTime())));
        QVERIFY(call.isPending());
        QCOMPARE(finish(call), QStringLiteral("resolved 204 \"\""));
    }

    void callerThatStopsTakingEvents_data()
    {
        QTest::addColumn<QString>("stop");
        // Held just before the result goes to it, the thread ends: nothing uses what went with it.
        QTest::newRow("ends as its result goes to it") << "ends";
        // Held once its proxy is found, the thread cannot end before the post: the result goes with it.
        QTest::newRow("ends as its result is posted") << "ends found";
        // Its loop quit from outside, or from a handler of its own, the thread works on and then ends.
        QTest::newRow("works on after its loop") << "quit";
        QTest::newRow("a handler quits its loop") << "handler";
    }

    void callerThatStopsTakingEvents()
    {
        // The result posted to a calling thread that no longer takes events goes with that thread's
        // end, its callbacks never run; those other threads added still do.
        QFETCH(QString, stop);
        LogCapture log;
        QSemaphore gate;
        TlsTestServer held, quick;
        held.setHandler([&gate](const Request&) {
            gate.acquire();
            return TlsTestServer::json(204, "No Content", "");
        });
        quick.setHandler(ok);
        QVERIFY(held.startInThread() && quick.startInThread());
        const auto openGate = qScopeGuard([&gate] { gate.release(); });
        HttpClient client;
        StoppingThread caller;
        auto* context = new QObject;
        context->moveToThread(&caller);
        connect(&caller, &QThread::finished, context, &QObject::deleteLater);
        caller.start();

        std::atomic<int> callerRan { 0 };
        Deferred<int, QJsonValue> call;
        QMetaObject::invokeMethod(
            context,
            [&] {
                call = client.get(QUrl(held.url("/held")));
                call.done([&](int, QJsonValue) { ++callerRan; }).fail([&](int, QJsonValue) { ++callerRan; });
                if (stop == "handler")
                    client.get(QUrl(quick.url("/api"))).done([](int, QJsonValue) { QThread::currentThread()->quit(); });
            },
            Qt::BlockingQueuedConnection);
        QString result = QStringLiteral("pending");
        describe(call, [&result](const QString& settled) { result = settled; });

        if (stop == "quit")
            caller.quit();
        const bool ends = stop.startsWith("ends");
        QVERIFY(ends || caller.loopEnded.tryAcquire(1, 10000));
        HandOver handOver(&caller, ends, stop == "ends found" ? PostPoint::Found : PostPoint::Lookup);
        gate.release();
        if (ends) {
            QVERIFY(HandOver::reached.tryAcquire(1, 10000));
            caller.quit();
            caller.resume.release();
            QVERIFY2(
                stop == "ends" || !caller.wait(500), "the thread ended between finding its proxy and posting to it");
            QVERIFY(stop != "ends" || caller.wait(10000));
            HandOver::go.release();
        } else {
            // Posted to the thread after its loop ended, then the thread ends.
            QVERIFY(HandOver::passed.tryAcquire(1, 10000));
            caller.resume.release();
        }
        QVERIFY(caller.wait(10000));
        QTRY_COMPARE(result, QStringLiteral("resolved 204 \"\""));
        QCOMPARE(callerRan.load(), 0);
        // Settled as it went, the thread got no new proxy that would outlive it.
        QCOMPARE(DeferredDataBase::generationOf(&caller), quint64(0));
        const QString dropped
            = "[HttpClient] WARN: The thread that made the call ended without taking its result : " + held.url("/held");
        QCOMPARE(log.texts(QtWarningMsg), stop == "ends" ? QStringList() : QStringList { dropped });
    }

    void callsFromAnotherThread()
    {
        // The client in this thread, its calls made in another, which gets every outcome: calls at
        // once, a time-out, a redirect, and a resend after a connection the server forgot.
        LogCapture log;
        TlsTestServer server;
        secure(server);
        server.setHandler([](const Request& request) {
            if (request.path == "/old")
                return reply(307, "", { { "Location", "/new" } });
            Response answer = TlsTestServer::json(200, "OK", "{\"m\":\"" + request.method + "\"}");
            answer.silent = request.path == "/silent";
            return answer;
        });
        QVERIFY(server.startInThread());
        TlsTestServer forgetful;
        forgetful.setKeepAlive(true);
        forgetful.setResetKeptConnections(true);
        forgetful.setHandler(ok);
        QVERIFY(forgetful.startInThread());

        HttpClient client;
        configure(client);
        CallerThread caller;
        const QUrl url(server.url("/api"));
        for (int i = 0; i < 20; ++i)
            caller.call([&, i] { return i % 2 ? client.get(url) : client.post(url, QJsonObject { { "i", i } }); });
        QTRY_COMPARE_WITH_TIMEOUT(caller.results().size(), 20, 20000);
        QCOMPARE(caller.results().filter("resolved 200 {\"m\":\"POST\"}").size(), 10);
        QCOMPARE(caller.results().filter("resolved 200 {\"m\":\"GET\"}").size(), 10);

        const QStringList more { "rejected 0 \"Operation canceled\"", "resolved 200 {\"m\":\"PUT\"}",
            "resolved 200 {}", "resolved 200 {}" };
        caller.call([&] { return client.get(QUrl(server.url("/silent")), 300); });
        QTRY_COMPARE_WITH_TIMEOUT(caller.results().size(), 21, 10000);
        caller.call([&] { return client.put(QUrl(server.url("/old")), QJsonObject()); });
        QTRY_COMPARE_WITH_TIMEOUT(caller.results().size(), 22, 10000);
        caller.call([&] { return client.get(QUrl(forgetful.url("/first"))); });
        QTRY_COMPARE_WITH_TIMEOUT(caller.results().size(), 23, 10000);
        caller.call([&] { return client.post(QUrl(forgetful.url("/again")), QJsonObject()); });
        QTRY_COMPARE_WITH_TIMEOUT(caller.results().size(), 24, 10000);
        QCOMPARE(caller.results().mid(20), more);
        QCOMPARE(log.startingWith("[HttpClient] WARN: Kept connection lost before any reply").size(), 1);
        QCOMPARE(log.startingWith("[HttpClient] WARN: Request was redirected to : ").size(), 1);

        // A calling thread that ends before its calls do: their time-out still ends them, quietly,
        // and the client serves the others.
        auto gone = std::make_unique<CallerThread>();
        gone->call([&] { return client.get(QUrl(server.url("/silent")), 300); });
        gone->call([&] { return client.get(QUrl(server.url("/silent")), 0); });
        QTRY_COMPARE(silentCalls(server), 3);
        gone.reset();
        QTRY_COMPARE(log.startingWith("[HttpClient] ERROR: Request timed-out").size(), 2);
        QCOMPARE(finish(client.get(url)), QStringLiteral("resolved 200 {\"m\":\"GET\"}"));

        // A client that ends before the calls of another thread: they stay pending, nothing runs.
        auto doomed = std::make_unique<HttpClient>();
        configure(*doomed);
        CallerThread orphaned;
        orphaned.call([&] { return doomed->get(QUrl(server.url("/silent")), 200); });
        QTRY_COMPARE(silentCalls(server), 4);
        doomed.reset();
        orphaned.end();
        QVERIFY(orphaned.results().isEmpty());

        // A thread that runs no event loop could never take a result: its call is refused at once,
        // and nothing is sent. Counted once the call made after it is answered and the server has
        // seen every connection close.
        const auto quiet = tlsServer(ok);
        const QUrl quietUrl(quiet->url("/api"));
        Deferred<int, QJsonValue> loopless;
        std::thread([&] { loopless = client.get(quietUrl); }).join();
        QCOMPARE(finish(loopless, 0), QStringLiteral("rejected 0 \"No event loop in the calling thread\""));
        QVERIFY(log.contains(QtCriticalMsg,
            "[HttpClient] ERROR: Call refused, the calling thread runs no event loop : " + quietUrl.toString()));
        QCOMPARE(finish(client.get(quietUrl)), QStringLiteral("resolved 200 {}"));
        QTRY_COMPARE(quiet->connectionsOpen(), 0);
        QCOMPARE(quiet->requests().size(), 1);
    }

    void idleTimeout()
    {
        // A kept connection closes once idle for its time; the next call opens a new one, and does not
        // take the closed one for a lost connection.
        LogCapture log;
        TlsTestServer server;
        server.setKeepAlive(true);
        server.setHandler(ok);
        QVERIFY(server.start());
        HttpClient client;
        client.setIdleTimeout(100);
        const QUrl url(server.url("/api"));
        QCOMPARE(finish(client.get(url)), QStringLiteral("resolved 200 {}"));
        QTRY_COMPARE(server.connectionsOpen(), 0);
        QCOMPARE(finish(client.get(url)), QStringLiteral("resolved 200 {}"));
        QCOMPARE(server.connectionsAccepted(), 2);
        QCOMPARE(log.texts(QtWarningMsg), QStringList());
    }

    void redirects()
    {
        LogCapture log;
        TlsTestServer plain;
        QVERIFY(plain.start());
        std::unique_ptr<TlsTestServer> other = tlsServer(ok);
        std::unique_ptr<TlsTestServer> server;
        server = tlsServer([&](const Request& request) {
            const QMap<QByteArray, QString> targets { { "/api/old", "new?x=1" }, { "/loop", "/loop" },
                { "/host", server->url("/t", "localhost") }, { "/http", plain.url("/t") },
                { "/port", other->url("/t") }, { "/file", "file:///etc/passwd" },
                { "/user", server->url("/t").replace("://", "://u:pw@") } };
            const QMap<QByteArray, int> codes { { "/api/old", 308 }, { "/loop", 307 }, { "/host", 301 },
                { "/http", 303 } };
            if (targets.contains(request.path))
                return reply(codes.value(request.path, 302), "", { { "Location", targets[request.path].toLatin1() } });
            return TlsTestServer::json(201, "Created", "{\"body\":" + request.body + "}");
        });
        HttpClient client;
        configure(client);

        // Relative 308 on POST: same method, body and headers on the resolved URL.
        QCOMPARE(finish(client.post(QUrl(server->url("/api/old")), QJsonObject { { "card", "A1" } })),
            QStringLiteral("resolved 201 {\"body\":{\"card\":\"A1\"}}"));
        const Request repeated = server->requests().at(1);
        QCOMPARE(repeated.method + ' ' + repeated.path + ' ' + repeated.body + ' ' + repeated.headers.value("x-api-key")
                + ' ' + repeated.clientCommonName.toLatin1(),
            QByteArray("POST /api/new?x=1 {\"card\":\"A1\"} secret-key device-001"));
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList { "[HttpClient] WARN: Request was redirected to : " + server->url("/api/new?x=1") });

        // The key and the body never go to another host (even one that is the same machine), over plain
        // HTTP, to another port or scheme, or with credentials; and a loop ends after ten redirects.
        const QString user = server->url("/t").replace("://", "://u@");
        const QList<QStringList> refused { { "/loop", server->url("/loop"), "more than 10 redirects" },
            { "/host", server->url("/t", "localhost"), "to another host" },
            { "/http", plain.url("/t"), "from https to http" }, { "/port", other->url("/t"), "to another port" },
            { "/file", "file:///etc/passwd", "to scheme file" }, { "/user", user, "to a URL with credentials" } };
        for (const QStringList& r : refused) {
            QCOMPARE(finish(client.del(QUrl(server->url(r[0])))),
                "rejected -1 \"Cannot redirect request to : " + r[1] + "\"");
            QVERIFY2(
                log.contains("[HttpClient] WARN: Not following redirect (" + r[2] + ") : " + r[1]), qPrintable(r[2]));
        }
        QCOMPARE(server->requests().size(), 2 + 1 + HttpClient::MaxRedirects + 5);
        QVERIFY(plain.requests().isEmpty() && other->requests().isEmpty());

        // Without a port, http goes to 80 and https to 443, and the usual move from the one to the other is taken.
        TlsTestServer http80, https443;
        secure(https443);
        http80.setHandler([](const Request&) { return reply(301, "", { { "Location", "https://127.0.0.1/t" } }); });
        https443.setHandler(ok);
        QVERIFY(http80.start(80) && https443.start(443));
        QCOMPARE(finish(client.get(QUrl("http://127.0.0.1/up"))), QStringLiteral("resolved 200 {}"));
        QCOMPARE(http80.requests().size() + https443.requests().size(), 2);
    }
};

// Ports 80 and 443 are free there.
LANE_PRIVATE_NETWORK_TEST_MAIN(tst_HttpClient)
#include "tst_HttpClient.moc"

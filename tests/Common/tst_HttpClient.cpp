// The REST client against a real TLS server on loopback: client certificate, statuses and
// bodies, refusals, time-outs, redirects that must not leak the key, download progress.

#include "HttpClient.h"

#include "LogCapture.h"
#include "TestCertificates.h"
#include "TlsTestServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QTest>

#include <memory>

namespace {

using Response = TlsTestServer::Response;
using Request = TlsTestServer::Request;
using Progress = QList<QPair<int, QString>>;

const QString kSecret = QStringLiteral("secret-key");

// Waits for the call to settle: "resolved 200 <body as compact JSON>" or "rejected 0 \"text\"";
// "pending" when it has not within the time.
QString finish(const Deferred<int, QJsonValue>& result, Progress* progress = nullptr, int ms = 10000)
{
    auto text = std::make_shared<QString>(QStringLiteral("pending"));
    auto settle = [text](const char* state) {
        return [text, state](int status, const QJsonValue& body) {
            const QByteArray json = QJsonDocument(QJsonArray { body }).toJson(QJsonDocument::Compact);
            *text = QStringLiteral("%1 %2 %3")
                        .arg(state)
                        .arg(status)
                        .arg(QString::fromUtf8(json.mid(1, json.size() - 2)));
        };
    };
    result.done(settle("resolved")).fail(settle("rejected"));
    if (progress)
        result.progress([progress](int percent, const QJsonValue& t) { progress->append({ percent, t.toString() }); });
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

} // namespace

class tst_HttpClient : public QObject
{
    Q_OBJECT

private:
    TestCertificates m_certs;

    // A TLS server with the test CA's certificate that asks for our client certificate.
    std::unique_ptr<TlsTestServer> tlsServer(TlsTestServer::Handler handler, bool requireClientCert = true)
    {
        auto server = std::make_unique<TlsTestServer>();
        server->setCertificate(m_certs.serverCert(), m_certs.serverKey());
        server->setCaCertificate(m_certs.caCert());
        server->setRequireClientCertificate(requireClientCert);
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

    void conversions()
    {
        const QList<QPair<qint64, QString>> sizes { { 999, "1.0 KB" }, { 1000000, "1000.0 KB" }, { 1000001, "1.0 MB" },
            { 2500000000LL, "2.5 GB" }, { -1, "-- KB" } };
        for (const auto& size : sizes)
            QCOMPARE(HttpClient::bytesToStr(size.first), size.second);
        QJsonParseError error;
        QCOMPARE(HttpClient::parsePayload("[broken", &error), QJsonValue(QJsonObject()));
        QVERIFY(error.error != QJsonParseError::NoError);
        QCOMPARE(HttpClient::parsePayload(QByteArray("te\0xt", 5)), QJsonValue("te"));
        QCOMPARE(HttpClient::createPayload(QJsonArray { 1, "x" }), QByteArray("[1,\"x\"]"));
        QCOMPARE(HttpClient::createPayload(true), QByteArray());

        LogCapture log;
        HttpClient client;
        QCOMPARE(
            finish(client.get(QUrl("http://exa mple.com")), nullptr, 0), QStringLiteral("rejected 0 \"Invalid URL\""));
        QCOMPARE(log.texts(QtCriticalMsg), QStringList { "[HttpClient] ERROR: Invalid URL : " });
    }

    void successWithClientCertificate()
    {
        LogCapture log;
        auto server = tlsServer([](const Request& request) {
            return TlsTestServer::json(200, "OK", "{\"m\":\"" + request.method + "\"}");
        });
        HttpClient client;
        configure(client);
        const QUrl url(server->url("/api/v1/device/heartbeat"));
        QString results = finish(client.post(url, QJsonObject { { "status", "OK" }, { "apiKey", "k1" } }));
        results += finish(client.put(url, QStringLiteral("plain text"), 5000));
        results += finish(client.get(url));
        results += finish(client.del(url));
        QCOMPARE(results,
            QStringLiteral("resolved 200 {\"m\":\"POST\"}resolved 200 {\"m\":\"PUT\"}resolved 200 {\"m\":\"GET\"}"
                           "resolved 200 {\"m\":\"DELETE\"}"));
        QList<QByteArray> bodies;
        for (const Request& request : server->requests()) {
            bodies << request.body;
            QCOMPARE(request.path, QByteArray("/api/v1/device/heartbeat"));
            QCOMPARE(request.headers.value("x-api-key"), kSecret.toLatin1());
            QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
            QCOMPARE(request.clientCommonName, QStringLiteral("device-001"));
            QCOMPARE(request.protocol, QSsl::TlsV1_2);
        }
        QCOMPARE(bodies, QList<QByteArray>({ "{\"apiKey\":\"k1\",\"status\":\"OK\"}", "plain text", "", "" }));
        QCOMPARE(log.count("[HttpClient] Creating new Network Access Manager for thread "), 1);
        QVERIFY(log.contains(QtInfoMsg, "[HttpClient] Performing DELETE request : " + url.toString()));
        // The key member of the body is masked on its line.
        QCOMPARE(log.startingWith("[HttpClient] Data : QJsonValue("),
            QStringList(
                { "[HttpClient] Data : QJsonValue(object, QJsonObject({\"apiKey\":\"****\",\"status\":\"OK\"}))",
                    "[HttpClient] Data : QJsonValue(string, plain text)" }));
        QCOMPARE(log.count("[HttpClient] Received response for : " + url.toString()), 4);
        QVERIFY(log.texts(QtWarningMsg).isEmpty() && log.texts(QtCriticalMsg).isEmpty());
    }

    void tlsRefusals()
    {
        // No client certificate for a server that demands one, and a TLS 1.3-only server.
        LogCapture log;
        auto server = tlsServer(ok);
        HttpClient bare;
        bare.setTLSRootCA(m_certs.caCert());
        QVERIFY(transportError(finish(bare.get(QUrl(server->url("/api"))))));
        // The paths that were never set are still read, and fail.
        const QString openError = "[HttpClient] ERROR: Could not open file : ";
        QCOMPARE(log.texts(QtCriticalMsg), QStringList({ openError, openError }));
        server->setProtocol(QSsl::TlsV1_3OrLater);
        HttpClient client;
        configure(client);
        QVERIFY(transportError(finish(client.get(QUrl(server->url("/api"))))));
        QVERIFY(server->requests().isEmpty());

        // Unreadable certificate and key: logged, and the call goes on without them.
        auto optional = tlsServer(ok, false);
        client.setTLSCert(m_certs.dir() + "/missing.pem");
        QCOMPARE(finish(client.get(QUrl(optional->url("/api")))), QStringLiteral("resolved 200 {}"));
        QVERIFY(optional->requests().at(0).clientCommonName.isEmpty());
        QVERIFY(log.contains(QtCriticalMsg, openError + m_certs.dir() + "/missing.pem"));

        // A server certificate from a foreign CA: rejected, and accepted only with the flag.
        TlsTestServer foreign;
        foreign.setCertificate(m_certs.foreignServerCert(), m_certs.foreignServerKey());
        foreign.setHandler([](const Request&) { return TlsTestServer::json(200, "OK", "[1]"); });
        QVERIFY(foreign.start());
        client.setTLSCert(m_certs.clientCert());
        log.clear();
        QVERIFY(finish(client.get(QUrl(foreign.url("/api")))).startsWith("rejected 0 \"SSL handshake failed"));
        QCOMPARE(log.texts(QtWarningMsg).first(), QStringLiteral("[HttpClient] SSL Error(s) occured : "));
        QVERIFY(log.texts(QtWarningMsg).size() >= 2 && log.texts(QtWarningMsg).at(1).startsWith("[HttpClient]  - "));
        QVERIFY(foreign.requests().isEmpty());
        client.setIgnoreSslErrors(true);
        QCOMPARE(finish(client.get(QUrl(foreign.url("/api")))), QStringLiteral("resolved 200 [1]"));
        QCOMPARE(log.texts(QtWarningMsg).last(),
            QStringLiteral("[HttpClient] Ignoring SSL Errors ('ignoreSslErrors' is set to 'true' in configuration)"));
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
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(
            finish(client.get(QUrl(server->url("/silent")), 300)), QStringLiteral("rejected 0 \"Operation canceled\""));
        // Never early, and the aborted reply is not read (the toolkit would warn "device not open").
        QVERIFY2(elapsed.elapsed() >= 300, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList { "[HttpClient] ERROR: Request timed-out (timeout=300 msec). Aborting." });
        QCOMPARE(log.texts(QtWarningMsg), QStringList());
        // Time-out 0 starts no timer: still waiting well after the other one ended.
        QCOMPARE(finish(noTimer, nullptr, 300), QStringLiteral("pending"));

        // A client destroyed with a call in flight takes its reply along quietly.
        auto doomed = std::make_unique<HttpClient>();
        configure(*doomed);
        const Deferred<int, QJsonValue> orphan = doomed->get(QUrl(server->url("/orphan")), 200);
        QTRY_COMPARE(server->requests().size(), 3);
        doomed.reset();
        QCOMPARE(finish(orphan, nullptr, 400), QStringLiteral("pending"));
    }

    void statusAndBodies()
    {
        LogCapture log;
        Response auth = reply(401, "no", { { "WWW-Authenticate", "Basic realm=\"bo\"" } });
        const QMap<QByteArray, Response> responses { { "/json404", TlsTestServer::json(404, "Not Found", "{\"e\":1}") },
            { "/html404", reply(404, "<html><body>Not here</body></html>") },
            { "/array500", TlsTestServer::json(500, "Internal Server Error", "[1,2]") }, { "/text", reply(200, "OK") },
            { "/empty", reply(204, "") }, { "/auth", auth },
            { "/broken", TlsTestServer::json(200, "OK", "{\"b\": ") } };
        auto server = tlsServer([&](const Request& request) { return responses.value(request.path); });
        HttpClient client;
        configure(client);
        int asked = 0;
        connect(&client, &HttpClient::authRequired, this,
            [&asked](QNetworkReply* r, QAuthenticator* a) { asked += r && a && a->realm() == QLatin1String("bo"); });
        const QList<QPair<QString, QString>> cases { { "/json404", "rejected 404 {\"e\":1}" },
            { "/html404", "rejected 404 \"Error transferring %1 - server replied: Status\"" },
            { "/array500", "rejected 500 \"Error transferring %1 - server replied: Internal Server Error\"" },
            { "/text", "resolved 200 \"OK\"" }, { "/empty", "resolved 204 \"\"" },
            { "/auth", "rejected 401 \"Host requires authentication\"" },
            // A broken JSON reply keeps its empty object, but says so in the log.
            { "/broken", "resolved 200 {}" } };
        for (const auto& c : cases) {
            const QString url = server->url(c.first);
            QCOMPARE(finish(client.get(QUrl(url))), c.second.contains("%1") ? c.second.arg(url) : c.second);
        }
        QCOMPARE(asked, 1);
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList { "[HttpClient] WARN: Invalid JSON in reply from " + server->url("/broken")
                + " : unterminated object at offset 6" });
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
            if (targets.contains(request.path))
                return reply(
                    request.path == "/api/old" ? 307 : 302, "", { { "Location", targets[request.path].toLatin1() } });
            return TlsTestServer::json(201, "Created", "{\"body\":" + request.body + "}");
        });
        HttpClient client;
        configure(client);

        // Relative 307 on POST: same method, body and headers on the resolved URL.
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
    }

    void downloadProgress()
    {
        const QByteArray payload(3000, 'p');
        const QString expected = "resolved 200 \"" + QString::fromLatin1(payload) + '"';
        auto server = tlsServer([&](const Request& request) {
            Response response = reply(200, payload);
            response.chunked = request.path == "/chunked";
            response.firstPart = 1500; // the head at once, 1,500 body bytes 150 ms later, the rest after 300 ms
            return response;
        });
        HttpClient client;
        configure(client);
        Progress sized, chunked;
        QCOMPARE(finish(client.get(QUrl(server->url("/sized"))), &sized), expected);
        QVERIFY(sized.contains(qMakePair(50, QStringLiteral("Downloaded 1.5 KB / 3.0 KB"))));
        QCOMPARE(sized.last(), qMakePair(100, QStringLiteral("Downloaded 3.0 KB / 3.0 KB")));
        // While the size is unknown the percentage stays 0.
        QCOMPARE(finish(client.get(QUrl(server->url("/chunked"))), &chunked), expected);
        QVERIFY(chunked.contains(qMakePair(0, QStringLiteral("Downloaded 1.5 KB / -- KB"))));
    }
};

QTEST_GUILESS_MAIN(tst_HttpClient)
#include "tst_HttpClient.moc"

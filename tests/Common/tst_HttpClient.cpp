#include "HttpClient.h"

#include "LogCapture.h"
#include "TestCertificates.h"
#include "TlsTestServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QTest>

#include <memory>

namespace {

using Response = TlsTestServer::Response;
using Request = TlsTestServer::Request;

// The settled result as "resolved 200 <body as compact JSON>" or "rejected 0 \"text\"".
struct Outcome
{
    QString text = QStringLiteral("pending");
    QList<QPair<int, QString>> progress;
};

std::shared_ptr<Outcome> watch(const Deferred<int, QJsonValue>& result)
{
    auto outcome = std::make_shared<Outcome>();
    auto settle = [outcome](const char* state) {
        return [outcome, state](int status, const QJsonValue& body) {
            const QByteArray json = QJsonDocument(QJsonArray { body }).toJson(QJsonDocument::Compact);
            outcome->text = QStringLiteral("%1 %2 %3")
                                .arg(state)
                                .arg(status)
                                .arg(QString::fromUtf8(json.mid(1, json.size() - 2)));
        };
    };
    result.done(settle("resolved")).fail(settle("rejected")).progress([outcome](int percent, const QJsonValue& text) {
        outcome->progress.append({ percent, text.toString() });
    });
    return outcome;
}

QString finish(const std::shared_ptr<Outcome>& outcome)
{
    static_cast<void>(QTest::qWaitFor([&] { return outcome->text != "pending"; }, 10000));
    return outcome->text;
}

// A call that failed below HTTP, with the network error's text.
bool transportError(const QString& result)
{
    return result.startsWith("rejected 0 \"") && result.size() > 13;
}

Response reply(int status, const QByteArray& body, QList<QPair<QByteArray, QByteArray>> headers = {})
{
    return { status, "Status", headers.isEmpty() ? decltype(headers) { { "Content-Type", "text/html" } } : headers,
        body };
}

Response redirect(int status, const QByteArray& location)
{
    return reply(status, "", { { "Location", location } });
}

const QString kSecret = QStringLiteral("secret-key");

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
        const QList<QPair<qint64, QString>> sizes { { 0, "0.0 KB" }, { 999, "1.0 KB" }, { 1000000, "1000.0 KB" },
            { 1000001, "1.0 MB" }, { 1500000, "1.5 MB" }, { 2500000000LL, "2.5 GB" }, { -1, "-- KB" } };
        for (const auto& size : sizes)
            QCOMPARE(HttpClient::bytesToStr(size.first), size.second);

        QJsonParseError error;
        QCOMPARE(HttpClient::parsePayload("[broken", &error), QJsonValue(QJsonObject()));
        QVERIFY(error.error != QJsonParseError::NoError);
        QCOMPARE(HttpClient::parsePayload(" {}", &error), QJsonValue(" {}"));
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(HttpClient::parsePayload(QByteArray("te\0xt", 5)), QJsonValue("te"));

        QCOMPARE(HttpClient::createPayload(QJsonObject { { "b", QJsonArray { 1, 2 } }, { "a", 1 } }),
            QByteArray("{\"a\":1,\"b\":[1,2]}"));
        QCOMPARE(HttpClient::createPayload(QJsonArray { 1, "x" }), QByteArray("[1,\"x\"]"));
        QCOMPARE(HttpClient::createPayload(true), QByteArray());

        LogCapture log;
        HttpClient client;
        const Deferred<int, QJsonValue> result = client.get(QUrl("http://exa mple.com"));
        QCOMPARE(result.state(), 2);
        QCOMPARE(watch(result)->text, QStringLiteral("rejected 0 \"Invalid URL\""));
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
        QCOMPARE(finish(watch(client.post(url, QJsonObject { { "status", "OK" }, { "n", 1 }, { "apiKey", "k1" } }))),
            QStringLiteral("resolved 200 {\"m\":\"POST\"}"));
        const auto put = watch(client.put(url, QStringLiteral("plain text"), 5000));
        const auto got = watch(client.get(url));
        const auto deleted = watch(client.del(url));
        QCOMPARE(finish(put) + finish(got) + finish(deleted),
            QStringLiteral("resolved 200 {\"m\":\"PUT\"}resolved 200 {\"m\":\"GET\"}resolved 200 {\"m\":\"DELETE\"}"));
        const QList<Request> requests = server->requests();
        QCOMPARE(requests.size(), 4);
        for (const Request& request : requests) {
            QCOMPARE(request.body,
                QByteArray(request.method == "PUT" ? "plain text"
                        : request.method == "POST" ? "{\"apiKey\":\"k1\",\"n\":1,\"status\":\"OK\"}"
                                                   : ""));
            QCOMPARE(request.path, QByteArray("/api/v1/device/heartbeat"));
            QCOMPARE(request.headers.value("x-api-key"), kSecret.toLatin1());
            QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
            QCOMPARE(request.clientCommonName, QStringLiteral("device-001"));
            QCOMPARE(request.protocol, QSsl::TlsV1_2);
        }
        QCOMPARE(log.count("[HttpClient] Creating new Network Access Manager for thread "), 1);
        for (const char* method : { "POST", "PUT", "GET", "DELETE" })
            QVERIFY(log.contains(
                QtInfoMsg, QStringLiteral("[HttpClient] Performing %1 request : ").arg(method) + url.toString()));
        const QStringList data = log.startingWith("[HttpClient] Data : QJsonValue(");
        QCOMPARE(data.size(), 2); // the key member of the body is masked on its line
        QVERIFY(data.at(0).contains("\"apiKey\":\"****\"") && !data.join(' ').contains("k1"));
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
        QVERIFY(transportError(finish(watch(bare.get(QUrl(server->url("/api")))))));
        // The paths that were never set are still read, and fail.
        const QString openError = "[HttpClient] ERROR: Could not open file : ";
        QCOMPARE(log.texts(QtCriticalMsg), QStringList({ openError, openError }));

        server->setProtocol(QSsl::TlsV1_3OrLater);
        HttpClient client;
        configure(client);
        QVERIFY(transportError(finish(watch(client.get(QUrl(server->url("/api")))))));
        QVERIFY(server->requests().isEmpty());

        // Unreadable certificate and key: logged, and the call goes on without them.
        log.clear();
        auto optional = tlsServer(ok, false);
        client.setTLSCert(m_certs.dir() + "/missing.pem");
        client.setTLSKey(m_certs.dir() + "/missing.key");
        QCOMPARE(finish(watch(client.get(QUrl(optional->url("/api"))))), QStringLiteral("resolved 200 {}"));
        QCOMPARE(optional->requests().size(), 1);
        QVERIFY(optional->requests().at(0).clientCommonName.isEmpty());
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList({ openError + m_certs.dir() + "/missing.pem", openError + m_certs.dir() + "/missing.key" }));

        // A server certificate from a foreign CA: rejected, and accepted only with the flag, with its lines.
        log.clear();
        TlsTestServer foreign;
        foreign.setCertificate(m_certs.foreignServerCert(), m_certs.foreignServerKey());
        foreign.setHandler([](const Request&) { return TlsTestServer::json(200, "OK", "[1]"); });
        QVERIFY(foreign.start());
        client.setTLSCert(m_certs.clientCert());
        client.setTLSKey(m_certs.clientKey());

        QVERIFY(finish(watch(client.get(QUrl(foreign.url("/api"))))).startsWith("rejected 0 \"SSL handshake failed"));
        QVERIFY(foreign.requests().isEmpty());
        QStringList warnings = log.texts(QtWarningMsg);
        QVERIFY(warnings.size() >= 2);
        QCOMPARE(warnings.takeFirst(), QStringLiteral("[HttpClient] SSL Error(s) occured : "));
        for (const QString& warning : warnings)
            QVERIFY2(warning.startsWith("[HttpClient]  - ") && warning.size() > 16, qPrintable(warning));

        log.clear();
        client.setIgnoreSslErrors(true);
        QCOMPARE(finish(watch(client.get(QUrl(foreign.url("/api"))))), QStringLiteral("resolved 200 [1]"));
        warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.first(), QStringLiteral("[HttpClient] SSL Error(s) occured : "));
        QCOMPARE(warnings.last(),
            QStringLiteral("[HttpClient] Ignoring SSL Errors ('ignoreSslErrors' is set to 'true' in configuration)"));
        QCOMPARE(foreign.requests().size(), 1);
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
        const auto noTimer = watch(client.get(QUrl(server->url("/forever")), 0));
        QCOMPARE(finish(watch(client.get(QUrl(server->url("/silent")), 300))),
            QStringLiteral("rejected 0 \"Operation canceled\""));
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList { "[HttpClient] ERROR: Request timed-out (timeout=300 msec). Aborting." });
        // Time-out 0 starts no timer: still waiting well after the other one ended.
        QTest::qWait(300);
        QCOMPARE(noTimer->text, QStringLiteral("pending"));
        QCOMPARE(server->requests().size(), 2);

        // A client destroyed with a call in flight takes its reply along quietly.
        auto doomed = std::make_unique<HttpClient>();
        configure(*doomed);
        const auto orphan = watch(doomed->get(QUrl(server->url("/orphan")), 200));
        QTRY_COMPARE_WITH_TIMEOUT(server->requests().size(), 3, 5000);
        doomed.reset();
        QTest::qWait(400);
        QCOMPARE(orphan->text, QStringLiteral("pending"));
    }

    void statusAndBodies()
    {
        LogCapture log;
        Response auth = reply(401, "no");
        auth.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"bo\"")));
        const QMap<QByteArray, Response> responses { { "/json404", TlsTestServer::json(404, "Not Found", "{\"e\":1}") },
            { "/html404", reply(404, "<html><body>Not here</body></html>") },
            { "/array500", TlsTestServer::json(500, "Internal Server Error", "[1,2]") }, { "/text", reply(200, "OK") },
            { "/array", TlsTestServer::json(200, "OK", "[1,2]") }, { "/empty", reply(204, "") }, { "/auth", auth },
            { "/broken", TlsTestServer::json(200, "OK", "{\"broken\": ") } };
        auto server = tlsServer([&](const Request& request) { return responses.value(request.path); });
        HttpClient client;
        configure(client);
        int asked = 0;
        connect(&client, &HttpClient::authRequired, this,
            [&asked](QNetworkReply* r, QAuthenticator* a) { asked += r && a && a->realm() == QLatin1String("bo"); });
        const QList<QPair<QString, QString>> cases { { "/json404", "rejected 404 {\"e\":1}" },
            { "/html404", "rejected 404 \"Error transferring %1 - server replied: Status\"" },
            { "/array500", "rejected 500 \"Error transferring %1 - server replied: Internal Server Error\"" },
            { "/text", "resolved 200 \"OK\"" }, { "/array", "resolved 200 [1,2]" }, { "/empty", "resolved 204 \"\"" },
            { "/auth", "rejected 401 \"Host requires authentication\"" },
            // A broken JSON reply keeps its empty object, but says so in the log.
            { "/broken", "resolved 200 {}" } };
        for (const auto& c : cases) {
            const QString url = server->url(c.first);
            QCOMPARE(finish(watch(client.get(QUrl(url)))), c.second.contains("%1") ? c.second.arg(url) : c.second);
        }
        QCOMPARE(asked, 1);
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList { "[HttpClient] WARN: Invalid JSON in reply from " + server->url("/broken")
                + " : unterminated object at offset 11" });
    }

    void redirects()
    {
        LogCapture log;
        std::unique_ptr<TlsTestServer> server;
        TlsTestServer plain;
        plain.setHandler([&](const Request& request) {
            return request.path == "/upgrade" ? redirect(301, server->url("/secure").toLatin1()) : reply(200, "plain");
        });
        QVERIFY(plain.start());
        server = tlsServer([&](const Request& request) {
            if (request.path == "/api/old")
                return redirect(307, "new?x=1");
            if (request.path == "/secure")
                return ok(request);
            if (request.path == "/loop")
                return redirect(302, "/loop");
            if (request.path == "/cross")
                return redirect(302, server->url("/target", "localhost").toLatin1());
            if (request.path == "/insecure")
                return redirect(302, plain.url("/target").toLatin1());
            return TlsTestServer::json(201, "Created", "{\"body\":" + request.body + "}");
        });
        HttpClient client;
        configure(client);

        // Relative 307 on POST: same method, body and headers on the resolved URL.
        QCOMPARE(finish(watch(client.post(QUrl(server->url("/api/old")), QJsonObject { { "card", "A1" } }))),
            QStringLiteral("resolved 201 {\"body\":{\"card\":\"A1\"}}"));
        QCOMPARE(server->requests().size(), 2);
        const Request repeated = server->requests().at(1);
        QCOMPARE(
            repeated.method + ' ' + repeated.path + ' ' + repeated.body + ' ' + repeated.headers.value("x-api-key"),
            QByteArray("POST /api/new?x=1 {\"card\":\"A1\"} secret-key"));
        QCOMPARE(repeated.clientCommonName, QStringLiteral("device-001"));
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList { "[HttpClient] WARN: Request was redirected to : " + server->url("/api/new?x=1") });
        QCOMPARE(log.count("[HttpClient] Performing POST request : " + server->url("/api/new?x=1")), 1);

        // A loop ends after ten redirects; never to another host (even one that resolves to the same
        // machine), never from https to http.
        log.clear();
        const QString loop = server->url("/loop");
        const QList<QStringList> refused { { "/loop", loop, "more than 10 redirects" },
            { "/cross", server->url("/target", "localhost"), "to another host" },
            { "/insecure", plain.url("/target"), "from https to http" } };
        for (const QStringList& r : refused) {
            QCOMPARE(finish(watch(client.del(QUrl(server->url(r[0]))))),
                "rejected -1 \"Cannot redirect request to : " + r[1] + "\"");
            QVERIFY(log.contains("[HttpClient] WARN: Not following redirect (" + r[2] + ") : " + r[1]));
        }
        QCOMPARE(server->requests().size(), 2 + 1 + HttpClient::MaxRedirects + 2);
        QCOMPARE(log.count("[HttpClient] WARN: Request was redirected to : " + loop), HttpClient::MaxRedirects + 1);
        QVERIFY(plain.requests().isEmpty());

        // From http to https on the same host is followed.
        QCOMPARE(finish(watch(client.get(QUrl(plain.url("/upgrade"))))), QStringLiteral("resolved 200 {}"));
        QCOMPARE(server->requests().last().path, QByteArray("/secure"));
    }

    void downloadProgress()
    {
        const QByteArray payload(3000, 'p');
        const QString expected = "resolved 200 \"" + QString::fromLatin1(payload) + '"';
        auto server = tlsServer([&](const Request& request) {
            Response response = reply(200, payload);
            response.chunked = request.path == "/chunked";
            response.firstPart = 1500;
            return response;
        });
        HttpClient client;
        configure(client);
        auto outcome = watch(client.get(QUrl(server->url("/sized"))));
        QCOMPARE(finish(outcome), expected);
        // The head comes at once, 1,500 body bytes 150 ms later and the rest after 300 ms.
        QVERIFY(outcome->progress.contains(qMakePair(50, QStringLiteral("Downloaded 1.5 KB / 3.0 KB"))));
        QCOMPARE(outcome->progress.last(), qMakePair(100, QStringLiteral("Downloaded 3.0 KB / 3.0 KB")));
        // While the size is unknown the percentage stays 0.
        outcome = watch(client.get(QUrl(server->url("/chunked"))));
        QCOMPARE(finish(outcome), expected);
        QVERIFY(outcome->progress.contains(qMakePair(0, QStringLiteral("Downloaded 1.5 KB / -- KB"))));
    }
};

QTEST_GUILESS_MAIN(tst_HttpClient)
#include "tst_HttpClient.moc"

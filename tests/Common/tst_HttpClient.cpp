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

struct Outcome
{
    int state = 0; // 1 resolved, 2 rejected
    int status = -100;
    QJsonValue body;
    QList<QPair<int, QString>> progress;
};

std::shared_ptr<Outcome> watch(const Deferred<int, QJsonValue>& result)
{
    auto outcome = std::make_shared<Outcome>();
    result
        .done([outcome](int status, const QJsonValue& body) {
            outcome->state = 1;
            outcome->status = status;
            outcome->body = body;
        })
        .fail([outcome](int status, const QJsonValue& body) {
            outcome->state = 2;
            outcome->status = status;
            outcome->body = body;
        })
        .progress([outcome](int percent, const QJsonValue& text) {
            outcome->progress.append({ percent, text.toString() });
        });
    return outcome;
}

QJsonValue json(const QByteArray& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text);
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

TlsTestServer::Response text(int status, const QByteArray& reason, const QByteArray& body)
{
    TlsTestServer::Response response;
    response.status = status;
    response.reason = reason;
    response.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/html")));
    response.body = body;
    return response;
}

TlsTestServer::Response redirect(int status, const QByteArray& location)
{
    TlsTestServer::Response response;
    response.status = status;
    response.reason = "Redirect";
    response.headers.append(qMakePair(QByteArray("Location"), QByteArray(location)));
    return response;
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

    void configure(HttpClient& client)
    {
        client.setTLSCert(m_certs.clientCert());
        client.setTLSKey(m_certs.clientKey());
        client.setTLSRootCA(m_certs.caCert());
        client.setHeader("Content-Type", "application/json");
        client.setHeader("X-API-Key", "secret-key");
    }

    static bool settled(const std::shared_ptr<Outcome>& outcome)
    {
        const bool ok = QTest::qWaitFor([&] { return outcome->state != 0; }, 10000);
        return ok;
    }

private slots:
    void initTestCase() { QVERIFY2(m_certs.generate(), qPrintable(m_certs.error())); }

    void bytesToStr()
    {
        QCOMPARE(HttpClient::bytesToStr(0), QStringLiteral("0.0 KB"));
        QCOMPARE(HttpClient::bytesToStr(999), QStringLiteral("1.0 KB"));
        QCOMPARE(HttpClient::bytesToStr(1000000), QStringLiteral("1000.0 KB"));
        QCOMPARE(HttpClient::bytesToStr(1000001), QStringLiteral("1.0 MB"));
        QCOMPARE(HttpClient::bytesToStr(1500000), QStringLiteral("1.5 MB"));
        QCOMPARE(HttpClient::bytesToStr(1000000000), QStringLiteral("1000.0 MB"));
        QCOMPARE(HttpClient::bytesToStr(2500000000LL), QStringLiteral("2.5 GB"));
        QCOMPARE(HttpClient::bytesToStr(-1), QStringLiteral("-- KB"));
    }

    void payloads()
    {
        QCOMPARE(HttpClient::parsePayload("[1,2]"), QJsonValue(QJsonArray { 1, 2 }));
        QCOMPARE(HttpClient::parsePayload("{}"), QJsonValue(QJsonObject()));
        QCOMPARE(HttpClient::parsePayload("{\"a\":[true]}"), json("{\"a\":[true]}"));
        QJsonParseError error;
        QCOMPARE(HttpClient::parsePayload("{broken", &error), QJsonValue(QJsonObject()));
        QVERIFY(error.error != QJsonParseError::NoError);
        QCOMPARE(HttpClient::parsePayload("[broken", &error), QJsonValue(QJsonObject()));
        QVERIFY(error.error != QJsonParseError::NoError);
        QCOMPARE(HttpClient::parsePayload(" {}", &error), QJsonValue(" {}"));
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(HttpClient::parsePayload("OK"), QJsonValue("OK"));
        QCOMPARE(HttpClient::parsePayload(""), QJsonValue(""));
        QCOMPARE(HttpClient::parsePayload(QByteArray("te\0xt", 5)), QJsonValue("te"));
        QCOMPARE(HttpClient::parsePayload("\xce\xb1\xce\xb2"), QJsonValue(QString::fromUtf8("\xce\xb1\xce\xb2")));

        QCOMPARE(HttpClient::createPayload(json("{\"a\": 1, \"b\": [1, 2]}")), QByteArray("{\"a\":1,\"b\":[1,2]}"));
        QCOMPARE(HttpClient::createPayload(QJsonArray { 1, "x" }), QByteArray("[1,\"x\"]"));
        QCOMPARE(HttpClient::createPayload(QString::fromUtf8("\xce\xb1 \"q\"")), QByteArray("\xce\xb1 \"q\""));
        QCOMPARE(HttpClient::createPayload(QJsonValue()), QByteArray());
        QCOMPARE(HttpClient::createPayload(true), QByteArray());
        QCOMPARE(HttpClient::createPayload(42), QByteArray());
    }

    void invalidUrl()
    {
        LogCapture log;
        HttpClient client;
        const Deferred<int, QJsonValue> result = client.get(QUrl("http://exa mple.com"));
        QCOMPARE(result.state(), 2);
        const auto outcome = watch(result);
        QCOMPARE(outcome->status, 0);
        QCOMPARE(outcome->body, QJsonValue("Invalid URL"));
        QCOMPARE(log.texts(QtCriticalMsg), QStringList { "[HttpClient] ERROR: Invalid URL : " });
    }

    void successWithClientCertificate()
    {
        LogCapture log;
        auto server = tlsServer([](const TlsTestServer::Request& request) {
            return TlsTestServer::json(200, "OK", "{\"method\":\"" + request.method + "\"}");
        });
        HttpClient client;
        configure(client);
        QCOMPARE(client.headers().value("X-API-Key"), QStringLiteral("secret-key"));

        const QUrl url(server->url("/api/v1/device/heartbeat"));
        const auto posted = watch(client.post(url, json("{\"status\": \"OK\", \"n\": 1}")));
        QVERIFY(settled(posted));
        QCOMPARE(posted->state, 1);
        QCOMPARE(posted->status, 200);
        QCOMPARE(posted->body, json("{\"method\":\"POST\"}"));

        const auto put = watch(client.put(url, QStringLiteral("plain text"), 5000));
        const auto got = watch(client.get(url));
        const auto deleted = watch(client.del(url));
        QVERIFY(settled(put) && settled(got) && settled(deleted));
        QCOMPARE(put->body, json("{\"method\":\"PUT\"}"));
        QCOMPARE(got->body, json("{\"method\":\"GET\"}"));
        QCOMPARE(deleted->body, json("{\"method\":\"DELETE\"}"));

        // Callable through the meta-object system as well.
        using Result = Deferred<int, QJsonValue>;
        Result invoked;
        QVERIFY(QMetaObject::invokeMethod(
            &client, "get", QReturnArgument<Result>("Deferred<int,QJsonValue>", invoked), Q_ARG(QUrl, url)));
        const auto viaMeta = watch(invoked);
        QVERIFY(settled(viaMeta));
        QCOMPARE(viaMeta->status, 200);

        const QList<TlsTestServer::Request> requests = server->requests();
        QCOMPARE(requests.size(), 5);
        QCOMPARE(requests.at(0).body, QByteArray("{\"n\":1,\"status\":\"OK\"}"));
        for (const TlsTestServer::Request& request : requests)
            QCOMPARE(request.body,
                QByteArray(request.method == "PUT" ? "plain text"
                        : request.method == "POST" ? requests.at(0).body
                                                   : ""));
        for (const TlsTestServer::Request& request : requests) {
            QCOMPARE(request.path, QByteArray("/api/v1/device/heartbeat"));
            QCOMPARE(request.headers.value("x-api-key"), QByteArray("secret-key"));
            QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
            QCOMPARE(request.clientCommonName, QStringLiteral("device-001"));
            QCOMPARE(request.protocol, QSsl::TlsV1_2);
        }

        QCOMPARE(log.count("[HttpClient] Creating new Network Access Manager for thread "), 1);
        QVERIFY(log.contains(QtInfoMsg, "[HttpClient] Performing POST request : " + url.toString()));
        QVERIFY(log.contains(QtInfoMsg, "[HttpClient] Performing PUT request : " + url.toString()));
        QVERIFY(log.contains(QtInfoMsg, "[HttpClient] Performing GET request : " + url.toString()));
        QVERIFY(log.contains(QtInfoMsg, "[HttpClient] Performing DELETE request : " + url.toString()));
        QCOMPARE(log.startingWith("[HttpClient] Data : QJsonValue(").size(), 2);
        QCOMPARE(log.count("[HttpClient] Received response for : " + url.toString()), 5);
        QVERIFY(log.texts(QtWarningMsg).isEmpty());
        QVERIFY(log.texts(QtCriticalMsg).isEmpty());
    }

    void clientCertificateRequired()
    {
        LogCapture log;
        auto server = tlsServer([](const TlsTestServer::Request&) { return TlsTestServer::json(200, "OK", "{}"); });
        HttpClient client;
        client.setTLSRootCA(m_certs.caCert());
        const auto outcome = watch(client.get(QUrl(server->url("/api"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 2);
        QCOMPARE(outcome->status, 0);
        QVERIFY(outcome->body.isString() && !outcome->body.toString().isEmpty());
        QVERIFY(server->requests().isEmpty());
        // The paths that were never set are still read, and fail.
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList(
                { "[HttpClient] ERROR: Could not open file : ", "[HttpClient] ERROR: Could not open file : " }));
    }

    void unreadableTlsFiles()
    {
        LogCapture log;
        auto server
            = tlsServer([](const TlsTestServer::Request&) { return TlsTestServer::json(200, "OK", "{}"); }, false);
        HttpClient client;
        configure(client);
        client.setTLSCert(m_certs.dir() + "/missing.pem");
        client.setTLSKey(m_certs.dir() + "/missing.key");
        const auto outcome = watch(client.get(QUrl(server->url("/api"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 1);
        QCOMPARE(outcome->status, 200);
        QCOMPARE(server->requests().size(), 1);
        QVERIFY(server->requests().at(0).clientCommonName.isEmpty());
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList({ "[HttpClient] ERROR: Could not open file : " + m_certs.dir() + "/missing.pem",
                "[HttpClient] ERROR: Could not open file : " + m_certs.dir() + "/missing.key" }));
    }

    void foreignServerCertificate()
    {
        LogCapture log;
        TlsTestServer server;
        server.setCertificate(m_certs.foreignServerCert(), m_certs.foreignServerKey());
        server.setHandler([](const TlsTestServer::Request&) { return TlsTestServer::json(200, "OK", "[1]"); });
        QVERIFY(server.start());
        HttpClient client;
        configure(client);

        const auto rejected = watch(client.get(QUrl(server.url("/api"))));
        QVERIFY(settled(rejected));
        QCOMPARE(rejected->state, 2);
        QCOMPARE(rejected->status, 0);
        QVERIFY(rejected->body.isString());
        QVERIFY(server.requests().isEmpty());
        QStringList warnings = log.texts(QtWarningMsg);
        QVERIFY(warnings.size() >= 2);
        QCOMPARE(warnings.first(), QStringLiteral("[HttpClient] SSL Error(s) occured : "));
        for (int i = 1; i < warnings.size(); ++i)
            QVERIFY2(warnings.at(i).startsWith("[HttpClient]  - ") && warnings.at(i).size() > 16,
                qPrintable(warnings.at(i)));
        QVERIFY2(rejected->body.toString().startsWith("SSL handshake failed"), qPrintable(rejected->body.toString()));

        // Accepted only when the flag is set, with its line.
        log.clear();
        client.setIgnoreSslErrors(true);
        QVERIFY(client.ignoreSslErrors());
        const auto accepted = watch(client.get(QUrl(server.url("/api"))));
        QVERIFY(settled(accepted));
        QCOMPARE(accepted->state, 1);
        QCOMPARE(accepted->body, QJsonValue(QJsonArray { 1 }));
        warnings = log.texts(QtWarningMsg);
        QCOMPARE(warnings.first(), QStringLiteral("[HttpClient] SSL Error(s) occured : "));
        QCOMPARE(warnings.last(),
            QStringLiteral("[HttpClient] Ignoring SSL Errors ('ignoreSslErrors' is set to 'true' in configuration)"));
        QCOMPARE(server.requests().size(), 1);
    }

    void tls13OnlyServer()
    {
        auto server = tlsServer([](const TlsTestServer::Request&) { return TlsTestServer::json(200, "OK", "{}"); });
        server->setProtocol(QSsl::TlsV1_3OrLater);
        HttpClient client;
        configure(client);
        const auto outcome = watch(client.get(QUrl(server->url("/api"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 2);
        QCOMPARE(outcome->status, 0);
        QVERIFY(outcome->body.isString() && !outcome->body.toString().isEmpty());
        QVERIFY(server->requests().isEmpty());
    }

    void timeouts()
    {
        LogCapture log;
        auto server = tlsServer([](const TlsTestServer::Request&) {
            TlsTestServer::Response silent;
            silent.silent = true;
            return silent;
        });
        HttpClient client;
        configure(client);

        const auto noTimer = watch(client.get(QUrl(server->url("/forever")), 0));
        const auto outcome = watch(client.get(QUrl(server->url("/silent")), 300));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 2);
        QCOMPARE(outcome->status, 0);
        QCOMPARE(outcome->body, QJsonValue("Operation canceled"));
        QCOMPARE(log.texts(QtCriticalMsg),
            QStringList { "[HttpClient] ERROR: Request timed-out (timeout=300 msec). Aborting." });
        // Time-out 0 starts no timer: still waiting well after the other one ended.
        QTest::qWait(300);
        QCOMPARE(noTimer->state, 0);
        QCOMPARE(server->requests().size(), 2);

        // A client destroyed with a call in flight takes its reply along quietly.
        auto doomed = std::make_unique<HttpClient>();
        configure(*doomed);
        const auto orphan = watch(doomed->get(QUrl(server->url("/orphan")), 200));
        QTRY_COMPARE_WITH_TIMEOUT(server->requests().size(), 3, 5000);
        doomed.reset();
        QTest::qWait(400);
        QCOMPARE(orphan->state, 0);
    }

    void statusAndBodies()
    {
        LogCapture log;
        auto server = tlsServer([](const TlsTestServer::Request& request) {
            if (request.path == "/json404")
                return TlsTestServer::json(404, "Not Found", "{\"error\":\"no such device\"}");
            if (request.path == "/html404")
                return text(404, "Not Found", "<html><body>Not here</body></html>");
            if (request.path == "/array500")
                return TlsTestServer::json(500, "Internal Server Error", "[1,2]");
            if (request.path == "/text")
                return text(200, "OK", "OK");
            if (request.path == "/array")
                return TlsTestServer::json(200, "OK", "[1,2]");
            if (request.path == "/auth") {
                TlsTestServer::Response response = text(401, "Unauthorized", "no");
                response.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"bo\"")));
                return response;
            }
            if (request.path == "/empty")
                return text(204, "No Content", "");
            return TlsTestServer::json(200, "OK", "{\"broken\": ");
        });
        HttpClient client;
        configure(client);
        auto call = [&](const QString& path) {
            const auto outcome = watch(client.get(QUrl(server->url(path))));
            return settled(outcome) ? outcome : nullptr;
        };

        auto o = call("/json404");
        QVERIFY(o);
        QCOMPARE(o->state, 2);
        QCOMPARE(o->status, 404);
        QCOMPARE(o->body, json("{\"error\":\"no such device\"}"));

        o = call("/html404");
        QVERIFY(o);
        QCOMPARE(o->state, 2);
        QCOMPARE(o->status, 404);
        QVERIFY(o->body.isString());
        QVERIFY2(o->body.toString().contains("Not Found"), qPrintable(o->body.toString()));

        o = call("/array500");
        QVERIFY(o);
        QCOMPARE(o->state, 2);
        QCOMPARE(o->status, 500);
        QVERIFY(o->body.isString());

        o = call("/text");
        QVERIFY(o);
        QCOMPARE(o->state, 1);
        QCOMPARE(o->body, QJsonValue("OK"));

        o = call("/array");
        QVERIFY(o);
        QCOMPARE(o->state, 1);
        QCOMPARE(o->body, QJsonValue(QJsonArray { 1, 2 }));

        o = call("/empty");
        QVERIFY(o);
        QCOMPARE(o->state, 1);
        QCOMPARE(o->status, 204);
        QCOMPARE(o->body, QJsonValue(""));
        QVERIFY(log.texts(QtWarningMsg).isEmpty());

        // A server asking for credentials: the signal is forwarded, and with nobody answering it the call fails.
        int asked = 0;
        connect(
            &client, &HttpClient::authRequired, this, [&asked](QNetworkReply* reply, QAuthenticator* authenticator) {
                asked += reply && authenticator && authenticator->realm() == QLatin1String("bo");
            });
        o = call("/auth");
        QVERIFY(o);
        QCOMPARE(asked, 1);
        QCOMPARE(o->state, 2);
        QCOMPARE(o->status, 401);
        QVERIFY(o->body.isString());

        // A broken JSON reply keeps its empty object, but says so in the log.
        o = call("/broken");
        QVERIFY(o);
        QCOMPARE(o->state, 1);
        QCOMPARE(o->status, 200);
        QCOMPARE(o->body, QJsonValue(QJsonObject()));
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList { "[HttpClient] WARN: Invalid JSON in reply from " + server->url("/broken")
                + " : unterminated object at offset 11" });
    }

    void redirects()
    {
        LogCapture log;
        TlsTestServer plain;
        QVERIFY(plain.start());
        std::unique_ptr<TlsTestServer> server;
        server = tlsServer([&](const TlsTestServer::Request& request) {
            if (request.path == "/api/old")
                return redirect(307, "new?x=1");
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
        auto outcome = watch(client.post(QUrl(server->url("/api/old")), json("{\"card\":\"A1\"}")));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 1);
        QCOMPARE(outcome->status, 201);
        QCOMPARE(outcome->body, json("{\"body\":{\"card\":\"A1\"}}"));
        QCOMPARE(server->requests().size(), 2);
        const TlsTestServer::Request repeated = server->requests().at(1);
        QCOMPARE(repeated.method, QByteArray("POST"));
        QCOMPARE(repeated.path, QByteArray("/api/new?x=1"));
        QCOMPARE(repeated.body, QByteArray("{\"card\":\"A1\"}"));
        QCOMPARE(repeated.headers.value("x-api-key"), QByteArray("secret-key"));
        QCOMPARE(repeated.clientCommonName, QStringLiteral("device-001"));
        QCOMPARE(log.texts(QtWarningMsg),
            QStringList { "[HttpClient] WARN: Request was redirected to : " + server->url("/api/new?x=1") });
        QCOMPARE(log.count("[HttpClient] Performing POST request : " + server->url("/api/new?x=1")), 1);

        // A loop ends after ten redirects.
        log.clear();
        outcome = watch(client.get(QUrl(server->url("/loop"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 2);
        QCOMPARE(outcome->status, -1);
        QCOMPARE(outcome->body, QJsonValue("Cannot redirect request to : " + server->url("/loop")));
        QCOMPARE(server->requests().size(), 2 + 1 + HttpClient::MaxRedirects);
        QCOMPARE(log.count("[HttpClient] WARN: Request was redirected to : " + server->url("/loop")),
            HttpClient::MaxRedirects + 1);
        QVERIFY(log.contains(
            "[HttpClient] WARN: Not following redirect (more than 10 redirects) : " + server->url("/loop")));

        // Never to another host, even one that resolves to the same machine.
        const int before = server->requests().size();
        outcome = watch(client.get(QUrl(server->url("/cross"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->status, -1);
        QCOMPARE(outcome->body, QJsonValue("Cannot redirect request to : " + server->url("/target", "localhost")));
        QVERIFY(log.contains(
            "[HttpClient] WARN: Not following redirect (to another host) : " + server->url("/target", "localhost")));

        // Never from https to http.
        outcome = watch(client.del(QUrl(server->url("/insecure"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->status, -1);
        QCOMPARE(outcome->body, QJsonValue("Cannot redirect request to : " + plain.url("/target")));
        QVERIFY(
            log.contains("[HttpClient] WARN: Not following redirect (from https to http) : " + plain.url("/target")));
        QCOMPARE(server->requests().size(), before + 2);
        QVERIFY(plain.requests().isEmpty());
    }

    void plainHttpAndUpgrade()
    {
        auto secure = tlsServer([](const TlsTestServer::Request&) { return TlsTestServer::json(200, "OK", "{}"); });
        TlsTestServer plain;
        plain.setHandler([&](const TlsTestServer::Request& request) {
            if (request.path == "/upgrade")
                return redirect(301, secure->url("/secure").toLatin1());
            return text(200, "OK", "plain");
        });
        QVERIFY(plain.start());
        HttpClient client;
        auto outcome = watch(client.get(QUrl(plain.url("/hello"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->body, QJsonValue("plain"));

        // From http to https on the same host is followed.
        configure(client);
        outcome = watch(client.get(QUrl(plain.url("/upgrade"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 1);
        QCOMPARE(secure->requests().size(), 1);
        QCOMPARE(secure->requests().at(0).path, QByteArray("/secure"));
    }

    void downloadProgress()
    {
        const QByteArray payload = "\"" + QByteArray(2998, 'p') + "\"";
        auto server = tlsServer([&](const TlsTestServer::Request& request) {
            TlsTestServer::Response response = text(200, "OK", payload);
            response.chunked = request.path == "/chunked";
            response.firstPart = 1500;
            return response;
        });
        HttpClient client;
        configure(client);

        auto outcome = watch(client.get(QUrl(server->url("/sized"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 1);
        QCOMPARE(outcome->body, QJsonValue(QString::fromLatin1(payload)));
        // The head comes at once, 1,500 body bytes 150 ms later and the rest after 300 ms.
        QVERIFY(outcome->progress.contains(qMakePair(50, QStringLiteral("Downloaded 1.5 KB / 3.0 KB"))));
        QCOMPARE(outcome->progress.last(), qMakePair(100, QStringLiteral("Downloaded 3.0 KB / 3.0 KB")));

        // While the size is unknown the percentage stays 0.
        outcome = watch(client.get(QUrl(server->url("/chunked"))));
        QVERIFY(settled(outcome));
        QCOMPARE(outcome->state, 1);
        QVERIFY(outcome->progress.contains(qMakePair(0, QStringLiteral("Downloaded 1.5 KB / -- KB"))));
    }
};

QTEST_GUILESS_MAIN(tst_HttpClient)
#include "tst_HttpClient.moc"

// The permission client against a local HTTP server: paths, body, and how replies
// become a response.

#include "Config.h"
#include "ESB.h"
#include "LogCapture.h"
#include "TlsTestServer.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

using Backend::ESB;

class tst_ESB : public QObject
{
    Q_OBJECT

private slots:
    void requests()
    {
        QTemporaryDir dir;
        TlsTestServer server;
        QVERIFY(server.start());
        Config config(dir.filePath("t.ini"),
            { { "esb/url", server.url("/ignored/path?tenant=7") }, { "esb/responseTimeoutMsec", 5000 } });
        ESB esb(config);
        ESB::Request request { QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)), "SN", "1", "7", "CARD", "PLATE-9" };

        struct Case
        {
            QByteArray reply;
            int status;
            bool resolved;
            QString body;
        };
        const QList<Case> cases { { "{\"allowed\":true}", 200, true, "" }, { "yes", 200, true, "yes" },
            { "{\"reason\":\"blacklisted\"}", 403, false, "" } };
        for (const Case& c : cases) {
            LogCapture log;
            server.setHandler([&c](const TlsTestServer::Request&) { return TlsTestServer::json(c.status, "X", c.reply); });
            int state = 0;
            ESB::Response response;
            const auto keep = [&](int s) { return [&, s](const ESB::Response& r) { state = s, response = r; }; };
            (c.status == 403 ? esb.requestExit(request) : esb.requestEntry(request)).fail(keep(2)).done(keep(1));
            QTRY_VERIFY(state != 0);
            QCOMPARE(state == 1, c.resolved);
            QCOMPARE(response.status, c.status);
            QCOMPARE(response.body, c.body);
            if (!c.resolved)
                QVERIFY(log.contains("[Backend::ESB] ERROR: Operation failed : (403) {\"reason\":\"blacklisted\"}"));
        }
        const QList<TlsTestServer::Request> seen = server.requests();
        QCOMPARE(seen.at(0).path, QByteArray("/integration/internal/cardReader/entrance/entranceRequest?tenant=7"));
        QCOMPARE(seen.at(2).path, QByteArray("/integration/internal/cardReader/intermediate/exitRequest?tenant=7"));
        QCOMPARE(QJsonDocument::fromJson(seen.at(0).body).object(),
            QJsonObject({ { "timestamp", "2026-01-02T03:04:05" }, { "deviceId", "SN" }, { "customsId", "1" },
                { "locationId", "7" }, { "cardId", "CARD" }, { "plateDatabaseId", "PLATE-9" } }));
    }
};

QTEST_GUILESS_MAIN(tst_ESB)
#include "tst_ESB.moc"

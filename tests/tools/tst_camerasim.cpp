// The camera simulator program as documented: started on its own, triggered over
// HTTP, pushing from the camera's address, changed through commands on stdin.

#include "HttpServer.h"
#include "PrivateNetwork.h"
#include "TestPorts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

class TestCameraSim : public QObject
{
    Q_OBJECT

private slots:
    void triggerPushAndCommands();
};

namespace {
// The status of one trigger, 0 when it got no HTTP answer.
int trigger(QNetworkAccessManager& network, const QString& url)
{
    QNetworkReply* reply = network.get(QNetworkRequest(QUrl(url)));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!finished.wait(5000))
        return -1;
    reply->deleteLater();
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}
} // namespace

void TestCameraSim::triggerPushAndCommands()
{
    const quint16 port = testsupport::freePort();
    HttpServer listener;
    listener.listen(port);
    QList<QPair<QHostAddress, HttpServer::Request>> pushes;
    connect(&listener, &HttpServer::requestReceived, this,
        [&pushes](const QHostAddress& peer, const HttpServer::Request& request) {
            pushes.append({ peer, request });
        });

    QProcess sim;
    sim.start(qEnvironmentVariable("LANE_BINARY_DIR") + QStringLiteral("/tools/camerasim/camerasim"),
        { QStringLiteral("--push-to"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--camera"),
            QStringLiteral("127.0.0.21=ccr2") });
    QVERIFY(sim.waitForStarted());
    QByteArray errors;
    QByteArray journal;
    QTRY_VERIFY((errors += sim.readAllStandardError()).contains("1 camera(s) on port 80"));

    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QCOMPARE(trigger(network, QStringLiteral("http://127.0.0.21/local/Vaxcontainer/trigger.cgi?id=c%201")), 200);
    QTRY_COMPARE(pushes.size(), 1);
    QCOMPARE(pushes[0].first.toIPv4Address(), QHostAddress(QStringLiteral("127.0.0.21")).toIPv4Address());
    QCOMPARE(pushes[0].second.path, QStringLiteral("/push/ccr2"));
    const QJsonObject body = QJsonDocument::fromJson(pushes[0].second.body).object();
    QCOMPARE(body.value(QStringLiteral("code")).toString(), QStringLiteral("TGHU7654321"));

    // One journal line per trigger and push.
    QTRY_COMPARE((journal += sim.readAllStandardOutput()).count('\n'), 2);
    QCOMPARE(
        QJsonDocument::fromJson(journal.left(journal.indexOf('\n'))).object().value(QStringLiteral("id")).toString(),
        QStringLiteral("c 1"));
    QCOMPARE(trigger(network, QStringLiteral("http://127.0.0.21/local/Vaxreader/trigger.cgi?id=2")), 404);

    sim.write("ccr2 reply 500\nccr2 value TGHU0000001\n");
    QTRY_COMPARE(trigger(network, QStringLiteral("http://127.0.0.21/local/Vaxcontainer/trigger.cgi?id=3")), 500);
    sim.write("ccr2 reply 200\nbogus line\n");
    QTRY_VERIFY((errors += sim.readAllStandardError()).contains("unknown camera: bogus"));
    QCOMPARE(trigger(network, QStringLiteral("http://127.0.0.21/local/Vaxcontainer/trigger.cgi?id=4")), 200);
    QTRY_COMPARE(pushes.size(), 2);
    QCOMPARE(QJsonDocument::fromJson(pushes[1].second.body).object().value(QStringLiteral("code")).toString(),
        QStringLiteral("TGHU0000001"));

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

LANE_PRIVATE_NETWORK_TEST_MAIN(TestCameraSim)
#include "tst_camerasim.moc"

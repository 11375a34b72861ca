// The reconnect cycle's timing: the default interval, attempts cut by the
// retry timer, keep-alive loss. Apart from the other tests: each takes seconds.

#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttClient.h"
#include "TestPorts.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using manager::MqttClient;

namespace {

const QString TransportWarning = "[MqttClient] Transport invalid: The underlying transport caused an error. For "
                                 "example, the connection might have been interrupted unexpectedly.";

void pointAt(MqttClient& client, quint16 port, unsigned int retryMillis)
{
    client.setHostname(QStringLiteral("127.0.0.1"));
    client.setPort(port);
    client.setRetryMillis(retryMillis);
}

} // namespace

class TestMqttClientTiming : public QObject
{
    Q_OBJECT

private slots:
    void retriesAtTheDefaultInterval()
    {
        MqttClient client;
        client.setPort(testsupport::freePort()); // nobody listens: refused at once
        QElapsedTimer timer;
        QList<qint64> at;
        QObject::connect(&client, &MqttClient::disconnected, &client, [&] { at << timer.elapsed(); });
        timer.start();
        client.connect();
        QTRY_COMPARE_WITH_TIMEOUT(at.size(), 2, 6000);
        QVERIFY2(at[1] - at[0] >= 2900 && at[1] - at[0] < 4000, qPrintable(QString::number(at[1] - at[0])));
    }

    void hangingAttemptIsCutByRetryTimer()
    {
        // Accepts the connection but never sends CONNACK.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QElapsedTimer timer;
        QList<qint64> accepted;
        QList<QTcpSocket*> sockets;
        QObject::connect(&silent, &QTcpServer::newConnection, &silent, [&] {
            while (QTcpSocket* s = silent.nextPendingConnection()) {
                accepted << timer.elapsed();
                sockets << s;
            }
        });
        LogCapture log;
        MqttClient client;
        pointAt(client, silent.serverPort(), 400);
        QSignalSpy errors(&client, &MqttClient::error);
        timer.start();
        client.connect();
        QTRY_VERIFY_WITH_TIMEOUT(accepted.size() >= 2, 5000);
        // Cut after one interval, next attempt one interval after that.
        const qint64 gap = accepted.at(1) - accepted.at(0);
        QVERIFY2(gap >= 750 && gap < 1600, qPrintable(QString::number(gap)));
        QCOMPARE(errors.at(0).at(0).toString(), QString("Mqtt client error"));
        QVERIFY(log.contains(QtWarningMsg, TransportWarning));
        QTRY_VERIFY(sockets.first()->state() != QAbstractSocket::ConnectedState || !sockets.first()->isValid());
    }

    void keepAliveLossIsDetected()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        LogCapture log;
        MqttClient client;
        pointAt(client, broker.port(), 500);
        client.setKeepAlive(5);
        QSignalSpy connected(&client, &MqttClient::connected);
        QSignalSpy disconnected(&client, &MqttClient::disconnected);
        QSignalSpy errors(&client, &MqttClient::error);
        client.connect();
        QTRY_COMPARE(connected.count(), 1);

        broker.pause();
        QElapsedTimer frozen;
        frozen.start();
        // One ping after 5 s of silence, its loss 5 s later.
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, 14000);
        QVERIFY2(frozen.elapsed() >= 4000, qPrintable(QString::number(frozen.elapsed())));
        QCOMPARE(errors.at(0).at(0).toString(), QString("Mqtt client error"));
        QVERIFY(log.contains(QtWarningMsg, TransportWarning));

        // Attempts to the frozen broker hang and are cut; it comes back when thawed.
        QTRY_VERIFY_WITH_TIMEOUT(disconnected.count() >= 2, 4000);
        broker.resume();
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 5000);
    }
};

QTEST_GUILESS_MAIN(TestMqttClientTiming)
#include "tst_MqttClientTiming.moc"

// The tests' own raw MQTT peer: it connects again after a disconnect, as tests
// that restart brokers rely on.

#include "MosquittoBroker.h"
#include "MqttProbe.h"

#include <QTest>

class tst_MqttProbe : public QObject
{
    Q_OBJECT

private slots:
    void reconnects()
    {
        MosquittoBroker broker;
        QVERIFY(broker.start());
        MqttProbe probe;
        for (int cycle = 0; cycle < 20; ++cycle) {
            QVERIFY2(probe.connectTo(broker.host(), broker.port()), qPrintable(QString::number(cycle)));
            QVERIFY(probe.subscribe(QStringLiteral("probe/#")));
            probe.disconnect();
            QVERIFY(!probe.isConnected());
        }
    }
};

QTEST_GUILESS_MAIN(tst_MqttProbe)
#include "tst_MqttProbe.moc"

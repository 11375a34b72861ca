// Topic names and filters: what may be published to or subscribed to, and
// which names a filter matches (the client routes messages to waits by it).

#include "MqttTopicFilter.h"
#include "MqttTopicName.h"

#include <QTest>

class TestMqttTopic : public QObject
{
    Q_OBJECT

private slots:
    void validity_data();
    void validity();
    void matching_data();
    void matching();
};

void TestMqttTopic::validity_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("validName");
    QTest::addColumn<bool>("validFilter");
    QTest::newRow("plain") << "dev/rfid/request/7" << true << true;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("plus level") << "dev/+/state" << false << true;
    QTest::newRow("hash last") << "dev/#" << false << true;
    QTest::newRow("hash alone") << "#" << false << true;
    QTest::newRow("hash inside") << "dev/#/x" << false << false;
    QTest::newRow("hash in level") << "dev/a#" << false << false;
    QTest::newRow("plus in level") << "a+b/c" << false << false;
    QTest::newRow("empty levels") << "/a//b/" << true << true;
    QTest::newRow("NUL") << QString("a") + QChar(0) + "b" << false << false;
    QTest::newRow("65535 bytes") << QString(65535, 'x') << true << true;
    QTest::newRow("65536 bytes") << QString(65536, 'x') << false << false;
    // Two bytes each in UTF-8.
    QTest::newRow("65536 bytes utf-8") << QString(32768, QChar(0x039A)) << false << false;
}

void TestMqttTopic::validity()
{
    QFETCH(QString, text);
    QFETCH(bool, validName);
    QFETCH(bool, validFilter);
    QCOMPARE(MqttTopicName(text).isValid(), validName);
    QCOMPARE(MqttTopicFilter(text).isValid(), validFilter);
}

void TestMqttTopic::matching_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("matches");
    QTest::newRow("same") << "a/b"
                          << "a/b" << true;
    QTest::newRow("other") << "a/b"
                           << "a/c" << false;
    QTest::newRow("prefix only") << "a/b"
                                 << "a/b/c" << false;
    QTest::newRow("longer filter") << "a/b/c"
                                   << "a/b" << false;
    QTest::newRow("plus") << "a/+/c"
                          << "a/x/c" << true;
    QTest::newRow("plus empty level") << "a/+/c"
                                      << "a//c" << true;
    QTest::newRow("plus not two levels") << "a/+"
                                         << "a/x/y" << false;
    QTest::newRow("hash below") << "a/#"
                                << "a/x/y" << true;
    QTest::newRow("hash parent") << "a/#"
                                 << "a" << true;
    QTest::newRow("hash all") << "#"
                              << "a/b" << true;
    QTest::newRow("dollar hidden from hash") << "#"
                                             << "$SYS/x" << false;
    QTest::newRow("dollar hidden from plus") << "+/x"
                                             << "$SYS/x" << false;
    QTest::newRow("dollar by name") << "$SYS/#"
                                    << "$SYS/x" << true;
    QTest::newRow("reply of another call") << "dev/x/response/1"
                                           << "dev/x/response/12" << false;
}

void TestMqttTopic::matching()
{
    QFETCH(QString, filter);
    QFETCH(QString, name);
    QFETCH(bool, matches);
    QCOMPARE(MqttTopicFilter(filter).match(MqttTopicName(name)), matches);
}

QTEST_GUILESS_MAIN(TestMqttTopic)
#include "tst_MqttTopic.moc"

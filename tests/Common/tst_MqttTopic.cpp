// Topic names and filters: what may be published to or subscribed to, and
// which names a filter matches (the client routes messages to waits by it).

#include "MqttTopicFilter.h"
#include "MqttTopicName.h"

#include <QTest>

class TestMqttTopic : public QObject
{
    Q_OBJECT

private slots:
    void validity()
    {
        const struct
        {
            QString text;
            bool validName;
            bool validFilter;
        } rows[] = {
            { "dev/rfid/request/7", true, true }, { "", false, false }, { "dev/+/state", false, true },
            { "dev/#", false, true }, { "dev/#/x", false, false }, { "dev/a#", false, false },
            { "a+b/c", false, false }, { "/a//b/", true, true }, { QString("a") + QChar(0) + "b", false, false },
            { QString(65535, 'x'), true, true },
            { QString(32768, QChar(0x039A)), false, false }, // 65536 bytes in UTF-8
        };
        for (const auto& row : rows) {
            QVERIFY2(MqttTopicName(row.text).isValid() == row.validName, qPrintable(row.text.left(20)));
            QVERIFY2(MqttTopicFilter(row.text).isValid() == row.validFilter, qPrintable(row.text.left(20)));
        }
    }

    void matching()
    {
        const struct
        {
            const char* filter;
            const char* name;
            bool matches;
        } rows[] = { { "a/b", "a/b", true }, { "a/b", "a/b/c", false }, { "a/b/c", "a/b", false },
            { "a/+/c", "a//c", true }, { "a/+", "a/x/y", false }, { "a/#", "a/x/y", true }, { "a/#", "a", true },
            { "#", "$SYS/x", false }, { "+/x", "$SYS/x", false }, { "$SYS/#", "$SYS/x", true },
            { "dev/x/response/1", "dev/x/response/12", false } };
        for (const auto& row : rows) {
            const bool matches = MqttTopicFilter(row.filter).match(MqttTopicName(row.name));
            QVERIFY2(matches == row.matches, qPrintable(QString("%1 ~ %2").arg(row.filter, row.name)));
        }
    }
};

QTEST_GUILESS_MAIN(TestMqttTopic)
#include "tst_MqttTopic.moc"

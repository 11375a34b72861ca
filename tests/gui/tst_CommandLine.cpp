#include "CommandLine.h"
#include "Config.h"
#include "GUIManager.h"
#include "LogCapture.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("kstv-terminal-ui"));
        QCoreApplication::setApplicationVersion(QStringLiteral("0.0.1-1-g1045188"));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QVariantMap>("overrides");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("none") << QStringList() << QVariantMap() << QStringList();
        QTest::newRow("all, in applying order")
            << QStringList { "-f", "x.conf", "-p", "pa ss", "-u", "us:er", "-P", "1884", "-H", "127.0.0.1", "-c", "-e",
                   "-v", "9" }
            << QVariantMap { { "log/level", 9 }, { "log/stderr", true }, { "log/color", true },
                   { "mqtt/host", "127.0.0.1" }, { "mqtt/port", 1884 }, { "mqtt/username", "us:er" },
                   { "mqtt/password", "pa ss" }, { "config", "x.conf" } }
            << QStringList { "Setting Log level : 9", "Log to stderr overridden from user to true",
                   "Log with color overridden from user to true", "Setting MQTT Host : 127.0.0.1",
                   "Setting MQTT Port : 1884", "Setting MQTT User : us:er", "Using configuration file : x.conf" };
        QTest::newRow("bad level dropped") << QStringList { "-v", "high" } << QVariantMap() << QStringList();
        QTest::newRow("help wins") << QStringList { "-P", "x", "--help" } << QVariantMap() << QStringList();
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QVariantMap, overrides);
        QFETCH(QStringList, lines);
        LogCapture log;
        const CommandLine::Result r = CommandLine::parse(QStringList { "laneterminal" } + args);
        QCOMPARE(r.exitCode, args.contains("--help") ? 0 : -1);
        QCOMPARE(r.overrides, overrides);
        QCOMPARE(log.texts(QtInfoMsg), lines);
        QVERIFY(!log.texts().join('\n').contains("pa ss"));
    }

    void defaults()
    {
        QCOMPARE(GUIManager::Defaults.size(), 50);
        QCOMPARE(GUIManager::Defaults.value("log/level"), QVariant(2));
        QCOMPARE(GUIManager::Defaults.value("gui/showCursor"), QVariant(true));
        QCOMPARE(GUIManager::Defaults.value("mqtt/base"), QVariant("zent/ui"));
        QVERIFY(!GUIManager::Defaults.contains("topics/update"));
        // Pushes are routed by the sender's address: four distinct loopback cameras.
        QSet<QString> hosts;
        for (const char* key : { "camera/alpr1", "camera/alpr2", "camera/ccr1", "camera/ccr2" }) {
            const QUrl url(GUIManager::Defaults.value(key).toString());
            QVERIFY(url.host().startsWith("127.") && url.port() == 8000 && url.password() == "plou");
            hosts << url.host();
        }
        QCOMPARE(hosts.size(), 4);
        QCOMPARE(QUrl(GUIManager::Defaults.value("card-bo/url").toString()).host(), QStringLiteral("127.0.0.1"));
    }
};

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"

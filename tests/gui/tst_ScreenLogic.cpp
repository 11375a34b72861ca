#include "Config.h"
#include "GUIManager.h"
#include "LogCapture.h"
#include "ScreenLogic.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Lane = ScreenLogic::LaneState;

class tst_ScreenLogic : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QScopedPointer<Config> m_config;
    QScopedPointer<ScreenLogic> m_logic;
    Lane m_state = Lane::Init;
    QString m_type;
    bool m_maintenance = false;

    // The screen, message and running time-out after an action, as one comparable text.
    QString shown() const
    {
        return QStringLiteral("%1|%2|%3").arg(m_logic->screen(), m_logic->message()).arg(m_logic->screenTimeout());
    }

private slots:
    void init()
    {
        m_config.reset(new Config(m_dir.filePath(QStringLiteral("gui.conf")), GUIManager::Defaults));
        m_logic.reset(new ScreenLogic(
            *m_config, { [this] { return m_state; }, [this] { return m_type; }, [this] { return m_maintenance; } }));
        m_state = Lane::Init;
        m_type.clear();
        m_maintenance = false;
    }

    // given: terminal state, type (V vending, O other, - none), maintenance session, screen before, action.
    void table_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected");
        const char* rows[][2] = {
            { "Init - 0 X idle", "Busy||30000" },
            { "Ready V 0 X idle", "DispenseScreen||-1" },
            { "Ready O 0 X idle", "CollectScreen||-1" },
            { "Error - 0 X idle", "OutOfOrder||-1" },
            { "Error - 0 Login idle", "Login||-1" },
            { "Busy - 0 X idle", "X||-1" },
            { "Ready V 1 Settings idle", "Settings||-1" },
            { "Ready V 0 X reset", "DispenseScreen||-1" },
            { "Ready - 0 X started1", "Busy|Please Wait|30000" },
            { "Ready - 0 X started0", "X||-1" },
            { "Ready - 1 X collect", "Success|Please collect your card|60000" },
            { "Ready - 0 X fail", "ErrorScreen|Jammed|30000" },
            { "Ready - 0 X gesture", "Login||15000" },
            { "Ready V 0 Login gesture", "DispenseScreen||-1" },
            { "Ready - 1 X gesture", "Settings||-1" },
            { "Ready - 0 X disconnected", "OutOfOrder|Disconnected|-1" },
            { "Error - 0 Login disconnected", "Login||-1" },
            { "Ready - 0 X busy", "Busy|Rebooting|30000" },
        };
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
    }

    void table()
    {
        QFETCH(QString, given);
        QFETCH(QString, expected);
        const QStringList g = given.split(' ');
        const QStringList states = { "Init", "Busy", "Ready", "Error", "Stopped" };
        m_state = Lane(states.indexOf(g[0]));
        m_type = g[1] == "V" ? QStringLiteral("CARD_VENDING_MACHINE")
            : g[1] == "O"    ? QStringLiteral("OTHER")
                             : QString();
        m_maintenance = g[2] == "1";
        m_logic->setScreen(g[3]);
        const QString action = g[4];
        if (action == "idle")
            m_logic->setIdleScreen();
        else if (action == "reset")
            m_logic->sessionReset();
        else if (action.startsWith("started"))
            m_logic->sessionStarted(action.endsWith('1'));
        else if (action == "collect")
            m_logic->sessionWaitCardCollect();
        else if (action == "ok" || action == "fail")
            m_logic->sessionFinished(action == "ok", QStringLiteral("Jammed"));
        else if (action == "gesture")
            m_logic->setMaintenanceScreen();
        else if (action == "disconnected")
            m_logic->disconnected();
        else if (action == "busy")
            m_logic->showBusy(QStringLiteral("Rebooting"));
        QCOMPARE(shown(), expected);
    }

    // Time-outs lead to the idle rule; same screen without time-out leaves the timer alone.
    void timeouts()
    {
        m_logic->setTimeDivisor(1000);
        QSignalSpy changed(m_logic.data(), &ScreenLogic::screenChanged);
        m_state = Lane::Ready;
        m_logic->sessionFinished(false, QStringLiteral("Jammed")); // 30 ms
        m_logic->setScreen(QStringLiteral("ErrorScreen"));
        QCOMPARE(m_logic->screenTimeout(), 30000);
        m_logic->setScreen(QStringLiteral("ErrorScreen"), 30000);
        QCOMPARE(changed.count(), 2);
        QTRY_COMPARE(m_logic->screen(), QStringLiteral("CollectScreen"));
        QCOMPARE(m_logic->message(), QStringLiteral("Jammed"));
    }

    void displayOff()
    {
        LogCapture log;
        QCOMPARE(ScreenLogic::displayOffMsec(35791), 2147460000);
        QCOMPARE(ScreenLogic::displayOffMsec(35792), 2147483647);
        QCOMPARE(ScreenLogic::displayOffMsec(-5), 0);

        m_logic->setOutOfOrderScreen(QStringLiteral("Disconnected"));
        QCOMPARE(m_logic->displayOffTimeout(), 180000);
        m_logic->setScreen(QStringLiteral("Busy"));
        QCOMPARE(m_logic->displayOffTimeout(), -1);
        QVERIFY(log.contains(QStringLiteral("[GUIManager] Stopping Display OFF timer.")));

        m_config->set(QStringLiteral("gui/displayOffMin"), 86400);
        m_logic->setScreen(QStringLiteral("OutOfOrder"));

        // 0 or negative: never started, never stopped.
        m_config->set(QStringLiteral("gui/displayOffMin"), -1);
        m_logic->setScreen(QStringLiteral("Busy"));
        QCOMPARE(m_logic->displayOffTimeout(), 2147483647);
        m_logic->setScreen(QStringLiteral("OutOfOrder"));
        m_config->set(QStringLiteral("gui/displayOffMin"), 1);
        m_logic->setTimeDivisor(6000);
        m_logic->setScreen(QStringLiteral("OutOfService"));
        QVERIFY(QTest::qWaitFor(
            [&] { return log.contains(QStringLiteral("[GUIManager] WARN: Turning off Display due to inactivity.")); },
            2000));
    }
};

QTEST_GUILESS_MAIN(tst_ScreenLogic)
#include "tst_ScreenLogic.moc"

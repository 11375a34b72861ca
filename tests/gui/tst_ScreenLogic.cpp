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

    void table_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("maintenance");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("expected");

        const int init = int(Lane::Init), ready = int(Lane::Ready), error = int(Lane::Error), busy = int(Lane::Busy),
                  stopped = int(Lane::Stopped);
        const QString vending = QStringLiteral("CARD_VENDING_MACHINE");
        QTest::newRow("idle init") << init << "" << false << "X"
                                   << "idle"
                                   << "Busy||30000";
        QTest::newRow("idle ready vending") << ready << vending << false << "X"
                                            << "idle"
                                            << "DispenseScreen||-1";
        QTest::newRow("idle ready other") << ready << "OTHER" << false << "X"
                                          << "idle"
                                          << "CollectScreen||-1";
        QTest::newRow("idle error") << error << "" << false << "X"
                                    << "idle"
                                    << "OutOfOrder||-1";
        QTest::newRow("idle error on login") << error << "" << false << "Login"
                                             << "idle"
                                             << "Login||-1";
        QTest::newRow("idle busy keeps") << busy << "" << false << "X"
                                         << "idle"
                                         << "X||-1";
        QTest::newRow("idle stopped keeps") << stopped << "" << false << "X"
                                            << "idle"
                                            << "X||-1";
        QTest::newRow("idle maintenance keeps") << ready << vending << true << "Settings"
                                                << "idle"
                                                << "Settings||-1";
        QTest::newRow("reset") << ready << vending << false << "X"
                               << "reset"
                               << "DispenseScreen||-1";
        QTest::newRow("started pressed") << ready << "" << false << "X"
                                         << "started1"
                                         << "Busy|Please Wait|30000";
        QTest::newRow("started not pressed") << ready << "" << false << "X"
                                             << "started0"
                                             << "X||-1";
        QTest::newRow("wait collect") << ready << "" << true << "X"
                                      << "collect"
                                      << "Success|Please collect your card|60000";
        QTest::newRow("finished ok") << ready << "" << false << "X"
                                     << "ok"
                                     << "Success|Please collect your card|60000";
        QTest::newRow("finished fail") << ready << "" << false << "X"
                                       << "fail"
                                       << "ErrorScreen|Jammed|30000";
        QTest::newRow("gesture") << ready << "" << false << "X"
                                 << "gesture"
                                 << "Login||15000";
        QTest::newRow("gesture on login") << ready << vending << false << "Login"
                                          << "gesture"
                                          << "DispenseScreen||-1";
        QTest::newRow("gesture session") << ready << "" << true << "X"
                                         << "gesture"
                                         << "Settings||-1";
        QTest::newRow("disconnected") << ready << "" << false << "X"
                                      << "disconnected"
                                      << "OutOfOrder|Disconnected|-1";
        QTest::newRow("disconnected on login") << error << "" << false << "Login"
                                               << "disconnected"
                                               << "Login||-1";
        QTest::newRow("disconnected session") << ready << "" << true << "Settings"
                                              << "disconnected"
                                              << "Settings||-1";
        QTest::newRow("busy") << ready << "" << false << "X"
                              << "busy"
                              << "Busy|Rebooting|30000";
    }

    void table()
    {
        QFETCH(int, state);
        QFETCH(QString, type);
        QFETCH(bool, maintenance);
        QFETCH(QString, before);
        QFETCH(QString, action);
        QFETCH(QString, expected);
        m_state = Lane(state);
        m_type = type;
        m_maintenance = maintenance;
        m_logic->setScreen(before);
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

        // Error while on Login: the time-out ends in the idle rule, which keeps Login.
        m_state = Lane::Error;
        m_logic->setMaintenanceScreen();
        QCOMPARE(m_logic->screen(), QStringLiteral("Login"));
        QTest::qWait(40);
        QCOMPARE(m_logic->screen(), QStringLiteral("Login"));
        QCOMPARE(m_logic->screenTimeout(), -1);
    }

    void displayOff()
    {
        LogCapture log;
        QCOMPARE(ScreenLogic::displayOffMsec(3), 180000);
        QCOMPARE(ScreenLogic::displayOffMsec(35791), 2147460000);
        QCOMPARE(ScreenLogic::displayOffMsec(35792), 2147483647);
        QCOMPARE(ScreenLogic::displayOffMsec(86400), 2147483647);
        QCOMPARE(ScreenLogic::displayOffMsec(-5), 0);

        m_logic->setOutOfOrderScreen(QStringLiteral("Disconnected"));
        QCOMPARE(m_logic->displayOffTimeout(), 180000);
        m_logic->setScreen(QStringLiteral("Busy"));
        QCOMPARE(m_logic->displayOffTimeout(), -1);
        QVERIFY(log.contains(QStringLiteral("[GUIManager] Stopping Display OFF timer.")));

        m_config->set(QStringLiteral("gui/displayOffMin"), 86400);
        m_logic->setScreen(QStringLiteral("OutOfOrder"));
        QCOMPARE(m_logic->displayOffTimeout(), 2147483647);

        // 0 or negative: never started, never stopped.
        for (int minutes : { 0, -1 }) {
            m_config->set(QStringLiteral("gui/displayOffMin"), minutes);
            m_logic->setScreen(QStringLiteral("Busy"));
            QCOMPARE(m_logic->displayOffTimeout(), 2147483647);
        }
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

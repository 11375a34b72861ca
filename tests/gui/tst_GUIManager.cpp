#include "Config.h"
#include "Database.h"
#include "DeviceSimulator.h"
#include "Event.h"
#include "GUIManager.h"
#include "LogCapture.h"
#include "LogClock.h"
#include "Logger.h"
#include "MosquittoBroker.h"
#include "MqttProbe.h"
#include "Session.h"
#include "SessionManager.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QPoint>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Reads the test's own time, counting the reads.
class StepClock : public manager::LogClock
{
public:
    explicit StepClock(const double& now, int* reads = nullptr)
        : m_now(now)
        , m_reads(reads)
    {
    }
    double millis() const override
    {
        if (m_reads)
            ++*m_reads;
        return m_now;
    }

private:
    const double& m_now;
    int* m_reads;
};

} // namespace

class tst_GUIManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    MosquittoBroker m_broker;
    MqttProbe m_peer;
    QScopedPointer<DeviceSimulator> m_devices;
    QScopedPointer<Config> m_config;
    QScopedPointer<LogCapture> m_log;
    QScopedPointer<GUIManager> m_gui;
    QString m_firstMessage;
    int m_translationLoads = 0;

    // Waits until a status request on the root was answered; the requests before it are done too.
    // One sent while the service still subscribes to a new root is lost: it is sent again.
    void sync(const QString& root)
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const int from = m_peer.count();
            QVERIFY(m_peer.publish(root + "/status/get", ""));
            if (m_peer.waitFor(root + "/status", 2000, from) >= 0)
                return;
        }
        QFAIL(qPrintable("No answer to a status request on " + root));
    }

    // Sends a configuration set until the store holds the value: one sent before the service
    // subscribed to its set topic is lost.
    void setOverMqtt(const QJsonObject& set, const QString& key, const QVariant& value)
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            QVERIFY(m_peer.publish(QString("zent/ui/config/set"), QJsonDocument(set).toJson()));
            if (QTest::qWaitFor([&] { return m_config->get(key) == value; }, 2000))
                return;
        }
        QFAIL(qPrintable("No set of " + key + " over MQTT took"));
    }

    // Records each screen shown, with the error text or the engine's state beside it.
    void recordScreens(QObject& recorder, QStringList& screens)
    {
        connect(m_gui.data(), &GUIManager::screenChanged, &recorder, [this, &screens] {
            QString shown = m_gui->screen();
            if (shown == "ErrorScreen" || shown == "Busy")
                shown += ": " + m_gui->message();
            if (shown == "Success")
                shown += " in " + Engine::stateToStr(m_gui->terminal().engine()->state());
            if (screens.value(screens.size() - 1) != shown)
                screens << shown;
        });
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QString("kstv-terminal-ui"));
        QCoreApplication::setApplicationVersion(QString("0.0.1-1-g1045188"));
        QVERIFY(m_broker.start());
        QVERIFY(m_peer.connectTo(m_broker.host(), m_broker.port()));
        QVERIFY(m_peer.subscribe(QString("zent/#")));
        // The card devices, with the cartridge door open until the passages: no card is prepared before.
        m_devices.reset(new DeviceSimulator(m_broker.port(), { "--model", "RTA27408", "--detect-delay-ms", "20" }));
        QVERIFY(m_devices->start() && m_devices->setDispenser({ { "doorOpen", true } }));
        QVERIFY(QDir::setCurrent(m_dir.path())); // the terminal's database
        const QString path = m_dir.filePath(QString("gui.conf"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QString("[log]\nsyslog=false\nstderr=false\n[mqtt]\nhost=127.0.0.1\nport=%1\n"
                        "[terminal]\ndeviceId=T1\ncustomsId=1\nlocationId=2\n[camera]\ntriggerDelayMsec=0\n")
                    .arg(m_broker.port())
                    .toUtf8());
        f.close();
        m_config.reset(new Config(path, GUIManager::Defaults));
        Backend::Database(*m_config).setParam(QString("apiKey"), QString("registered")); // the back office knows it
        manager::Logger::instance(); // its handler first, so the capture sits on top of it
        m_log.reset(new LogCapture);
        m_gui.reset(new GUIManager(*m_config));
        m_gui->terminal().setEnginePauses({ 100, 100, 300, 1000, 300 });
        m_firstMessage = m_gui->message();
        m_translationLoads = m_log->startingWith(QString("[GUIManager] Loading translation file : ")).size();
        // The lane at rest: its first card preparation refused for the open door, not left waiting
        // on a reply that a later change of the broker settings would lose.
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_log->startingWith(QString("[IssueEngine] ERROR: Failed to prepare card : ")).isEmpty(), 10000);
    }

    void cleanupTestCase()
    {
        m_gui.reset();
        m_log.reset();
        m_devices.reset();
    }

    void login()
    {
        LogCapture log;
        Config config(m_dir.filePath(QString("login.conf")), GUIManager::Defaults);
        SessionManager sessions(config);
        QSignalSpy denied(&sessions, &SessionManager::accessDenied);
        QSignalSpy active(&sessions, &SessionManager::sessionActiveChanged);
        for (const char* wrong : { "", "5284", "52830", "528" })
            sessions.loginRequest(QString::fromLatin1(wrong));
        QCOMPARE(denied.count(), 4);
        QCOMPARE(log.count(QString("[SessionManager] WARN: User entered wrong pin")), 4);
        QCOMPARE(sessions.remainingTime(), -1);
        sessions.loginRequest(QString("5283"));
        QCOMPARE(active.count(), 1);
        QVERIFY(sessions.remainingTime() > 599000);
        for (const QString& line : log.texts()) // the PIN never reaches the log
            QVERIFY2(!line.contains(QString("5283")) && !line.contains(QString("5284")), qPrintable(line));

        // A new PIN applies to the next login; the logged-in user stays valid, a copy of its record.
        config.set(QString("gui/settingsPin"), QString());
        QVERIFY(sessions.sessionActive());
        QCOMPARE(sessions.user()->pin, QString("5283"));
        // An empty configured PIN opens nothing, not even for an empty entry.
        sessions.logoutRequest();
        sessions.loginRequest(QString());
        sessions.loginRequest(QString("5283"));
        QVERIFY(!sessions.sessionActive());
        QCOMPARE(log.startingWith(QString("[SessionManager] WARN: No maintenance PIN is configured")).size(), 2);
        QCOMPARE(active.count(), 2);

        // Expiry, counted from the last login.
        config.set(QString("gui/settingsPin"), QString("5283"));
        sessions.setSessionMsec(100);
        sessions.loginRequest(QString("5283"));
        QTest::qWait(60);
        sessions.loginRequest(QString("5283"));
        QTest::qWait(60);
        QVERIFY(sessions.sessionActive());
        QTRY_VERIFY(!sessions.sessionActive());
        QCOMPARE(log.count(QString("[SessionManager] Session expired")), 1);
    }

    // Five wrong PINs in a row lock every login for 30 s, each further one for twice as long,
    // at most 15 min; a right PIN resets both.
    void loginLock()
    {
        LogCapture log;
        Config config(m_dir.filePath(QString("lock.conf")), GUIManager::Defaults);
        SessionManager sessions(config);
        double now = 1e6;
        sessions.setClock(std::make_unique<StepClock>(now));
        QSignalSpy granted(&sessions, &SessionManager::accessGranted);
        QSignalSpy lockChanged(&sessions, &SessionManager::loginLockedChanged);
        const auto wrong = [&](int times) {
            for (int i = 0; i < times; ++i)
                sessions.loginRequest(QString("0000"));
        };
        wrong(4);
        sessions.loginRequest(QString("5283")); // resets the count
        wrong(4);
        QVERIFY(!sessions.loginLocked());
        wrong(1);
        QVERIFY(sessions.loginLocked());
        QCOMPARE(lockChanged.count(), 1);
        QVERIFY(log.contains(QString("[SessionManager] WARN: 5 wrong PINs in a row; login locked for 30 s")));
        sessions.logoutRequest();
        now += 29999;
        sessions.loginRequest(QString("5283"));
        QCOMPARE(granted.count(), 1);
        QVERIFY(log.contains(QString("[SessionManager] WARN: Login refused: locked for another 1 s")));

        // Each wrong PIN after a lock locks again, twice as long, up to 15 min.
        int lockSecs = 30;
        for (int i = 0; i < 7; ++i) {
            now += lockSecs * 1000;
            QVERIFY(!sessions.loginLocked());
            wrong(1);
            lockSecs = qMin(lockSecs * 2, 900);
            QVERIFY2(log.contains(QString("[SessionManager] WARN: %1 wrong PINs in a row; login locked for %2 s")
                                      .arg(6 + i)
                                      .arg(lockSecs)),
                qPrintable(log.texts().last()));
        }
        now += 900 * 1000 - 1;
        QVERIFY(sessions.loginLocked());
        now += 1;
        sessions.loginRequest(QString("5283"));
        QCOMPARE(granted.count(), 2);
        wrong(4);
        QVERIFY(!sessions.loginLocked());
        wrong(1);
        QCOMPARE(log.count(QString("[SessionManager] WARN: 5 wrong PINs in a row; login locked for 30 s")), 2);

        // The page hears of the lock's end once the lock's clock has reached it, even when the
        // timer fires before by that clock.
        SessionManager early(config);
        double t = 0;
        int reads = 0;
        early.setClock(std::make_unique<StepClock>(t, &reads));
        early.setFirstLockMsec(50);
        QList<bool> told;
        connect(&early, &SessionManager::loginLockedChanged, &early, [&] { told << early.loginLocked(); });
        for (int i = 0; i < SessionManager::kMaxFailures; ++i)
            early.loginRequest(QString("0000"));
        QCOMPARE(told, QList<bool>({ true }));
        t = 49;
        const int before = reads;
        QTRY_VERIFY(reads > before); // the timer went off
        QCOMPARE(told, QList<bool>({ true }));
        t = 50;
        QTRY_COMPARE(told, QList<bool>({ true, false }));
    }

    // A maintenance login and logout are written to the event log and announced in the status.
    void maintenance()
    {
        sync(QString("zent/ui"));
        const int from = m_peer.count();
        m_gui->settingsLoginRequest(QString("5283"));
        const Event* login = m_gui->events().events().last();
        QCOMPARE(login->name(), QString("Maintenance login"));
        QVERIFY(login->description().startsWith(QString("User ID : 0\nFirst name : ZENT\nLast name : Admin\nDate : ")));
        QVERIFY(m_peer.waitFor(
                    QString("zent/ui/status"),
                    [](const MqttProbe::Message& m) { return m.json().value("technician").toBool(); }, 5000, from)
            >= 0);
        m_gui->settingsLogoutRequest();
        QCOMPARE(m_gui->events().events().last()->name(), QString("Maintenance logout"));
    }

    // Greek is installed before the first message; only Greek installs the translation.
    void language()
    {
        const QString greek = m_firstMessage;
        QVERIFY(!greek.isEmpty());
        QVERIFY2(greek != QString("Initializing"), qPrintable(greek));
        QCOMPARE(m_translationLoads, 1);
        m_gui->setLanguage(QString("el_GR")); // as at start, whatever ran before
        LogCapture log;
        QSignalSpy changed(m_gui.data(), &GUIManager::languageChanged);
        for (const char* lang : { "en_IE", "de_DE", "en_US" }) {
            m_gui->setLanguage(QString::fromLatin1(lang));
            QCOMPARE(QCoreApplication::translate("QObject", "Initializing"), QString("Initializing"));
        }
        m_gui->setLanguage(QString("el_GR"));
        QCOMPARE(QCoreApplication::translate("QObject", "Initializing"), greek);
        QCOMPARE(changed.count(), 4);
        QCOMPARE(log.startingWith(QString("[GUIManager] Loading translation file : ")).size(), 0);
    }

    // Every key of one change set is handled; logging and MQTT are set up again once each.
    void changeSet()
    {
        sync(QString("zent/ui"));
        // From the built-in values, whatever ran before.
        for (const char* key : { "gui/showCursor", "gui/displayOffMin", "gui/locale", "log/level", "log/color" })
            m_config->set(QString(key), GUIManager::Defaults.value(QString(key)));
        m_log->clear();
        QSignalSpy cursor(m_gui.data(), &GUIManager::showCursorChanged);
        QSignalSpy displayOff(m_gui.data(), &GUIManager::displayOffMinChanged);
        QSignalSpy language(m_gui.data(), &GUIManager::languageChanged);
        const int from = m_peer.count();
        m_config->fromJson(
            { { "gui", QJsonObject { { "showCursor", false }, { "displayOffMin", 7 }, { "locale", "en_US" } } },
                { "log", QJsonObject { { "level", 3 }, { "color", true } } },
                { "mqtt", QJsonObject { { "base", "zent/lane2" }, { "port", int(m_broker.port()) } } } });
        QCOMPARE(cursor.count(), 1);
        QCOMPARE(displayOff.count(), 1);
        QCOMPARE(language.count(), 1);
        QCOMPARE(m_log->count(QString("[GUIManager] Log configuration changed. Applying.")), 1);
        QCOMPARE(m_log->count(QString("[GUIManager] MQTT configuration changed. Applying.")), 1);
        manager::Logger::instance()->setLevel(2);
        // The new root answers once per request, however often the set-up ran.
        QVERIFY(m_peer.waitFor(QString("zent/lane2/config"), 10000, from) >= 0);
        m_config->fromJson({ { "mqtt", QJsonObject { { "base", "zent/ui" } } } });
        QVERIFY(m_peer.waitFor(QString("zent/ui/config"), 10000, m_peer.count()) >= 0);
        sync(QString("zent/ui"));
        // The info request is answered after every answer to the status request before it.
        const int before = m_peer.count();
        QVERIFY(m_peer.publish(QString("zent/ui/status/get"), ""));
        QVERIFY(m_peer.publish(QString("zent/ui/info/get"), ""));
        QVERIFY(m_peer.waitFor(QString("zent/ui/info"), 10000, before) >= 0);
        int answers = 0;
        for (const MqttProbe::Message& message : m_peer.messages().mid(before))
            answers += message.topic == QLatin1String("zent/ui/status") ? 1 : 0;
        QCOMPARE(answers, 1);
    }

    // A value set over the UI's MQTT channel, then by an outside edit, with a line break and an
    // escape: each line that shows it stays one line of the log.
    void pushedTextStaysOnItsLine()
    {
        const QString forged = QString::fromUtf8("white\x1b[2K\n[gui]\nsettingsPin=0000\u2028");
        sync(QString("zent/ui"));
        m_log->clear();
        const QJsonObject set { { "gui", QJsonObject { { "screenSaverBg", forged } } } };
        setOverMqtt(set, QString("gui/screenSaverBg"), forged);
        QSettings file(m_config->filename(), QSettings::IniFormat);
        file.setValue(QString("gui/screenSaverBg"), forged + "2");
        file.setValue(QString::fromUtf8("gui/odd\u2028name"), QPoint(1, 2)); // not a plain value: left out
        file.setValue(QString::fromUtf8("gui/odd\u2028plain"), QString("x")); // a key the store takes on
        file.sync();
        QTRY_COMPARE_WITH_TIMEOUT(m_config->get(QString("gui/screenSaverBg")).toString(), forged + "2", 10000);
        const QString shown = "white\\x1b[2K\\n[gui]\\nsettingsPin=0000\\u2028";
        QCOMPARE(m_log->startingWith(QString("[CameraManager] onConfigChanged to map : "))
                     .filter("gui/screenSaverBg=" + shown)
                     .size(),
            2);
        QCOMPARE(m_log->startingWith(QString("[Config]  gui/screenSaverBg ")).size(), 1);
        QVERIFY(m_log->startingWith(QString("[Config]  gui/screenSaverBg ")).value(0).endsWith(" : " + shown + "2"));
        // Each read of the file (the watcher may report one edit twice) leaves the odd value out again.
        QVERIFY(!m_log->startingWith(QString("[Config] WARN: ignoring gui/odd\\u2028name in ")).isEmpty());
        QCOMPARE(m_log->startingWith(QString("[Config]  gui/odd\\u2028plain ")).size(), 1);
        const QStringList unsafe = m_log->unsafeLines();
        QVERIFY2(unsafe.isEmpty(), qPrintable(unsafe.value(0)));
        file.remove(QString::fromUtf8("gui/odd\u2028name"));
        file.sync();
        m_config->set(QString("gui/screenSaverBg"), QString("black"));
    }

    void loading()
    {
        QVERIFY(!m_gui->load(QUrl(QString("qrc:/qml/none.qml"))));
        QCOMPARE(m_log->startingWith(QString("[GUIManager] ERROR: Failed to load the user interface : ")).size(), 1);
        QCOMPARE(m_gui->events().events().last()->name(), QString("Application started"));
    }

    // Passages started by the button, from the terminal's signals to the screen shown: a card
    // issuer in Error ends on the error screen, never on Success; then the main road, where
    // Success shows while the card waits to be taken and again when the passage closes.
    void passages()
    {
        // The texts below are the English ones; the lane's test topics are subscribed before the
        // service's own.
        m_gui->setLanguage(QString("en_US"));
        sync(QString("zent/ui"));
        QVERIFY(m_devices->setDispenser({ { "doorOpen", true } }) && m_devices->setAutoTake(200));
        QTRY_COMPARE_WITH_TIMEOUT(m_gui->terminal().reason(), QString("Cartridge door open"), 10000);
        // A card an earlier passage left on the reader goes to a driver first (a current card is
        // issued even in Error); with the door open the lane prepares no other.
        if (!m_gui->terminal().session()->cardId().isEmpty()) {
            QVERIFY(m_peer.publish(QString("zent/ui/button"), "{}"));
            QTRY_VERIFY_WITH_TIMEOUT(
                m_gui->terminal().engine()->state() == Engine::Idle && m_gui->terminal().session()->cardId().isEmpty(),
                15000);
        }
        QTRY_COMPARE(m_gui->screen(), QString("OutOfOrder"));
        QStringList screens;
        QObject recorder;
        recordScreens(recorder, screens);
        QVERIFY(m_gui->terminal().session()->cardId().isEmpty());
        QVERIFY(m_peer.publish(QString("zent/ui/button"), "{}"));
        QTRY_COMPARE_WITH_TIMEOUT(
            screens, QStringList({ "Busy: Please Wait", "ErrorScreen: Cartridge door open", "OutOfOrder" }), 10000);

        QVERIFY(m_devices->setDispenser({ { "doorOpen", false } }) && m_devices->setAutoTake(200));
        QTRY_COMPARE_WITH_TIMEOUT(m_gui->screen(), QString("DispenseScreen"), 10000);
        const int ejects = m_devices->journalLines().filter("dispenser /eject").size();
        screens.clear();
        QVERIFY(m_peer.publish(QString("zent/ui/button"), "{}"));
        QTRY_COMPARE_WITH_TIMEOUT(screens,
            QStringList({ "Busy: Please Wait", "Success in CardProcess", "Success in PostExit", "DispenseScreen" }),
            15000);
        QCOMPARE(m_devices->journalLines().filter("dispenser /eject").size(), ejects + 1);
    }

    // A passage or a power action that takes the display from the settings ends the maintenance
    // session: the passage's end, or the screen's time-out, leaves the next driver the rest screen.
    void passageOverSettings()
    {
        m_gui->setLanguage(QString("en_US"));
        sync(QString("zent/ui"));
        QVERIFY(m_devices->setDispenser({ { "doorOpen", false } }) && m_devices->setAutoTake(200));
        QStringList screens;
        QObject recorder;
        recordScreens(recorder, screens);
        QTRY_COMPARE_WITH_TIMEOUT(m_gui->screen(), QString("DispenseScreen"), 10000);
        const int ejects = m_devices->journalLines().filter("dispenser /eject").size();
        m_gui->settingsLoginRequest(QString("5283"));
        m_gui->setMaintenanceScreen();
        QCOMPARE(m_gui->screen(), QString("Settings"));
        screens.clear();
        QVERIFY(m_peer.publish(QString("zent/ui/button"), "{}"));
        QTRY_COMPARE_WITH_TIMEOUT(screens,
            QStringList({ "Busy: Please Wait", "Success in CardProcess", "Success in PostExit", "DispenseScreen" }),
            15000);
        QCOMPARE(m_devices->journalLines().filter("dispenser /eject").size(), ejects + 1);
        QVERIFY(!m_gui->sessions().sessionActive());
        QCOMPARE(m_gui->events().events().last()->name(), QString("Maintenance logout"));

        // A reboot asked for on the settings that never comes.
        m_gui->settingsLoginRequest(QString("5283"));
        m_gui->setMaintenanceScreen();
        m_gui->screens().setTimeDivisor(100);
        screens.clear();
        m_gui->rebootRequest();
        QTRY_COMPARE_WITH_TIMEOUT(screens, QStringList({ "Busy: Rebooting", "DispenseScreen" }), 10000);
        m_gui->screens().setTimeDivisor(1);
        QVERIFY(!m_gui->sessions().sessionActive());
    }
};

QTEST_MAIN(tst_GUIManager)
#include "tst_GUIManager.moc"

#include "Config.h"
#include "GUIManager.h"
#include "LogCapture.h"
#include "SessionManager.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class tst_SessionManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void login()
    {
        LogCapture log;
        Config config(m_dir.filePath(QStringLiteral("login.conf")), GUIManager::Defaults);
        SessionManager sessions(config);
        QSignalSpy granted(&sessions, &SessionManager::accessGranted);
        QSignalSpy denied(&sessions, &SessionManager::accessDenied);
        QSignalSpy active(&sessions, &SessionManager::sessionActiveChanged);

        for (const QString& wrong :
            { QString(), QStringLiteral("5284"), QStringLiteral("52830"), QStringLiteral("528") })
            sessions.loginRequest(wrong);
        QCOMPARE(denied.count(), 4);
        QCOMPARE(log.count(QStringLiteral("[SessionManager] WARN: User entered wrong pin")), 4);
        QVERIFY(!sessions.sessionActive());
        QCOMPARE(sessions.remainingTime(), -1);

        sessions.loginRequest(QStringLiteral("5283"));
        QCOMPARE(granted.count(), 1);
        QCOMPARE(active.count(), 1);
        QVERIFY(sessions.remainingTime() > 599000);
        QVERIFY(log.contains(QStringLiteral("[SessionManager] User logged-in : ZENT, Admin")));
        // The PIN never reaches the log.
        for (const QString& line : log.texts())
            QVERIFY2(
                !line.contains(QStringLiteral("5283")) && !line.contains(QStringLiteral("5284")), qPrintable(line));
        QVERIFY(log.contains(QStringLiteral("[SessionManager] Entered PIN    : ****")));

        // A new PIN applies to the next login; the user logged in stays valid, with a copy of its record.
        config.set(QStringLiteral("gui/settingsPin"), QString());
        QVERIFY(sessions.sessionActive());
        QCOMPARE(sessions.user()->firstName, QStringLiteral("ZENT"));
        QCOMPARE(sessions.user()->pin, QStringLiteral("5283"));

        // An empty configured PIN opens nothing, not even for an empty entry.
        sessions.logoutRequest();
        QCOMPARE(active.count(), 2);
        sessions.loginRequest(QString());
        sessions.loginRequest(QStringLiteral("5283"));
        QVERIFY(!sessions.sessionActive());
        QCOMPARE(log.startingWith(QStringLiteral("[SessionManager] WARN: No maintenance PIN is configured")).size(), 2);

        sessions.logoutRequest(); // without a session: nothing
        sessions.resetTimer();
        QCOMPARE(active.count(), 2);
        QCOMPARE(sessions.remainingTime(), -1);
    }

    void expiry()
    {
        LogCapture log;
        Config config(m_dir.filePath(QStringLiteral("expiry.conf")), GUIManager::Defaults);
        SessionManager sessions(config);
        sessions.setSessionMsec(100);
        QSignalSpy active(&sessions, &SessionManager::sessionActiveChanged);
        sessions.loginRequest(QStringLiteral("5283"));
        QTest::qWait(60);
        sessions.loginRequest(QStringLiteral("5283")); // counts anew from here
        QTest::qWait(60);
        QVERIFY(sessions.sessionActive());
        QTRY_VERIFY(!sessions.sessionActive());
        QTest::qWait(150);
        QCOMPARE(active.count(), 3);
        QCOMPARE(log.count(QStringLiteral("[SessionManager] Session expired")), 1);
    }
};

QTEST_GUILESS_MAIN(tst_SessionManager)
#include "tst_SessionManager.moc"

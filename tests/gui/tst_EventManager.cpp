#include "Config.h"
#include "Event.h"
#include "EventLogin.h"
#include "EventManager.h"
#include "GUIManager.h"
#include "LogCapture.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList names(const EventManager& events)
{
    QStringList out;
    for (QObject* o : events.data())
        out << qobject_cast<Event*>(o)->name();
    return out;
}

} // namespace

class tst_EventManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QScopedPointer<Config> m_config;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void writeEvents(const QString& file, int count, const QDateTime& first, int stepSecs)
    {
        QSettings s(file, QSettings::IniFormat);
        s.beginWriteArray(QStringLiteral("events"), count);
        for (int i = 0; i < count; ++i) {
            s.setArrayIndex(i);
            s.setValue(QStringLiteral("category"), QStringLiteral("General"));
            s.setValue(QStringLiteral("name"), QStringLiteral("e%1").arg(i + 1));
            s.setValue(QStringLiteral("timestamp"), first.addSecs(qint64(i) * stepSecs));
        }
        s.endArray();
    }

private slots:
    void initTestCase() { m_config.reset(new Config(path(QStringLiteral("gui.conf")), GUIManager::Defaults)); }

    void loading()
    {
        LogCapture log;
        const QString file = path(QStringLiteral("big.ini"));
        writeEvents(file, 1500, QDateTime::currentDateTime().addDays(-1), 1);
        {
            EventManager events(*m_config, file);
            QCOMPARE(events.events().size(), 1000);
            QCOMPARE(events.events().first()->name(), QStringLiteral("e501"));
            QCOMPARE(events.events().last()->name(), QStringLiteral("e1500"));
            QVERIFY(log.contains(QStringLiteral("[EventManager] Loading saved events : from=500 to=1500")));
            QCOMPARE(log.startingWith(QStringLiteral("[EventManager] Deleted 0 event(s) older than ")).size(), 1);

            events.push(
                new Event(QStringLiteral("Alarm"), QStringLiteral("pushed"), QString(), QDateTime::currentDateTime()));
            QCOMPARE(events.events().size(), 1001);
            events.push(new EventLogin(QStringLiteral("General"), QStringLiteral("Maintenance login"),
                QStringLiteral("User ID : 0"), QDateTime::currentDateTime()));
            QCOMPARE(events.events().size(), 1001);
            QCOMPARE(events.events().first()->name(), QStringLiteral("e502"));
        }
        // The whole list went to the file; a restart keeps the category.
        EventManager again(*m_config, file);
        QCOMPARE(again.events().size(), 1000);
        QCOMPARE(again.events().at(998)->category(), QStringLiteral("Alarm"));
        QCOMPARE(again.events().last()->description(), QStringLiteral("User ID : 0"));
    }

    void ageing()
    {
        LogCapture log;
        const QString file = path(QStringLiteral("old.ini"));
        // e1 is older than 30 days, e2 30 days old, e3 a minute younger.
        const QDateTime old = QDateTime::currentDateTime().addDays(-30).addSecs(-60);
        writeEvents(file, 3, old, 60);
        EventManager events(*m_config, file);
        QCOMPARE(names(events), QStringList { QStringLiteral("e3") });
        QCOMPARE(log.startingWith(QStringLiteral("[EventManager] Deleted 2 event(s) older than ")).size(), 1);
        QSettings s(file, QSettings::IniFormat);
        QCOMPARE(s.beginReadArray(QStringLiteral("events")), 1);
    }

    void filters()
    {
        const QString file = path(QStringLiteral("filters.ini"));
        EventManager events(*m_config, file);
        const QDateTime now = QDateTime::currentDateTime();
        const QDate today = now.date();
        const struct
        {
            const char* name;
            QDateTime at;
        } seed[] = {
            { "Maintenance login", now.addSecs(-1800) },
            { "Maintenance logout", now.addSecs(-5400) },
            { "Application started", QDateTime(today.addDays(-1), QTime(12, 0)) },
            { "month", QDateTime(today.addMonths(-1), QTime(0, 0, 1)) },
            { "older", QDateTime(today.addMonths(-1).addDays(-1), QTime(23, 0)) },
        };
        for (const auto& e : seed)
            events.push(new Event(QStringLiteral("General"), QString::fromLatin1(e.name), QString(), e.at));

        events.applyFilter(QStringLiteral("MAINTENANCE LOG"));
        QCOMPARE(names(events), QStringList({ "Maintenance login", "Maintenance logout" }));
        events.applyFilterPeriod(QStringLiteral("Last hour"));
        QCOMPARE(names(events), QStringList({ "Maintenance login" }));
        events.applyFilterPeriod(QStringLiteral("All history")); // keeps the name filter
        QCOMPARE(names(events).size(), 2);
        events.applyFilter(QString());
        events.applyFilterPeriod(QStringLiteral("Last month"));
        QCOMPARE(names(events).size(), 4);
        events.applyFilter(QDateTime(today.addDays(-1), QTime(12, 0)));
        QCOMPARE(names(events).last(), QStringLiteral("Application started"));
        QCOMPARE(names(events).size(), 3);
    }

    void writeFailure()
    {
        LogCapture log;
        // A folder where the file should be: every save fails.
        const QString file = path(QStringLiteral("blocked.ini"));
        QVERIFY(QDir().mkpath(file));
        EventManager events(*m_config, file);
        events.push(new Event(QStringLiteral("General"), QStringLiteral("x"), QString(), QDateTime::currentDateTime()));
        QCOMPARE(log.startingWith(QStringLiteral("[EventManager] WARN: Could not write events to ")).size(), 1);
        QCOMPARE(events.events().size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_EventManager)
#include "tst_EventManager.moc"

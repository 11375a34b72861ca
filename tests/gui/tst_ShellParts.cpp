// The shell's parts without a window: the screen logic table and its timers, the
// event log (loading, ageing, filters, write failures) and the self-test against a
// fake sysfs tree with its report and QR summary.

#include "Config.h"
#include "Diagnostics.h"
#include "Event.h"
#include "EventLogin.h"
#include "EventManager.h"
#include "GUIManager.h"
#include "LogCapture.h"
#include "ScreenLogic.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using Lane = ScreenLogic::LaneState;

namespace {

QStringList names(const EventManager& events)
{
    QStringList out;
    for (QObject* o : events.data())
        out << qobject_cast<Event*>(o)->name();
    return out;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return "<" + program.toUtf8() + " failed>";
    return p.readAllStandardOutput();
}

} // namespace

class tst_ShellParts : public QObject
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
        return QString("%1|%2|%3").arg(m_logic->screen(), m_logic->message()).arg(m_logic->screenTimeout());
    }

    // One action of a table row.
    void act(const QString& action)
    {
        if (action == "idle")
            m_logic->setIdleScreen();
        else if (action.startsWith("started"))
            m_logic->sessionStarted(action.endsWith('1'));
        else if (action == "collect")
            m_logic->sessionWaitCardCollect();
        else if (action == "ok" || action == "fail")
            m_logic->sessionFinished(action == "ok", QString("Jammed"));
        else if (action == "gesture")
            m_logic->setMaintenanceScreen();
        else if (action == "disconnected")
            m_logic->disconnected();
        else if (action == "busy")
            m_logic->showBusy(QString("Rebooting"));
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    void writeEvents(const QString& file, int count, const QDateTime& first, int stepSecs)
    {
        QSettings s(file, QSettings::IniFormat);
        s.beginWriteArray(QString("events"), count);
        for (int i = 0; i < count; ++i) {
            s.setArrayIndex(i);
            s.setValue(QString("category"), QString("General"));
            s.setValue(QString("name"), QString("e%1").arg(i + 1));
            s.setValue(QString("timestamp"), first.addSecs(qint64(i) * stepSecs));
        }
        s.endArray();
    }

    QTemporaryDir m_root;
    const QDateTime m_now { QDate(2026, 3, 4), QTime(5, 6, 7) };

    void device(const QString& port, const QByteArray& vendor, const QByteArray& product)
    {
        const QString dir = m_root.filePath(QString("sys/bus/usb/devices/") + port);
        writeFile(dir + "/idVendor", vendor + "\n");
        writeFile(dir + "/idProduct", product + "\n");
        writeFile(dir + "/product", "Some device\n");
    }

    Diagnostics::Sources sources()
    {
        return { [] { return QString("SN-0042"); }, [] { return QString("1.2.3"); },
            [] { return QString("Connected"); } };
    }

private slots:
    void initTestCase() { QCoreApplication::setApplicationVersion(QString("0.0.1-1-g1045188")); }

    void init()
    {
        m_config.reset(new Config(m_dir.filePath(QString("gui.conf")), GUIManager::Defaults));
        m_logic.reset(new ScreenLogic(*m_config,
            { [this] { return m_state; }, [this] { return m_type; }, [this] { return m_maintenance; },
                [this] { m_maintenance = false; } }));
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
            // A screen with a time-out over the settings ends the session: the rest screen follows it.
            { "Ready V 1 Settings collect+idle", "DispenseScreen|Please collect your card|-1" },
            { "Ready V 1 Settings busy+idle", "DispenseScreen|Rebooting|-1" },
            { "Ready V 1 Settings started0+idle", "Settings||-1" },
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
        m_type = g[1] == "V" ? QString("CARD_VENDING_MACHINE") : g[1] == "O" ? QString("OTHER") : QString();
        m_maintenance = g[2] == "1";
        m_logic->setScreen(g[3]);
        for (const QString& action : g[4].split('+'))
            act(action);
        QCOMPARE(shown(), expected);
    }

    // Time-outs lead to the idle rule; the same screen without time-out leaves the timer alone.
    void timeouts()
    {
        m_logic->setTimeDivisor(1000);
        QSignalSpy changed(m_logic.data(), &ScreenLogic::screenChanged);
        m_state = Lane::Ready;
        m_logic->sessionFinished(false, QString("Jammed")); // 30 ms
        m_logic->setScreen(QString("ErrorScreen"));
        QCOMPARE(m_logic->screenTimeout(), 30000);
        m_logic->setScreen(QString("ErrorScreen"), 30000);
        QCOMPARE(changed.count(), 2);
        QTRY_COMPARE(m_logic->screen(), QString("CollectScreen"));
        QCOMPARE(m_logic->message(), QString("Jammed"));
    }

    void displayOff()
    {
        LogCapture log;
        QCOMPARE(ScreenLogic::displayOffMsec(35791), 2147460000);
        QCOMPARE(ScreenLogic::displayOffMsec(35792), 2147483647);
        QCOMPARE(ScreenLogic::displayOffMsec(-5), 0);

        m_logic->setOutOfOrderScreen(QString("Disconnected"));
        QCOMPARE(m_logic->displayOffTimeout(), 180000);
        m_logic->setScreen(QString("Busy"));
        QCOMPARE(m_logic->displayOffTimeout(), -1);
        QVERIFY(log.contains(QString("[GUIManager] Stopping Display OFF timer.")));

        m_config->set(QString("gui/displayOffMin"), 1);
        m_logic->setTimeDivisor(6000);
        m_logic->setScreen(QString("OutOfService"));
        QVERIFY(QTest::qWaitFor(
            [&] { return log.contains(QString("[GUIManager] WARN: Turning off Display due to inactivity.")); }, 2000));
    }

    void loading()
    {
        const QString file = path(QString("big.ini"));
        writeEvents(file, 1500, QDateTime::currentDateTime().addDays(-1), 1);
        {
            EventManager events(*m_config, file);
            QCOMPARE(events.events().size(), 1000);
            QCOMPARE(events.events().first()->name(), QString("e501"));
            QCOMPARE(events.events().last()->name(), QString("e1500"));

            events.push(new Event(QString("Alarm"), QString("pushed"), QString(), QDateTime::currentDateTime()));
            QCOMPARE(events.events().size(), 1001);
            events.push(new EventLogin(QString("General"), QString("Maintenance login"), QString("User ID : 0"),
                QDateTime::currentDateTime()));
            QCOMPARE(events.events().size(), 1001);
            QCOMPARE(events.events().first()->name(), QString("e502"));
            QCOMPARE(int(QFileInfo(file).permissions()), 0x6600); // owner only: tightened at the write
        }
        // The whole list went to the file; a restart keeps the category.
        EventManager again(*m_config, file);
        QCOMPARE(again.events().size(), 1000);
        QCOMPARE(again.events().at(998)->category(), QString("Alarm"));
        QCOMPARE(again.events().last()->description(), QString("User ID : 0"));
    }

    void ageing()
    {
        LogCapture log;
        const QString file = path(QString("old.ini"));
        // e1 is older than 30 days, e2 30 days old, e3 a minute younger.
        const QDateTime old = QDateTime::currentDateTime().addDays(-30).addSecs(-60);
        writeEvents(file, 3, old, 60);
        EventManager events(*m_config, file);
        QCOMPARE(names(events), QStringList { QString("e3") });
        QCOMPARE(log.startingWith(QString("[EventManager] Deleted 2 event(s) older than ")).size(), 1);
        QSettings s(file, QSettings::IniFormat);
        QCOMPARE(s.beginReadArray(QString("events")), 1);
    }

    void filters()
    {
        EventManager events(*m_config, path(QString("filters.ini")));
        const QDateTime now = QDateTime::currentDateTime();
        const QDate today = now.date();
        for (const auto& [name, at] :
            { std::pair { "Maintenance login", now.addSecs(-1800) }, { "Maintenance logout", now.addSecs(-5400) },
                { "Application started", QDateTime(today.addDays(-1), QTime(12, 0)) },
                { "month", QDateTime(today.addMonths(-1), QTime(0, 0, 1)) },
                { "older", QDateTime(today.addMonths(-1).addDays(-1), QTime(23, 0)) } })
            events.push(new Event(QString("General"), QString::fromLatin1(name), QString(), at));
        events.applyFilter(QString("MAINTENANCE LOG"));
        QCOMPARE(names(events), QStringList({ "Maintenance login", "Maintenance logout" }));
        events.applyFilterPeriod(QString("Last hour"));
        QCOMPARE(names(events), QStringList({ "Maintenance login" }));
        events.applyFilterPeriod(QString("All history")); // keeps the name filter
        QCOMPARE(names(events).size(), 2);
        events.applyFilter(QString());
        events.applyFilterPeriod(QString("Last month"));
        QCOMPARE(names(events).size(), 4);
        events.applyFilter(QDateTime(today.addDays(-1), QTime(12, 0)));
        QCOMPARE(names(events).last(), QString("Application started"));
        QCOMPARE(names(events).size(), 3);
    }

    void writeFailure()
    {
        LogCapture log;
        // A folder where the file should be: every save fails.
        const QString file = path(QString("blocked.ini"));
        QVERIFY(QDir().mkpath(file));
        EventManager events(*m_config, file);
        events.push(new Event(QString("General"), QString("x"), QString(), QDateTime::currentDateTime()));
        QCOMPARE(log.startingWith(QString("[EventManager] WARN: Could not write events to ")).size(), 1);
        QCOMPARE(events.events().size(), 1);
        // A folder where no file can be made: reading finds nothing, only the write fails.
        EventManager unwritable(*m_config, QString("/proc/self/events.ini"));
        unwritable.push(new Event(QString("General"), QString("x"), QString(), QDateTime::currentDateTime()));
        QCOMPARE(log.startingWith(QString("[EventManager] WARN: Could not write events to ")).size(), 2);
    }

    void checksAndReport()
    {
        LogCapture log;
        Diagnostics diag(sources());
        diag.setRootPath(m_root.path());
        device("1-1", "0451", "2077"); // hub: right ids
        QDir().mkpath(m_root.filePath("sys/bus/usb/devices/1-1.2")); // any device, no id files
        device("1-1.3", "0ab1", "0008"); // RFID: wrong product
        device("1-1.5", "0403", "6015");
        // What a device calls itself, read from its file.
        writeFile(m_root.filePath("sys/bus/usb/devices/1-1.5/product"), "FT\x1b[2K\n[   1.000] [Terminal] x\n");
        diag.start(0); // one check, no timer
        QVERIFY(!diag.checking());
        QCOMPARE(QStringList({ diag.usbHub(), diag.mPCIe1(), diag.rfidUsb(), diag.usbHost(), diag.ftdi(), diag.touch(),
                     diag.sdCard(), diag.ethernet() }),
            QStringList({ "OK", "OK", "ERROR", "MISSING", "OK", "MISSING", "MISSING", "OK" }));
        writeFile(m_root.filePath("dev/mmcblk1p1"), "");
        diag.start(0);

        QTemporaryDir out;
        diag.setReportDir(out.path());
        diag.setClock([this] { return m_now; });
        diag.setBuzzer(QString("OK"));
        diag.setLeds(QString("ERROR"));
        diag.setSpeaker(QString("OK"));
        diag.setRgbTest(QString("a value longer than the thirty-five character field"));
        QSignalSpy finished(&diag, &Diagnostics::saveReportFinished);
        diag.saveReport();
        QCOMPARE(finished.count(), 1);
        const QString name = out.filePath(QString("TestReport_20260304_0506.txt"));
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(finished.at(0).at(1).toString(), QString("Test report saved successfully:\n") + name);
        QFile file(name);
        QCOMPARE(int(file.permissions()), 0x6600); // owner only
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList report = QString::fromUtf8(file.readAll()).split('\n');
        QCOMPARE(report.size(), 27);
        QCOMPARE(report.at(18), " RFID             " + QString("ERROR").rightJustified(35));
        // Logged one entry per line, the device's own text escaped.
        QVERIFY(log.contains("[Diagnostics]  RFID             " + QString("ERROR").rightJustified(35)));
        QVERIFY(log.contains("[Diagnostics] name=FTDI deviceId=0403:6015 expected=0403:6015 product=FT\\x1b[2K\\n"
                             "[   1.000] [Terminal] x"));
        const QStringList unsafe = log.unsafeLines();
        QVERIFY2(unsafe.isEmpty(), qPrintable(unsafe.value(0)));

        // The QR summary, read back by a real decoder.
        const QString url = diag.generateQr();
        QVERIFY(url.startsWith(QString("data:image/svg,")));
        QVERIFY(!url.contains('#'));
        const QString svg = QUrl::fromPercentEncoding(url.mid(15).toLatin1());
        writeFile(out.filePath("qr.svg"), svg.toUtf8());
        QCOMPARE(
            run("rsvg-convert", { "-w", "600", "-h", "600", "-o", out.filePath("qr.png"), out.filePath("qr.svg") }),
            QByteArray());
        QCOMPARE(QString::fromUtf8(run("zbarimg", { "--quiet", "--raw", out.filePath("qr.png") })).trimmed(),
            QString("SN-0042;2026-03-04 05:06;1.2.3;0.0.1-1-g1045188;;;;OK;OK;OK;ERROR;OK;MISSING;MISSING;OK;OK;"
                    "ERROR;OK;;ERROR;;;a value longer than the thirty-five character field"));

        // A report that cannot be completed leaves no file and says so.
        diag.setReportDir(out.filePath("missing"));
        diag.saveReport();
        QVERIFY(!finished.at(1).at(0).toBool());
        QVERIFY(finished.at(1).at(1).toString().startsWith(QString("Could not save Test Report\nERROR: ")));
        QCOMPARE(log.startingWith(QString("[Diagnostics] ERROR: Could not save file : ")).size(), 1);
        // The name taken by a folder: written, but not renamed into place.
        diag.setReportDir(out.path());
        QVERIFY(QFile::remove(name));
        QVERIFY(QDir().mkpath(name));
        diag.saveReport();
        QVERIFY(!finished.at(2).at(0).toBool());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({ "qr.png", "qr.svg" }));
    }
};

QTEST_GUILESS_MAIN(tst_ShellParts)
#include "tst_ShellParts.moc"

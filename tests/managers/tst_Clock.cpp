// The clock through a scripted command runner (outputs of both timedatectl
// layouts, failures, call order), and once end to end with real processes on a
// temporary copy of the time-sync configuration, with the stand-ins for timedatectl
// and systemctl under tools/timesim: no test reaches the machine's real time services.

#include "Clock.h"
#include "CommandRunner.h"
#include "LogCapture.h"
#include "TimeStandIns.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using manager::Clock;
using Result = CommandRunner::Result;

namespace {

const QString Conf = "/conf/timesyncd.conf";
const QByteArray NewLayout = "                Time zone: Etc/UTC (UTC, +0000)\n"
                             "System clock synchronized: yes\n"
                             "              NTP service: %1\n"
                             "          RTC in local TZ: no\n";
const QByteArray OldLayout = "                       Time zone: Asia/Tashkent (+05, +0500)\n"
                             "       System clock synchronized: no\n"
                             "systemd-timesyncd.service active: %1\n";

Result finished(const QByteArray& output, int exitCode = 0)
{
    return { Result::Finished, exitCode, 0, output };
}

QByteArray with(QByteArray layout, const char* value)
{
    return layout.replace("%1", value);
}

// Answers each command line from a table (default: success without output) and records the calls.
class FakeRunner : public CommandRunner
{
public:
    QHash<QString, Result> results;
    QStringList calls;
    std::function<void(const QStringList&)> onCall;

    Result run(const QString& program, const QStringList& arguments, int msec) override
    {
        calls << (QStringList { program } + arguments).join(' ') + (msec == 1000 ? "" : " (wrong limit)");
        if (onCall)
            onCall(arguments);
        return results.value(calls.last(), finished(""));
    }
};

// The real runner, with stand-ins for the programs that would touch the machine's time.
class StandInRunner : public CommandRunner
{
public:
    QString dir;
    QStringList refused;

    Result run(const QString& program, const QStringList& arguments, int msec) override
    {
        if (program == "timedatectl" || program == "systemctl")
            return CommandRunner::run(dir + "/" + program, arguments, msec);
        if (!QStringList({ "cat", "cp", "sed", "/bin/sync" }).contains(program)) {
            refused << program;
            return Result {};
        }
        return CommandRunner::run(program, arguments, msec);
    }
};

} // namespace

class TestClock : public QObject
{
    Q_OBJECT

private slots:
    void scripted();
    void serverChange();
    void endToEnd();
};

void TestClock::scripted()
{
    FakeRunner runner;
    runner.results["timedatectl --no-pager list-timezones"] = finished("Asia/Tashkent\nEtc/UTC\n-h\n");
    runner.results["timedatectl status"] = finished(with(NewLayout, "active"));
    runner.results["cat " + Conf] = finished("[Time]\n#NTP=\n#FallbackNTP=0.pool.ntp.org 1.pool.ntp.org\n");
    Clock clock(runner, Conf);
    QCOMPARE(
        runner.calls, QStringList({ "timedatectl --no-pager list-timezones", "timedatectl status", "cat " + Conf }));
    QCOMPARE(clock.timezones(), QStringList({ "Asia/Tashkent", "Etc/UTC", "-h", "" }));
    QCOMPARE(clock.timezone(), QString("Etc/UTC"));
    QCOMPARE(clock.ntpServer(), QString("0.pool.ntp.org 1.pool.ntp.org"));
    QVERIFY(clock.ntpSynced() && clock.ntpEnabled());

    // "NTP service: active" counts as on, so NTP can be switched off.
    runner.calls.clear();
    runner.results["timedatectl status"] = finished(with(NewLayout, "inactive"));
    clock.setNtpEnabled(false);
    QCOMPARE(runner.calls, QStringList({ "timedatectl set-ntp false", "timedatectl status" }));
    QVERIFY(!clock.ntpEnabled());
    for (const auto& [layout, value, on] :
        QList<std::tuple<QByteArray, const char*, bool>> { { NewLayout, "n/a", false }, { NewLayout, "active", true },
            { NewLayout, "activeX", false }, { OldLayout, "yes", true }, { OldLayout, "no", false } })
        QCOMPARE(Clock::parseNtpEnabled(with(layout, value)), on);

    // Failed commands are logged and change nothing.
    LogCapture log;
    QSignalSpy timezone(&clock, &Clock::timezoneChanged);
    const QList<Result> failures { { Result::TimedOut, -1, 2, "" }, { Result::Crashed, -1, 1, "" },
        { Result::FailedToStart, -1, 0, "" }, finished(with(OldLayout, "no"), 3) };
    for (const Result& failure : failures) {
        runner.results["timedatectl status"] = failure;
        clock.refresh();
    }
    QCOMPARE(log.texts(QtCriticalMsg).size(), 4);
    QCOMPARE(timezone.count(), 0);

    // Only a listed zone that cannot pass for an option reaches timedatectl.
    log.clear();
    runner.calls.clear();
    for (const char* zone : { "Mars/Olympus", "", "-h", "Etc/UTC" })
        clock.setTimezone(zone);
    QCOMPARE(runner.calls, QStringList());
    QCOMPARE(log.texts(QtCriticalMsg).size(), 3);
    runner.results["timedatectl status"] = finished(with(OldLayout, "yes"));
    clock.setTimezone("Asia/Tashkent");
    QCOMPARE(runner.calls, QStringList({ "timedatectl set-timezone Asia/Tashkent", "timedatectl status" }));
    QVERIFY(clock.timezone() == "Asia/Tashkent" && !clock.ntpSynced() && clock.ntpEnabled());
    QCOMPARE(timezone.count(), 1);

    // A list that could not be read at start is read again, by the next refresh or a zone choice.
    runner.results["timedatectl --no-pager list-timezones"] = finished("", 1);
    Clock late(runner, Conf);
    runner.calls.clear();
    late.refresh();
    QCOMPARE(runner.calls.value(0), QString("timedatectl --no-pager list-timezones"));
    QSignalSpy listed(&late, &Clock::timezonesChanged);
    runner.results["timedatectl --no-pager list-timezones"] = finished("Asia/Tashkent\nEtc/UTC");
    runner.calls.clear();
    late.setTimezone("Etc/UTC");
    QCOMPARE(runner.calls.mid(0, 2),
        QStringList({ "timedatectl --no-pager list-timezones", "timedatectl set-timezone Etc/UTC" }));
    QCOMPARE(late.timezones(), QStringList({ "Asia/Tashkent", "Etc/UTC" }));
    QCOMPARE(listed.count(), 1);
}

void TestClock::serverChange()
{
    FakeRunner runner;
    Clock clock(runner, Conf);
    LogCapture log;

    // Nothing that could act as sed commands or options gets into the script.
    for (const QString& server : { QString("x/e touch /tmp/owned/"), QString("a;b"), QString("a  b"), QString("a\nb"),
             QString("a\n"), QString(" a"), QString("a&b"), QString(256, 'a') })
        clock.setNtpServer(server);
    QCOMPARE(runner.calls.size(), 3);
    QCOMPARE(log.startingWith("[Clock] ERROR: Invalid NTP server").size(), 8);

    // A private working copy, replaced only when every step before succeeded.
    QString copy;
    runner.onCall = [&copy](const QStringList& arguments) {
        if (arguments.value(0) == "-f" && arguments.value(1) == Conf) {
            copy = arguments.value(2);
            QVERIFY(QFileInfo(QFileInfo(copy).path()).permissions()
                == (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser
                    | QFile::ExeUser));
        }
    };
    runner.calls.clear();
    clock.setNtpServer("ntp1.example.org 127.0.0.1 ::1");
    QVERIFY(!copy.isEmpty() && copy != "/tmp/timesyncd.conf");
    QCOMPARE(runner.calls,
        QStringList({ "cp -f " + Conf + " " + copy, "sed -i -E s/^#?NTP=.*/NTP=ntp1.example.org 127.0.0.1 ::1/ " + copy,
            "cp -f " + copy + " " + Conf, "/bin/sync", "systemctl restart systemd-timesyncd", "cat " + Conf }));
    QVERIFY(!QFileInfo::exists(QFileInfo(copy).path()));

    for (int failing : { 0, 1 }) {
        runner.calls.clear();
        runner.onCall = [&runner, failing](const QStringList&) {
            if (runner.calls.size() == failing + 1)
                runner.results[runner.calls.last()] = finished("", 1);
        };
        clock.setNtpServer(QString("ntp%1.example.org").arg(failing));
        QCOMPARE(runner.calls.size(), failing + 2);
        QCOMPARE(runner.calls.last(), "cat " + Conf);
    }
    QCOMPARE(log.count("[Clock] ERROR: NTP server not changed"), 2);
}

void TestClock::endToEnd()
{
    QTemporaryDir dir;
    const QString conf = dir.filePath("timesyncd.conf");
    QFile file(conf);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Time]\n#NTP=\n#FallbackNTP=0.debian.pool.ntp.org\n") > 0);
    file.close();
    qputenv("LANE_TIME_DIR", QFile::encodeName(dir.path()));

    StandInRunner runner;
    runner.dir = testsupport::timeStandInDir();
    Clock clock(runner, conf);
    QCOMPARE(clock.timezones(), QStringList({ "Etc/UTC", "Europe/Athens", "Europe/Berlin", "" }));
    QVERIFY(clock.ntpEnabled() && clock.ntpSynced());
    QCOMPARE(clock.timezone(), QString("Etc/UTC"));
    QCOMPARE(clock.ntpServer(), QString("0.debian.pool.ntp.org"));

    clock.setNtpServer("ntp.example.org 127.0.0.1");
    QCOMPARE(clock.ntpServer(), QString("ntp.example.org 127.0.0.1"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[Time]\nNTP=ntp.example.org 127.0.0.1\n#FallbackNTP=0.debian.pool.ntp.org\n"));
    clock.setTimezone("Europe/Athens");
    clock.setNtpEnabled(false);
    QVERIFY(clock.timezone() == "Europe/Athens" && !clock.ntpEnabled());
    QFile calls(dir.filePath("calls"));
    QVERIFY(calls.open(QIODevice::ReadOnly));
    QCOMPARE(calls.readAll(),
        QByteArray("--no-pager list-timezones\nstatus\nrestart systemd-timesyncd\nset-timezone Europe/Athens\nstatus\n"
                   "set-ntp false\nstatus\n"));
    QCOMPARE(runner.refused, QStringList());
}

QTEST_GUILESS_MAIN(TestClock)
#include "tst_Clock.moc"

#include "LogClock.h"
#include "Logger.h"
#include "PeerText.h"
#include "SyslogSink.h"
#include "ValueUpdate.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <utility>

using manager::Logger;

namespace {

Q_LOGGING_CATEGORY(laneTest, "lane.test")
Q_LOGGING_CATEGORY(qtLaneTest, "qt.lane.test")

const char* const kChildVar = "LANE_LOGGER_CHILD";

class FakeClock : public manager::LogClock
{
public:
    double millis() const override { return m_now.load(); }
    void set(double ms) { m_now.store(ms); }

private:
    std::atomic<double> m_now { 0 };
};

// Writes each syslog line to standard output as "priority|line", for the parent to read.
class EchoSink : public manager::SyslogSink
{
public:
    void write(int priority, const QByteArray& line) override { std::printf("%d|%s\n", priority, line.constData()); }
};

// Raises a message of its own while the logger holds its lock.
class NestingSink : public manager::SyslogSink
{
public:
    void write(int, const QByteArray&) override
    {
        if (!std::exchange(m_done, true))
            qWarning().noquote() << "[Test] from sink";
    }

private:
    bool m_done = false;
};

// Counts the lines and every time two writes overlap.
class OverlapSink : public manager::SyslogSink
{
public:
    void write(int, const QByteArray&) override
    {
        if (m_inside.fetch_add(1) != 0)
            ++m_overlaps;
        for (int i = 0; i < 50; ++i)
            std::this_thread::yield(); // a write that takes a while, as a real one may
        ++m_lines;
        m_inside.fetch_sub(1);
    }
    std::atomic<int> m_inside { 0 }, m_overlaps { 0 }, m_lines { 0 };
};

// critical, warning, info, debug as bits 8, 4, 2, 1
int enabledBits(const QLoggingCategory& c)
{
    return c.isCriticalEnabled() * 8 + c.isWarningEnabled() * 4 + c.isInfoEnabled() * 2 + c.isDebugEnabled();
}

// ---- child process scenarios ------------------------------------------------------

// Standard error on; syslog on only with a sink given.
FakeClock* childSetup(double elapsedMs, std::unique_ptr<manager::SyslogSink> sink = nullptr)
{
    Logger::instance()->setSyslog(sink != nullptr);
    Logger::instance()->setSyslogSink(std::move(sink));
    Logger::instance()->setStderr(true);
    auto clock = std::make_unique<FakeClock>(); // a new clock restarts the elapsed time
    FakeClock* raw = clock.get();
    Logger::instance()->setClock(std::move(clock));
    raw->set(elapsedMs);
    return raw;
}

void emitAll(const QString& tag)
{
    qDebug().noquote() << tag + " debug";
    qInfo().noquote() << tag + " info";
    qCritical().noquote() << tag + " critical";
    qCDebug(qtLaneTest).noquote() << tag + " qt debug";
    qCWarning(laneTest).noquote() << tag + " category warning";
}

QLoggingCategory::CategoryFilter g_previousFilter = nullptr;
std::atomic<bool> g_filterArmed { false };

// Called by the toolkit for every category while the logger sets new rules under its lock.
void nestingFilter(QLoggingCategory* category)
{
    if (g_previousFilter)
        g_previousFilter(category);
    if (std::strcmp(category->categoryName(), "lane.test") == 0 && g_filterArmed.exchange(false))
        qWarning().noquote() << "[Test] nested warning";
}

int childFormat()
{
    FakeClock* clock = childSetup(1250, std::make_unique<EchoSink>());
    Logger::instance()->setLevel(4);
    emitAll(QStringLiteral("plain"));
    Logger::instance()->setColor(true);
    clock->set(2000);
    emitAll(QStringLiteral("color"));
    Logger::instance()->setColor(false);
    clock->set(123456789.0);
    qInfo().noquote() << "100%s %n %d done";
    Logger::instance()->setStderr(false);
    qCritical().noquote() << "not on standard error";
    // Raised under the lock (by the toolkit inside a setter): still to the sinks that are on.
    g_previousFilter = QLoggingCategory::installFilter(nestingFilter);
    g_filterArmed = true;
    Logger::instance()->setLevel(3);
    Logger::instance()->setSyslog(false);
    qCritical().noquote() << "nowhere";
    return g_filterArmed ? 1 : 0;
}

int childNested()
{
    childSetup(750);
    Logger::instance()->setColor(true);
    // Both created first: the filter runs under the toolkit's registry lock, where
    // creating a category would block on the toolkit's own lock.
    QLoggingCategory::defaultCategory();
    (void)laneTest();
    g_previousFilter = QLoggingCategory::installFilter(nestingFilter);
    g_filterArmed = true;
    Logger::instance()->setLevel(3);
    qWarning().noquote() << "[Test] after";
    Logger::instance()->setColor(false);
    Logger::instance()->setSyslogSink(std::make_unique<NestingSink>());
    Logger::instance()->setSyslog(true);
    qInfo().noquote() << "[Test] outer";
    qInfo().noquote() << "[Test] second";
    return g_filterArmed ? 1 : 0;
}

int childRealSyslog()
{
    childSetup(250);
    Logger::instance()->setStderr(false);
    Logger::instance()->setSyslog(true);
    qInfo().noquote() << "[Test] 100%s %n %% done";
    qCritical().noquote() << "[Test] ERROR: critical line";
    return 0;
}

// Two threads log at once: each line is written whole, one at a time, and none is lost.
int childThreads()
{
    auto sink = std::make_unique<OverlapSink>();
    OverlapSink* raw = sink.get();
    childSetup(500, std::move(sink));
    const auto lines = [](char tag) {
        for (int i = 0; i < 2000; ++i)
            qInfo("%c%04d %s", tag, i, QByteArray(100, tag).constData());
    };
    std::thread a(lines, 'a');
    std::thread b(lines, 'b');
    a.join();
    b.join();
    std::printf("%d overlaps, %d lines\n", raw->m_overlaps.load(), raw->m_lines.load());
    return 0;
}

int childMain(const QByteArray& scenario)
{
    const QMap<QByteArray, int (*)()> children { { "format", childFormat }, { "nested", childNested },
        { "real-syslog", childRealSyslog }, { "threads", childThreads } };
    return children.value(scenario, [] { return 2; })();
}

// ---- parent side ------------------------------------------------------------------

QByteArrayList lines(const QByteArray& text)
{
    QByteArrayList out = text.split('\n');
    if (out.last().isEmpty())
        out.removeLast();
    return out;
}

struct ChildRun
{
    bool finished;
    int code;
    QByteArrayList out, err;
};

ChildRun runChild(const QByteArray& scenario, const QString& program = QString(), const QStringList& args = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVar), QString::fromLatin1(scenario));
    env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    process.setProcessEnvironment(env);
    process.start(program.isEmpty() ? QCoreApplication::applicationFilePath() : program, args);
    // A deadlocked child never finishes: the deadline is the failure (and QProcess kills it).
    return { process.waitForFinished(60000), process.exitCode(), lines(process.readAllStandardOutput()),
        lines(process.readAllStandardError()) };
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private slots:
    void levelsSelectFilterRules()
    {
        QVERIFY2(qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"), "QT_LOGGING_RULES would override the levels");
        Logger* log = Logger::instance();
        const QLoggingCategory& def = *QLoggingCategory::defaultCategory();
        // Defaults: syslog on, stderr off, info level.
        QVERIFY(log->getSyslog() && !log->getStderr());
        QCOMPARE(enabledBits(def), 14);

        // Per level: the default category, "lane.test" and the toolkit's "qt.lane.test".
        QList<int> got;
        for (int level = 0; level <= 4; ++level) {
            log->setLevel(level);
            got << enabledBits(def) << enabledBits(laneTest()) << enabledBits(qtLaneTest());
        }
        QCOMPARE(got, QList<int>({ 8, 8, 0, 12, 12, 0, 14, 14, 0, 15, 15, 0, 15, 15, 15 }));
        log->setLevel(5); // any other integer selects info
        QCOMPARE(enabledBits(def), 14);
    }

    void elapsedCountsOnMonotonicClock()
    {
        // The real clock reads CLOCK_MONOTONIC, not the settable wall clock.
        const auto monotonicMs = [] {
            timespec ts {};
            clock_gettime(CLOCK_MONOTONIC, &ts);
            return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
        };
        manager::LogClock real;
        const double before = monotonicMs();
        const double now = real.millis();
        QVERIFY2(before <= now && now <= monotonicMs(), qPrintable(QString::number(now, 'f', 3)));
    }

    void linesPlainAndInColour()
    {
        const ChildRun run = runChild("format");
        QVERIFY(run.finished);
        QCOMPARE(run.code, 0);
        // Which lines pass at each level is the filter rules' business (see above).
        QCOMPARE(run.err,
            QByteArrayList({ "[    1.250] plain debug", "[    1.250] plain info", "[    1.250] plain critical",
                "[    1.250] plain qt debug", "[    1.250] plain category warning",
                "[    2.000] \033[35mcolor debug\033[39m", "[    2.000] color info",
                "[    2.000] \033[31mcolor critical\033[39m",
                "[    2.000] [qt.lane.test] \033[35mcolor qt debug\033[39m",
                "[    2.000] [lane.test] \033[33mcolor category warning\033[39m", "[123456.789] 100%s %n %d done" }));
        // Syslog gets the same lines (with the same colour codes) at priorities debug 7, info 6, warning 4,
        // critical 2, tagged by level.
        QCOMPARE(run.out,
            QByteArrayList({ "7|[    1.250] [debug] plain debug", "6|[    1.250] plain info",
                "2|[    1.250] [error] plain critical", "7|[    1.250] [debug] plain qt debug",
                "4|[    1.250] [warning] plain category warning", "7|[    2.000] [debug] \033[35mcolor debug\033[39m",
                "6|[    2.000] color info", "2|[    2.000] [error] \033[31mcolor critical\033[39m",
                "7|[    2.000] [debug] [qt.lane.test] \033[35mcolor qt debug\033[39m",
                "4|[    2.000] [warning] [lane.test] \033[33mcolor category warning\033[39m",
                "6|[123456.789] 100%s %n %d done", "2|[123456.789] [error] not on standard error",
                "4|[123456.789] [warning] [Test] nested warning" }));
    }

    // A message raised under the logger's lock, by the toolkit inside a setter or by a
    // sink, goes out plainly (no pattern, so no colour) instead of deadlocking.
    void nestedMessagesDoNotDeadlock()
    {
        const ChildRun run = runChild("nested");
        QVERIFY2(run.finished, "the child hung: a message raised under the logger's lock deadlocked");
        QCOMPARE(run.code, 0);
        // The sink's message may come from the toolkit's own re-entry fallback, without our prefix.
        QByteArrayList err = run.err;
        QVERIFY2(err.size() == 5 && err.takeAt(2).endsWith("[Test] from sink"), run.err.join('\n').constData());
        QCOMPARE(err,
            QByteArrayList({ "[    0.750] [Test] nested warning", "[    0.750] \033[33m[Test] after\033[39m",
                "[    0.750] [Test] outer", "[    0.750] [Test] second" }));
    }

    void threadsDoNotInterleave()
    {
        const ChildRun run = runChild("threads");
        QVERIFY(run.finished);
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out, QByteArrayList { "0 overlaps, 4000 lines" });
        QCOMPARE(run.err.size(), 4000);
        const QRegularExpression whole(QStringLiteral("^\\[    0\\.500\\] ([ab])\\d{4} \\1{100}$"));
        for (const QByteArray& line : run.err)
            QVERIFY2(whole.match(QString::fromLatin1(line)).hasMatch(), line.constData());
    }

    // Peer text in a log line: escaped, bounded, marked when cut.
    void peerTextForLog_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QString>("expected");
        const QString pair = QString::fromUtf8("\xF0\x9F\x9A\x97"); // one character in two UTF-16 units
        QTest::newRow("plain") << "ABC 1234-ü" << 1024 << "ABC 1234-ü";
        QTest::newRow("C0, DEL, C1") << QString::fromUtf8("a\nb\r\tc\x1b[31m\x7f\xc2\x9b\x01") << 1024
                                     << "a\\nb\\r\\tc\\x1b[31m\\x7f\\x9b\\x01";
        QTest::newRow("separators, overrides")
            << QString::fromUtf8("x\xe2\x80\xa8y\xe2\x80\xaez") << 1024 << "x\\u2028y\\u202ez";
        QTest::newRow("cut") << "ABCDEFGH" << 4 << "ABCD...[shortened, 8 characters in all]";
        QTest::newRow("escape not split") << "ABC\n" << 4 << "ABC...[shortened, 4 characters in all]";
        QTest::newRow("pair not split") << "ABC" + pair << 4 << "ABC...[shortened, 5 characters in all]";
    }

    void peerTextForLog()
    {
        QFETCH(QString, text);
        QFETCH(int, maxChars);
        QFETCH(QString, expected);
        QCOMPARE(PeerText::forLog(text, maxChars), expected);
        // From bytes only the part that can be shown is decoded; the marker counts bytes.
        const QByteArray utf8 = text.toUtf8();
        const QString fromBytes = PeerText::forLog(utf8, maxChars);
        QCOMPARE(fromBytes.section(QStringLiteral("...[shortened"), 0, 0),
            expected.section(QStringLiteral("...[shortened"), 0, 0));
        QCOMPARE(fromBytes.contains(QStringLiteral("...[shortened, %1 bytes in all]").arg(utf8.size())),
            expected.contains(QStringLiteral("...[shortened")));
        // The reason of a state change is shown the same way.
        QCOMPARE(stateChangeText(2, QStringLiteral("Ready"), text),
            QStringLiteral("State changed : (2) Ready (reason=%1)").arg(PeerText::forLog(text)));
    }

    // The real sink against a private /dev/log in a mount namespace of the child's own.
    void realSyslogTakesTextAsArgument()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("log")));
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        QVERIFY(size_t(path.size()) < sizeof addr.sun_path);
        std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);

        const QString script
            = QStringLiteral("mount -t tmpfs tmpfs /dev && ln -s \"$1\" /dev/log || exit 97; exec \"$0\"");
        const ChildRun run = runChild("real-syslog", "unshare",
            { "--mount", "--propagation", "private", "sh", "-c", script, QCoreApplication::applicationFilePath(),
                QFile::decodeName(path) });
        // Each datagram without its time stamp and trailing newline or NUL.
        const QRegularExpression noise(
            QStringLiteral("^(<\\d+>)[A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d |[\\n\\0]+$"));
        QStringList got;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) >= 0;)
            got << QString::fromUtf8(buffer, int(n)).replace(noise, QStringLiteral("\\1"));
        ::close(fd);
        if (run.code == 97 || run.err.join().contains("unshare:"))
            QSKIP("no private mount namespace here (needs root)");
        QVERIFY(run.finished);
        QCOMPARE(run.code, 0);
        // Default identity (program name) and facility (user: 8): info 8+6, critical 8+2.
        QCOMPARE(got,
            QStringList({ "<14>tst_Logger: [    0.250] [Test] 100%s %n %% done",
                "<10>tst_Logger: [    0.250] [error] [Test] ERROR: critical line" }));
    }
};

int main(int argc, char** argv)
{
    const QByteArray scenario = qgetenv(kChildVar);
    QCoreApplication app(argc, argv);
    if (!scenario.isEmpty())
        return childMain(scenario);
    TestLogger test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Logger.moc"

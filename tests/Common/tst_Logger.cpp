#include "LogClock.h"
#include "Logger.h"
#include "SyslogSink.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

using manager::Logger;

namespace {

Q_LOGGING_CATEGORY(laneTest, "lane.test")
Q_LOGGING_CATEGORY(qtLaneTest, "qt.lane.test")

const char* const kChildVar = "LANE_LOGGER_CHILD";

class FakeClock : public manager::LogClock
{
public:
    explicit FakeClock(double ms)
        : m_now(ms)
    {
    }
    double millis() const override { return m_now.load(); }
    void set(double ms) { m_now.store(ms); }

private:
    std::atomic<double> m_now;
};

struct SyslogEntry
{
    int priority;
    QByteArray line;
    bool operator==(const SyslogEntry& o) const { return priority == o.priority && line == o.line; }
};

char* toString(const SyslogEntry& e)
{
    return QTest::toString(QByteArray::number(e.priority) + " " + e.line);
}

// Records each syslog line; notices when two writes overlap in time.
class CaptureSink : public manager::SyslogSink
{
public:
    void write(int priority, const QByteArray& line) override
    {
        if (m_busy.exchange(true))
            ++m_overlaps;
        QThread::yieldCurrentThread();
        {
            QMutexLocker lock(&m_mutex);
            m_entries.append({ priority, line });
        }
        m_busy.store(false);
    }
    QList<SyslogEntry> take()
    {
        QMutexLocker lock(&m_mutex);
        QList<SyslogEntry> out;
        out.swap(m_entries);
        return out;
    }
    int overlaps() const { return m_overlaps.load(); }

private:
    QMutex m_mutex;
    QList<SyslogEntry> m_entries;
    std::atomic<bool> m_busy { false };
    std::atomic<int> m_overlaps { 0 };
};

// In a child process: syslog lines go to standard output as "priority|line".
class StdoutSink : public manager::SyslogSink
{
public:
    void write(int priority, const QByteArray& line) override
    {
        std::printf("%d|%s\n", priority, line.constData());
        std::fflush(stdout);
    }
};

// A sink that itself raises a message while the logger holds its lock.
class NestingSink : public manager::SyslogSink
{
public:
    void write(int, const QByteArray&) override
    {
        if (!m_done) {
            m_done = true;
            qWarning().noquote() << "[Test] from sink";
        }
    }

private:
    bool m_done = false;
};

// ---- child process scenarios ------------------------------------------------------

FakeClock* childSetup(double startMs)
{
    Logger* log = Logger::instance();
    auto clock = std::make_unique<FakeClock>(startMs);
    FakeClock* raw = clock.get();
    log->setClock(std::move(clock));
    log->setSyslog(false);
    log->setStderr(true);
    return raw;
}

void emitAll(const QString& tag)
{
    qDebug().noquote() << tag + " debug";
    qInfo().noquote() << tag + " info";
    qWarning().noquote() << tag + " warning";
    qCritical().noquote() << tag + " critical";
    qCDebug(qtLaneTest).noquote() << tag + " qt debug";
    qCCritical(qtLaneTest).noquote() << tag + " qt critical";
    qCWarning(laneTest).noquote() << tag + " category warning";
}

int childFormat()
{
    FakeClock* clock = childSetup(5000);
    Logger* log = Logger::instance();
    clock->set(6250);
    for (int level = 0; level <= 4; ++level) {
        log->setLevel(level);
        emitAll(QStringLiteral("L%1").arg(level));
    }
    log->setColor(true);
    clock->set(7000);
    emitAll(QStringLiteral("color"));
    log->setColor(false);
    clock->set(5000 + 123456789.0);
    qInfo().noquote() << "100%s %n %d done";
    return 0;
}

void childFatal()
{
    FakeClock* clock = childSetup(1000);
    Logger::instance()->setSyslogSink(std::make_unique<StdoutSink>());
    Logger::instance()->setSyslog(true);
    clock->set(1500);
    qInfo("[Test] before");
    qFatal("[Test] fatal %d", 42);
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

int childNestedSetter()
{
    FakeClock* clock = childSetup(0);
    Logger::instance()->setColor(true);
    clock->set(750);
    // Both created first: the filter runs under the toolkit's registry lock, where
    // creating a category would block on the toolkit's own lock.
    QLoggingCategory::defaultCategory();
    (void)laneTest();
    g_previousFilter = QLoggingCategory::installFilter(nestingFilter);
    g_filterArmed = true;
    Logger::instance()->setLevel(3);
    qWarning().noquote() << "[Test] after";
    return g_filterArmed ? 1 : 0;
}

int childNestedSink()
{
    FakeClock* clock = childSetup(0);
    clock->set(250);
    Logger::instance()->setSyslogSink(std::make_unique<NestingSink>());
    Logger::instance()->setSyslog(true);
    qInfo().noquote() << "[Test] outer";
    qInfo().noquote() << "[Test] second";
    return 0;
}

const int kThreads = 8;
const int kPerThread = 200;

int childThreads()
{
    childSetup(0);
    const QString payload(400, QLatin1Char('x'));
    QList<QThread*> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads << QThread::create([t, payload] {
            for (int i = 0; i < kPerThread; ++i)
                qInfo().noquote().nospace() << "[Test] thread " << t << " message " << i << " " << payload;
        });
    }
    for (QThread* thread : threads)
        thread->start();
    for (QThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    return 0;
}

int childRealSyslog()
{
    FakeClock* clock = childSetup(0);
    Logger::instance()->setStderr(false);
    Logger::instance()->setSyslog(true);
    clock->set(250);
    qInfo().noquote() << "[Test] 100%s %n %% done";
    qCritical().noquote() << "[Test] ERROR: critical line";
    return 0;
}

int childMain(const QByteArray& scenario)
{
    if (scenario == "format")
        return childFormat();
    if (scenario == "fatal")
        childFatal();
    if (scenario == "nested-setter")
        return childNestedSetter();
    if (scenario == "nested-sink")
        return childNestedSink();
    if (scenario == "threads")
        return childThreads();
    if (scenario == "real-syslog")
        return childRealSyslog();
    std::fprintf(stderr, "unknown scenario %s\n", scenario.constData());
    return 2;
}

// ---- parent side ------------------------------------------------------------------

struct ChildRun
{
    bool finished = false;
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1;
    QByteArray out;
    QByteArray err;
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
    ChildRun run;
    // A deadlocked child never finishes: the deadline is the failure.
    run.finished = process.waitForStarted(10000) && process.waitForFinished(60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.status = process.exitStatus();
    run.code = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QList<QByteArray> lines(const QByteArray& text)
{
    QList<QByteArray> out = text.split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

struct Enabled
{
    bool critical, warning, info, debug;
};

Enabled enabledOf(const QLoggingCategory& category)
{
    return { category.isCriticalEnabled(), category.isWarningEnabled(), category.isInfoEnabled(),
        category.isDebugEnabled() };
}

double monotonicMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

class TestLogger : public QObject
{
    Q_OBJECT

private:
    CaptureSink* m_sink = nullptr;
    FakeClock* m_clock = nullptr;

    void freshSinkAndClock(double startMs)
    {
        auto sink = std::make_unique<CaptureSink>();
        m_sink = sink.get();
        Logger::instance()->setSyslogSink(std::move(sink));
        auto clock = std::make_unique<FakeClock>(startMs);
        m_clock = clock.get();
        Logger::instance()->setClock(std::move(clock));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"), "QT_LOGGING_RULES would override the levels");
        Logger* log = Logger::instance();
        QCOMPARE(Logger::instance(), log);
        // The defaults: syslog on, stderr off, info level.
        QVERIFY(log->getSyslog());
        QVERIFY(!log->getStderr());
        QVERIFY(QLoggingCategory::defaultCategory()->isInfoEnabled());
        QVERIFY(!QLoggingCategory::defaultCategory()->isDebugEnabled());
        freshSinkAndClock(0);
    }

    void levelsSelectFilterRules()
    {
        Logger* log = Logger::instance();
        const QLoggingCategory& def = *QLoggingCategory::defaultCategory();
        // {critical, warning, info, debug} of the default, "lane.test" and "qt.lane.test" per level.
        const QVector<Enabled> expected = {
            { true, false, false, false },
            { true, true, false, false },
            { true, true, true, false },
            { true, true, true, true },
            { true, true, true, true },
        };
        for (int level = 0; level <= 4; ++level) {
            log->setLevel(level);
            for (const QLoggingCategory* cat : { &def, &laneTest(), &qtLaneTest() }) {
                const bool toolkit = cat == &qtLaneTest();
                Enabled want = expected[level];
                if (toolkit && level < 4)
                    want = { false, false, false, false };
                const Enabled got = enabledOf(*cat);
                const QByteArray where = QByteArray("level ") + QByteArray::number(level) + " " + cat->categoryName();
                QVERIFY2(got.critical == want.critical && got.warning == want.warning && got.info == want.info
                        && got.debug == want.debug,
                    where.constData());
            }
        }

        // 2, 7 and -1 through the integer form all give level 2; so do 5 and large values.
        for (int level : { 0, 2, 7, -1, 5, 1000 }) {
            log->setLevel(0);
            log->setLevel(level);
            const bool isZero = level == 0;
            QCOMPARE(def.isInfoEnabled(), !isZero);
            QCOMPARE(def.isWarningEnabled(), !isZero);
            QVERIFY(!def.isDebugEnabled());
        }

        // The enum form with a value out of range leaves the rules alone.
        log->setLevel(Logger::Warnings);
        log->setLevel(static_cast<Logger::Level>(5));
        QVERIFY(def.isWarningEnabled());
        QVERIFY(!def.isInfoEnabled());

        // At level 0 a critical passes, a warning does not, and a toolkit critical does not.
        freshSinkAndClock(0);
        log->setLevel(0);
        qWarning().noquote() << "[Test] dropped warning";
        qCritical().noquote() << "[Test] ERROR: kept";
        qCCritical(qtLaneTest).noquote() << "[Test] dropped toolkit critical";
        QCOMPARE(m_sink->take(), QList<SyslogEntry>({ { LOG_CRIT, "[    0.000] [error] [Test] ERROR: kept" } }));
        log->setLevel(2);
    }

    void syslogLinesAndPriorities()
    {
        Logger* log = Logger::instance();
        freshSinkAndClock(10000);
        log->setLevel(4);
        m_clock->set(11250);
        qDebug().noquote() << "[Test] debug";
        qInfo().noquote() << "[Test] info";
        qWarning().noquote() << "[Test] WARN: warning";
        qCritical().noquote() << "[Test] ERROR: critical";
        // A message full of format directives arrives as it is.
        qInfo().noquote() << "[Test] 100%s %n %d%%";
        qCDebug(qtLaneTest).noquote() << "toolkit debug";
        m_clock->set(10000 + 99999999.0);
        qInfo().noquote() << "wide";
        m_clock->set(10000 + 100000000.0);
        qInfo().noquote() << "wider";
        QCOMPARE(m_sink->take(),
            QList<SyslogEntry>({
                { LOG_DEBUG, "[    1.250] [debug] [Test] debug" },
                { LOG_INFO, "[    1.250] [Test] info" },
                { LOG_WARNING, "[    1.250] [warning] [Test] WARN: warning" },
                { LOG_CRIT, "[    1.250] [error] [Test] ERROR: critical" },
                { LOG_INFO, "[    1.250] [Test] 100%s %n %d%%" },
                { LOG_DEBUG, "[    1.250] [debug] toolkit debug" },
                { LOG_INFO, "[99999.999] wide" },
                { LOG_INFO, "[100000.000] wider" },
            }));

        // With colour on, syslog gets the same escape codes as standard error.
        log->setColor(true);
        m_clock->set(12000);
        qInfo().noquote() << "plain";
        qWarning().noquote() << "yellow";
        qDebug().noquote() << "magenta";
        qCritical().noquote() << "red";
        qCWarning(laneTest).noquote() << "named";
        log->setColor(false);
        QCOMPARE(m_sink->take(),
            QList<SyslogEntry>({
                { LOG_INFO, "[    2.000] plain" },
                { LOG_WARNING, "[    2.000] [warning] \033[33myellow\033[39m" },
                { LOG_DEBUG, "[    2.000] [debug] \033[35mmagenta\033[39m" },
                { LOG_CRIT, "[    2.000] [error] \033[31mred\033[39m" },
                { LOG_WARNING, "[    2.000] [warning] [lane.test] \033[33mnamed\033[39m" },
            }));

        // Syslog off drops the lines.
        log->setSyslog(false);
        QVERIFY(!log->getSyslog());
        qCritical().noquote() << "gone";
        log->setSyslog(true);
        QVERIFY(m_sink->take().isEmpty());
        log->setLevel(2);
    }

    void elapsedCountsOnMonotonicClock()
    {
        // The real clock reads CLOCK_MONOTONIC, not the settable wall clock.
        manager::LogClock real;
        const double before = monotonicMs();
        const double now = real.millis();
        const double after = monotonicMs();
        QVERIFY2(before <= now && now <= after, qPrintable(QString::number(now, 'f', 3)));

        // A new clock restarts the elapsed time at zero.
        freshSinkAndClock(987654.0);
        QCOMPARE(Logger::instance()->getStartTime(), 987654.0);
        m_clock->set(987654.0 + 42);
        qInfo().noquote() << "x";
        QCOMPARE(m_sink->take(), QList<SyslogEntry>({ { LOG_INFO, "[    0.042] x" } }));
    }

    void threadsDoNotOverlap()
    {
        freshSinkAndClock(0);
        const int threads = 6;
        const int perThread = 300;
        QList<QThread*> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t] {
                for (int i = 0; i < perThread; ++i)
                    qInfo().noquote().nospace() << "t" << t << " " << i;
            });
        }
        for (QThread* w : workers)
            w->start();
        for (QThread* w : workers) {
            QVERIFY(w->wait(60000));
            delete w;
        }
        QCOMPARE(m_sink->overlaps(), 0);
        const QList<SyslogEntry> entries = m_sink->take();
        QCOMPARE(entries.size(), threads * perThread);
        QVector<int> next(threads, 0);
        const QRegularExpression re(QStringLiteral("^\\[    0\\.000\\] t(\\d+) (\\d+)$"));
        for (const SyslogEntry& e : entries) {
            const auto m = re.match(QString::fromUtf8(e.line));
            QVERIFY2(m.hasMatch(), e.line.constData());
            const int t = m.captured(1).toInt();
            QCOMPARE(m.captured(2).toInt(), next[t]++);
        }
    }

    void stderrLinesAtEveryLevel()
    {
        const ChildRun run = runChild("format");
        QVERIFY(run.finished);
        QCOMPARE(run.code, 0);
        QList<QByteArray> want;
        for (int level = 0; level <= 4; ++level) {
            const QByteArray p = "[    1.250] L" + QByteArray::number(level);
            if (level >= 3)
                want << p + " debug";
            if (level >= 2)
                want << p + " info";
            if (level >= 1)
                want << p + " warning";
            want << p + " critical";
            if (level == 4)
                want << p + " qt debug" << p + " qt critical";
            if (level >= 1)
                want << p + " category warning";
        }
        want << "[    2.000] \033[35mcolor debug\033[39m"
             << "[    2.000] color info"
             << "[    2.000] \033[33mcolor warning\033[39m"
             << "[    2.000] \033[31mcolor critical\033[39m"
             << "[    2.000] [qt.lane.test] \033[35mcolor qt debug\033[39m"
             << "[    2.000] [qt.lane.test] \033[31mcolor qt critical\033[39m"
             << "[    2.000] [lane.test] \033[33mcolor category warning\033[39m"
             << "[123456.789] 100%s %n %d done";
        QCOMPARE(lines(run.err), want);
    }

    void fatalWritesEverySinkThenAborts()
    {
        const ChildRun run = runChild("fatal");
        QVERIFY(run.finished);
        QCOMPARE(run.status, QProcess::CrashExit);
        const QList<QByteArray> err = lines(run.err);
        QVERIFY2(err.size() >= 2, run.err.constData());
        QCOMPARE(err.at(0), QByteArray("[    0.500] [Test] before"));
        const QRegularExpression fatal(QStringLiteral("^\\[    0\\.500\\] .*childFatal at \\S*tst_Logger\\.cpp:\\d+ "
                                                      "\\(\\d+:\\d+:0x[0-9a-f]+\\) - \\[Test\\] fatal 42$"));
        QVERIFY2(fatal.match(QString::fromUtf8(err.at(1))).hasMatch(), err.at(1).constData());
        const QList<QByteArray> out = lines(run.out);
        QCOMPARE(out.size(), 2);
        QCOMPARE(out.at(0), QByteArray("6|[    0.500] [Test] before"));
        QCOMPARE(out.at(1), "3|[    0.500] [fatal] " + err.at(1).mid(12));
    }

    void nestedMessageInSetterDoesNotDeadlock()
    {
        const ChildRun run = runChild("nested-setter");
        QVERIFY2(run.finished, "the child hung: a message raised under the logger's lock deadlocked");
        QCOMPARE(run.code, 0);
        // The nested message goes out plainly (no pattern, so no colour), then logging goes on.
        QCOMPARE(lines(run.err),
            QList<QByteArray>({ "[    0.750] [Test] nested warning", "[    0.750] \033[33m[Test] after\033[39m" }));
    }

    void nestedMessageInSinkDoesNotDeadlock()
    {
        const ChildRun run = runChild("nested-sink");
        QVERIFY2(run.finished, "the child hung: a message raised inside a sink deadlocked");
        QCOMPARE(run.code, 0);
        const QList<QByteArray> err = lines(run.err);
        QCOMPARE(err.size(), 3);
        QVERIFY2(err.at(0).endsWith("[Test] from sink"), err.at(0).constData());
        QCOMPARE(err.at(1), QByteArray("[    0.250] [Test] outer"));
        QCOMPARE(err.at(2), QByteArray("[    0.250] [Test] second"));
    }

    void linesFromThreadsDoNotInterleaveOnStderr()
    {
        const ChildRun run = runChild("threads");
        QVERIFY(run.finished);
        QCOMPARE(run.code, 0);
        const QList<QByteArray> err = lines(run.err);
        QCOMPARE(err.size(), kThreads * kPerThread);
        const QRegularExpression re(
            QStringLiteral("^\\[    0\\.000\\] \\[Test\\] thread (\\d) message (\\d+) x{400}$"));
        QVector<int> next(kThreads, 0);
        for (const QByteArray& line : err) {
            const auto m = re.match(QString::fromUtf8(line));
            QVERIFY2(m.hasMatch(), line.left(120).constData());
            const int t = m.captured(1).toInt();
            QCOMPARE(m.captured(2).toInt(), next[t]++);
        }
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
        const ChildRun run = runChild("real-syslog", QStringLiteral("unshare"),
            { QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                QStringLiteral("sh"), QStringLiteral("-c"), script, QCoreApplication::applicationFilePath(),
                QFile::decodeName(path) });
        QList<QByteArray> got;
        char buffer[4096];
        while (true) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0)
                break;
            QByteArray datagram(buffer, int(n));
            while (datagram.endsWith('\0') || datagram.endsWith('\n'))
                datagram.chop(1);
            got << datagram;
        }
        ::close(fd);
        if (run.code == 97 || run.err.contains("unshare:"))
            QSKIP("no private mount namespace here (needs root)");
        QVERIFY(run.finished);
        QCOMPARE(run.code, 0);
        QCOMPARE(got.size(), 2);
        // Default identity (program name) and facility (user: 8): info 8+6, critical 8+2.
        const QString stamp = QStringLiteral("[A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d");
        const QRegularExpression info(
            "^<14>" + stamp + QStringLiteral(" tst_Logger: \\[    0\\.250\\] \\[Test\\] 100%s %n %% done$"));
        const QRegularExpression crit("^<10>" + stamp
            + QStringLiteral(" tst_Logger: \\[    0\\.250\\] \\[error\\] \\[Test\\] ERROR: critical line$"));
        QVERIFY2(info.match(QString::fromUtf8(got.at(0))).hasMatch(), got.at(0).constData());
        QVERIFY2(crit.match(QString::fromUtf8(got.at(1))).hasMatch(), got.at(1).constData());
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

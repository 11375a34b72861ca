// Start-up of the application: time from process start to the first frame of main.qml,
// and resident memory after an idle minute on the resting screen, each beside a bare
// Qt Quick window with one rectangle started the same way (this program with --bare).
// Needs mosquitto and, without $DISPLAY, Xvfb; both are started here.

#include "MosquittoBroker.h"
#include "OwnHome.h"
#include "ProgramLink.h"
#include "TimeStandIns.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char* const kMarker = "First frame shown";
int g_starts = 5;
int g_idleSec = 60;

// The baseline: one rectangle in a window, the marker on its first frame.
int bareWindow(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick 2.15\nimport QtQuick.Window 2.15\n"
                    "Window { width: 1024; height: 600; visible: true\n"
                    "  Rectangle { anchors.fill: parent; color: \"white\" } }");
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [] {
        static bool once = false;
        if (!once) {
            once = true;
            std::fprintf(stderr, "%s\n", kMarker);
        }
    });
    return app.exec();
}

class Display
{
public:
    bool start()
    {
        if (!qEnvironmentVariableIsEmpty("DISPLAY"))
            return true;
        m_xvfb.setProgram(QStringLiteral("Xvfb"));
        m_xvfb.setArguments({ "-displayfd", "1", "-screen", "0", "1024x600x24", "-nolisten", "tcp" });
        m_xvfb.start();
        if (!m_xvfb.waitForReadyRead(10000))
            return false;
        const QByteArray number = m_xvfb.readAllStandardOutput().trimmed();
        qputenv("DISPLAY", ":" + number);
        return !number.isEmpty();
    }
    ~Display()
    {
        if (m_xvfb.state() != QProcess::NotRunning) {
            m_xvfb.terminate();
            m_xvfb.waitForFinished(3000);
        }
    }

private:
    QProcess m_xvfb;
};

struct Rig
{
    Display display;
    MosquittoBroker broker;
    QTemporaryDir dir;
    QString app;
    QString config;

    bool start()
    {
        const QString built
            = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../laneterminal"));
        // Linked here: the event log it keeps beside itself stays out of the build folder.
        app = QFileInfo(built).isExecutable() ? testsupport::programIn(built, dir.path()) : QString();
        if (app.isEmpty() || !display.start() || !broker.start())
            return false;
        broker.setLogTypes({ QStringLiteral("error") });
        // The application's clock reaches stand-ins with their state here, not the machine's time services.
        testsupport::useTimeStandIns(dir.filePath(QStringLiteral("time")));
        config = dir.filePath(QStringLiteral("gui.conf"));
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write(QStringLiteral("[log]\nsyslog=false\nstderr=true\n[mqtt]\nhost=127.0.0.1\nport=%1\n")
                    .arg(broker.port())
                    .toUtf8());
        return true;
    }

    std::unique_ptr<QProcess> launch(bool bare)
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("QT_QUICK_BACKEND"));
        p->setProcessEnvironment(env);
        if (bare)
            p->start(QCoreApplication::applicationFilePath(), { QStringLiteral("--bare") });
        else
            p->start(app, { QStringLiteral("-f"), config });
        return p;
    }
};

Rig* g_rig = nullptr;

// Milliseconds from start to the marker; -1 when it never came.
double waitFirstFrame(QProcess& p, QElapsedTimer& clock)
{
    QByteArray out;
    while (clock.elapsed() < 30000) {
        if (!p.waitForReadyRead(100) && p.state() == QProcess::NotRunning)
            return -1;
        out += p.readAll();
        if (out.contains(kMarker))
            return clock.nsecsElapsed() / 1e6;
    }
    return -1;
}

void stop(QProcess& p)
{
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

long rssKib(qint64 pid, const char* field = "VmRSS:")
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

double g_startMs[2] = { 0, 0 };

void startTime(benchmark::State& state, bool bare)
{
    double total = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        auto p = g_rig->launch(bare);
        const double ms = waitFirstFrame(*p, clock);
        stop(*p);
        if (ms < 0) {
            state.SkipWithError("no first frame within 30 s");
            return;
        }
        state.SetIterationTime(ms / 1000.0);
        total += ms;
    }
    g_startMs[bare] = total / double(state.iterations());
    state.counters["first_frame_ms"] = g_startMs[bare];
}

void BM_StartApplication(benchmark::State& state)
{
    startTime(state, false);
}
void BM_StartBareWindow(benchmark::State& state)
{
    startTime(state, true);
}

// Both run side by side for the idle time, then their resident memory is read.
void BM_IdleMemory(benchmark::State& state)
{
    for (auto _ : state) {
        QElapsedTimer clock[2];
        clock[0].start();
        auto app = g_rig->launch(false);
        clock[1].start();
        auto bare = g_rig->launch(true);
        if (waitFirstFrame(*app, clock[0]) < 0 || waitFirstFrame(*bare, clock[1]) < 0) {
            state.SkipWithError("no first frame within 30 s");
            return;
        }
        QTest::qWait(g_idleSec * 1000);
        const long appRss = rssKib(app->processId());
        const long bareRss = rssKib(bare->processId());
        state.counters["app_rss_kib"] = double(appRss);
        state.counters["bare_rss_kib"] = double(bareRss);
        state.counters["app_anon_kib"] = double(rssKib(app->processId(), "RssAnon:"));
        state.counters["bare_anon_kib"] = double(rssKib(bare->processId(), "RssAnon:"));
        state.counters["rss_ratio"] = bareRss > 0 ? double(appRss) / double(bareRss) : 0;
        stop(*app);
        stop(*bare);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // The application's settings and the QML and shader caches of both programs stay in the
    // build folder, kept from run to run as the user's would be.
    testsupport::useOwnHome(QStringLiteral(LANE_BENCH_HOME));
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bare") == 0)
            return bareWindow(argc, argv);
    }
    QCoreApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--starts=", 9) == 0)
            g_starts = std::atoi(argv[i] + 9);
        else if (std::strncmp(argv[i], "--idle=", 7) == 0)
            g_idleSec = std::atoi(argv[i] + 7);
    }
    benchmark::Initialize(&argc, argv);
    Rig rig;
    if (!rig.start()) {
        std::fprintf(stderr, "bench_startup: needs build/laneterminal, mosquitto and Xvfb (or a $DISPLAY)\n");
        return 1;
    }
    g_rig = &rig;
    benchmark::RegisterBenchmark("BM_StartBareWindow", BM_StartBareWindow)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(g_starts);
    benchmark::RegisterBenchmark("BM_StartApplication", BM_StartApplication)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(g_starts);
    benchmark::RegisterBenchmark("BM_IdleMemory", BM_IdleMemory)->Unit(benchmark::kSecond)->Iterations(1);
    benchmark::RunSpecifiedBenchmarks();
    if (g_startMs[1] > 0)
        std::printf("start-up ratio application / bare window: %.2f\n", g_startMs[0] / g_startMs[1]);
    benchmark::Shutdown();
    return 0;
}

#include "CommandLine.h"
#include "GUIManager.h"
#include "LogCapture.h"
#include "MosquittoBroker.h"
#include "MqttProbe.h"
#include "ProgramLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <csignal>
#include <sys/resource.h>

// The entry point: its options and defaults, and the program with its service on a real broker.
class tst_Application : public QObject
{
    Q_OBJECT

    // Linked into a folder of the test's own: the event log it keeps beside itself goes there.
    QTemporaryDir m_programDir;
    QString program() const
    {
        return testsupport::programIn(
            qEnvironmentVariable("LANE_BINARY_DIR") + QStringLiteral("/laneterminal"), m_programDir.path());
    }

    // A broker, and a peer on it that hears the lane's own topics.
    static bool startBroker(MosquittoBroker& broker, MqttProbe& peer)
    {
        return broker.start() && peer.connectTo(broker.host(), broker.port())
            && peer.subscribe(QStringLiteral("zent/ui/#"));
    }

    // Starts the lane in dir on the broker at port, logging to stderr, its configuration with
    // extra added; returns the configuration file's path.
    QString startLane(QProcess& app, const QTemporaryDir& dir, quint16 port, const QByteArray& extra = {}) const
    {
        const QString path = dir.filePath(QStringLiteral("lane.conf"));
        QFile conf(path);
        if (!conf.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        conf.write(QStringLiteral("[log]\nsyslog=false\nstderr=true\n[mqtt]\nhost=127.0.0.1\nport=%1\n"
                                  "[terminal]\ndeviceId=T1\ncustomsId=1\nlocationId=2\n")
                       .arg(port)
                       .toUtf8()
            + extra);
        conf.close();
        app.setProcessChannelMode(QProcess::MergedChannels);
        app.setWorkingDirectory(dir.path());
        app.start(program(), { QStringLiteral("-f"), path });
        return path;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("kstv-terminal-ui"));
        QCoreApplication::setApplicationVersion(QStringLiteral("0.0.1-1-g1045188"));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QVariantMap>("overrides");

        QTest::newRow("none") << QStringList() << QVariantMap();
        QTest::newRow("all, in applying order")
            << QStringList { "-f", "x.conf", "-p", "pa ss", "-u", "us:er", "-P", "1884", "-H", "127.0.0.1", "-c", "-e",
                   "-v", "9" }
            << QVariantMap { { "log/level", 9 }, { "log/stderr", true }, { "log/color", true },
                   { "mqtt/host", "127.0.0.1" }, { "mqtt/port", 1884 }, { "mqtt/username", "us:er" },
                   { "mqtt/password", "pa ss" }, { "config", "x.conf" } };
        QTest::newRow("bad level dropped") << QStringList { "-v", "high" } << QVariantMap();
        QTest::newRow("help wins") << QStringList { "-P", "x", "--help" } << QVariantMap();
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QVariantMap, overrides);
        LogCapture log;
        const CommandLine::Result r = CommandLine::parse(QStringList { "laneterminal" } + args);
        QCOMPARE(r.exitCode, args.contains("--help") ? 0 : -1);
        QCOMPARE(r.overrides, overrides);
        QVERIFY(!log.texts().join('\n').contains("pa ss"));
    }

    void defaults()
    {
        QVERIFY(!GUIManager::Defaults.contains("topics/update"));
        // Pushes are routed by the sender's address: four distinct loopback cameras.
        QSet<QString> hosts;
        for (const char* key : { "camera/alpr1", "camera/alpr2", "camera/ccr1", "camera/ccr2", "card-bo/url" })
            hosts << QUrl(GUIManager::Defaults.value(key).toString()).host();
        QCOMPARE(hosts, QSet<QString>({ "127.0.0.1", "127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14" }));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("help") << QStringList { "-h", "-H", "x" } << 0 << "-V, --version" << "";
        QTest::newRow("version") << QStringList { "-V" } << 0 << "kstv-terminal-ui 0.0.1-1-g1045188\n" << "";
        QTest::newRow("unknown") << QStringList { "--nope" } << 1 << "" << "ERROR: Unknown option 'nope'.";
        QTest::newRow("missing value") << QStringList { "-f" } << 1 << "" << "ERROR: Missing value after '-f'.";
        QTest::newRow("port") << QStringList { "-P", "1883x" } << 1 << "" << "ERROR: Invalid port : 1883x";
        QTest::newRow("port 0") << QStringList { "-P", "0" } << 1 << ""
                                << "ERROR: Invalid port : 0";
        QTest::newRow("port too high") << QStringList { "-P", "70000" } << 1 << ""
                                       << "ERROR: Invalid port : 70000";
        QTest::newRow("toolkit's own options")
            << QStringList { "-reverse", "-platform", "none", "-V" } << 0 << "kstv-terminal-ui 0.0.1-1-g1045188\n"
            << "";
    }

    // Nothing is started and no configuration file is written; no display is needed.
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QTemporaryDir dir;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            env.remove(QString::fromLatin1(name));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(program(), args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), code);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains(out));
        if (!err.isEmpty())
            QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    }

    // Announces itself at start, loads its screens without a QML warning, and leaves its will when killed.
    void service()
    {
        MosquittoBroker broker;
        MqttProbe peer;
        QVERIFY(startBroker(broker, peer));
        QTemporaryDir dir;
        QProcess app;
        startLane(app, dir, broker.port(), "[gui]\nlocale=en_US\n");
        const int status = peer.waitFor(QStringLiteral("zent/ui/status"), 20000);
        QVERIFY(status >= 0);
        QTest::qWait(1000); // screens settle
        app.kill();
        QVERIFY(app.waitForFinished(5000));
        const int will = peer.waitFor(
            QStringLiteral("zent/ui/status"),
            [](const MqttProbe::Message& m) { return m.payload == "{\"service\": false}"; }, 10000, status + 1);
        QVERIFY2(will > status, "no last will after SIGKILL");

        const QString log = QString::fromUtf8(app.readAll());
        QVERIFY2(!log.contains(QStringLiteral("Failed to load the user interface")), qPrintable(log));
        // A QML warning names its file and line.
        const QRegularExpression qmlWarning(QStringLiteral("qrc:/\\S+:\\d+"));
        for (const QString& line : log.split('\n'))
            QVERIFY2(!qmlWarning.match(line).hasMatch(), qPrintable(line));
        QVERIFY(!log.contains(QStringLiteral("AA_EnableHighDpiScaling")));
        QVERIFY(log.contains(QStringLiteral("[GUIManager] First frame shown")));
    }

    // A save past the file-size limit fails as on a full disk: one warning, gui.conf as it was,
    // the change in force, and the lane still running.
    void saveOverFileSizeLimit()
    {
        MosquittoBroker broker;
        MqttProbe peer;
        QVERIFY(startBroker(broker, peer));
        QTemporaryDir dir;
        // The program has to ignore the signal itself, not inherit that from here.
        std::signal(SIGXFSZ, SIG_DFL);
        QProcess app;
        QFile conf(startLane(app, dir, broker.port()));
        QVERIFY(conf.open(QIODevice::ReadOnly));
        const QByteArray text = conf.readAll();
        conf.close();
        QVERIFY(peer.waitFor(QStringLiteral("zent/ui/status"), 20000) >= 0);
        // Limited once it runs (the script engine's stack is a file the size of megabytes): room
        // for less than any save of all settings.
        rlimit limit {};
        QCOMPARE(::prlimit(pid_t(app.processId()), RLIMIT_FSIZE, nullptr, &limit), 0);
        limit.rlim_cur = 256;
        QCOMPARE(::prlimit(pid_t(app.processId()), RLIMIT_FSIZE, &limit, nullptr), 0);

        // The service subscribes before it announces itself, so the set is taken; the configuration
        // published after it holds the change.
        QVERIFY(peer.publish(QStringLiteral("zent/ui/config/set"), R"({"log":{"level":3}})"));
        const int published = peer.waitFor(
            QStringLiteral("zent/ui/config"),
            [](const MqttProbe::Message& m) { return m.json().value("log").toObject().value("level") == 3; }, 20000);
        QByteArray out;
        QVERIFY(QTest::qWaitFor(
            [&] {
                out += app.readAll();
                return out.contains("); the change is kept in memory only") || app.state() != QProcess::Running;
            },
            20000));
        const QString tail = QString::fromUtf8(out.right(1500));
        QVERIFY2(app.state() == QProcess::Running,
            qPrintable(QStringLiteral("ended (crashed %1, code or signal %2): ")
                           .arg(app.exitStatus() == QProcess::CrashExit)
                           .arg(app.exitCode())
                + tail));
        QVERIFY2(published >= 0, qPrintable(tail));
        QCOMPARE(out.count("[Config] WARN: could not write " + QFile::encodeName(conf.fileName()) + " (no room"), 1);
        app.kill();
        QVERIFY(app.waitForFinished(5000));
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(conf.readAll(), text);
    }
};

QTEST_GUILESS_MAIN(tst_Application)
#include "tst_Application.moc"

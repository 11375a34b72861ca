// Feeds arbitrary JSON objects to Config::fromJson and arbitrary INI text to the file
// load; every value the store then holds, and every value it writes, must be plain.

#include "Config.h"
#include "FuzzJson.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

QTemporaryDir& workDir()
{
    // In memory where there is room: the settings library syncs every write to disk.
    static QTemporaryDir dir((QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath())
        + QStringLiteral("/fuzz_config-XXXXXX"));
    return dir;
}

// Every stored value, and every exported one, must be plain.
void checkStore(const Config& config)
{
    static const QSet<int> plain { QMetaType::QString, QMetaType::Bool, QMetaType::Int, QMetaType::UInt,
        QMetaType::LongLong, QMetaType::ULongLong, QMetaType::Double, QMetaType::Float };
    for (const QString& key : config.keys()) {
        if (!plain.contains(config.get(key).userType()))
            std::abort();
    }
    for (const QJsonValue group : config.toJson()) {
        if (!group.isObject())
            std::abort();
        for (const QJsonValue value : group.toObject()) {
            if (!value.isString() && !value.isDouble() && !value.isBool())
                std::abort();
        }
    }
}

// One store serves many inputs (closing a file watcher costs milliseconds), renewed
// now and then from an empty file so its key set stays small.
Config& store()
{
    static Config* config = nullptr;
    static int uses = 0;
    if (!config || ++uses > 50 || config->keys().size() > 100) {
        delete config;
        const QString path = workDir().filePath(QStringLiteral("gui.conf"));
        QFile::remove(path);
        // The copies kept of files with lines the library skips.
        QDir folder(workDir().path());
        for (const QString& copy : folder.entryList({ QStringLiteral("gui.conf.unreadable-*") }, QDir::Files))
            folder.remove(copy);
        config = new Config(path,
            { { QStringLiteral("log/level"), 2 }, { QStringLiteral("log/color"), false },
                { QStringLiteral("mqtt/host"), QStringLiteral("localhost") }, { QStringLiteral("mqtt/port"), 1883 },
                { QStringLiteral("gui/ratio"), 1.5 }, { QStringLiteral("gui/big"), qlonglong(1) << 40 },
                { QStringLiteral("gui/count"), uint(3) }, { QStringLiteral("a/b"), QString() } });
        uses = 0;
    }
    return *config;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The settings library's caches look like leaks to a check after each run; leaks are
    // still reported once, at exit. A flag given by hand comes later and wins.
    static std::vector<char*> args(*argv, *argv + *argc);
    static char noLeakRuns[] = "-detect_leaks=0";
    args.insert(args.begin() + 1, noLeakRuns);
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();

    new QCoreApplication(*argc, *argv); // lives for the whole run
    // The store parses a private copy of the file in the temporary folder.
    qputenv("TMPDIR", workDir().path().toLocal8Bit());
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    if (!workDir().isValid())
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    Config& config = store();
    if (data[0] & 1) {
        QFile file(config.filename());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(input) != input.size())
            std::abort();
        file.close();
        config.load();
    } else {
        const QJsonDocument doc = QJsonDocument::fromJson(input);
        FuzzedDataProvider in(data + 1, size - 1);
        config.fromJson(doc.isObject() ? doc.object()
                                       : FuzzJson(in,
                                           { "log", "mqtt", "gui", "a", "x/y", "level", "color", "host", "port",
                                               "ratio", "big", "count", "b", "" })
                                             .object());
    }
    checkStore(config);
    // Written back and read again, what it holds stays plain.
    config.save();
    config.load();
    checkStore(config);
    return 0;
}

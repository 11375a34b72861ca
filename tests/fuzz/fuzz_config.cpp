// Feeds arbitrary JSON objects to Config::fromJson and arbitrary INI text to the file
// load; every value the store then holds, and every value it writes, must be plain.

#include "Config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// Builds a JSON object from raw bytes, so that short inputs already reach known keys
// with every kind of value.
class JsonBuilder
{
public:
    explicit JsonBuilder(const QByteArray& bytes)
        : m_bytes(bytes)
    {
    }

    QJsonObject object(int depth = 0)
    {
        static const char* const groups[] = { "log", "mqtt", "gui", "a", "x/y", "" };
        static const char* const names[] = { "level", "color", "host", "port", "ratio", "big", "count", "b", "" };
        QJsonObject out;
        for (int i = next() % 4; i > 0; --i) {
            if (depth == 0)
                out.insert(pick(groups, 6), (next() % 8) ? QJsonValue(object(1)) : value(1));
            else
                out.insert(pick(names, 9), value(depth + 1));
        }
        return out;
    }

private:
    int next() { return m_pos < m_bytes.size() ? uchar(m_bytes.at(m_pos++)) : 0; }

    QString pick(const char* const* pool, int size) { return QString::fromLatin1(pool[next() % size]); }

    QString text()
    {
        QByteArray raw;
        for (int length = next() % 8; length > 0; --length)
            raw.append(char(next()));
        return QString::fromUtf8(raw);
    }

    QJsonValue value(int depth)
    {
        double d = 0;
        switch (next() % 8) {
        case 0:
            return QJsonValue();
        case 1:
            return bool(next() & 1);
        case 2:
            return next() - 128;
        case 3:
            for (int i = 0; i < 4; ++i)
                d = d * 256 + next();
            return (next() & 1) ? d / 7.0 : -d * 1e12;
        case 4:
            return text();
        case 5:
            return QString::number(next() - 128);
        case 6:
            return depth < 3 ? QJsonValue(QJsonArray { value(depth + 1), value(depth + 1) }) : QJsonValue();
        default:
            return depth < 3 ? QJsonValue(object(depth + 1)) : QJsonValue(QStringLiteral("true"));
        }
    }

    QByteArray m_bytes;
    int m_pos = 0;
};

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
        config.fromJson(doc.isObject() ? doc.object() : JsonBuilder(input).object());
    }
    checkStore(config);
    // Written back and read again, what it holds stays plain.
    config.save();
    config.load();
    checkStore(config);
    return 0;
}

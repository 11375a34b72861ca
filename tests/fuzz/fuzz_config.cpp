// Feeds arbitrary JSON objects to Config::fromJson and arbitrary INI text to the file
// load; every value the store then holds, and every value it writes, must be plain.

#include "Config.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// In memory where there is room: the settings library syncs every write to disk.
QString scratchRoot()
{
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

QTemporaryDir& workDir()
{
    static QTemporaryDir dir(scratchRoot() + QStringLiteral("/fuzz_config-XXXXXX"));
    return dir;
}

void quiet(QtMsgType, const QMessageLogContext&, const QString&)
{
}

QVariantMap fuzzDefaults()
{
    return {
        { QStringLiteral("log/level"), 2 },
        { QStringLiteral("log/color"), false },
        { QStringLiteral("mqtt/host"), QStringLiteral("localhost") },
        { QStringLiteral("mqtt/port"), 1883 },
        { QStringLiteral("gui/ratio"), 1.5 },
        { QStringLiteral("gui/big"), qlonglong(1) << 40 },
        { QStringLiteral("gui/count"), uint(3) },
        { QStringLiteral("a/b"), QString() },
    };
}

bool isScalar(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::QString:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

void checkStore(const Config& config)
{
    for (const QString& key : config.keys()) {
        const QVariant value = config.get(key);
        if (!isScalar(value)) {
            std::fprintf(stderr, "stored value of %s is a %s\n", qPrintable(key), value.typeName());
            std::abort();
        }
    }
    const QJsonObject json = config.toJson();
    for (auto group = json.begin(); group != json.end(); ++group) {
        if (!group.value().isObject())
            std::abort();
        const QJsonObject names = group.value().toObject();
        for (auto name = names.begin(); name != names.end(); ++name) {
            if (!name.value().isString() && !name.value().isDouble() && !name.value().isBool()) {
                std::fprintf(stderr, "exported %s/%s is not plain\n", qPrintable(group.key()), qPrintable(name.key()));
                std::abort();
            }
        }
    }
}

// Builds a JSON object from raw bytes, so that short inputs already reach known keys
// with every kind of value; text that parses as a JSON object is taken as it is.
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
        const int members = next() % 4;
        for (int i = 0; i < members; ++i) {
            if (depth == 0) {
                const QString group = pick(groups, 6);
                QJsonObject inner;
                const int count = next() % 4;
                for (int j = 0; j < count; ++j)
                    inner.insert(pick(names, 9), value(depth + 1));
                out.insert(group, (next() % 8) ? QJsonValue(inner) : value(depth + 1));
            } else {
                out.insert(pick(names, 9), value(depth + 1));
            }
        }
        return out;
    }

private:
    int next() { return m_pos < m_bytes.size() ? uchar(m_bytes.at(m_pos++)) : 0; }

    QString pick(const char* const* pool, int size)
    {
        const int i = next();
        if (i % (size + 1) == size)
            return text();
        return QString::fromLatin1(pool[i % (size + 1)]);
    }

    QString text()
    {
        const int length = next() % 8;
        QByteArray raw;
        for (int i = 0; i < length; ++i)
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
            return QJsonValue(bool(next() & 1));
        case 2:
            return QJsonValue(next() - 128);
        case 3:
            for (int i = 0; i < 4; ++i)
                d = d * 256 + next();
            return QJsonValue((next() & 1) ? d / 7.0 : -d * 1e12);
        case 4:
            return QJsonValue(text());
        case 5:
            return QJsonValue(QString::number(next() - 128));
        case 6:
            return depth < 3 ? QJsonValue(QJsonArray { value(depth + 1), value(depth + 1) }) : QJsonValue();
        default:
            return depth < 3 ? QJsonValue(object(depth + 1)) : QJsonValue(QStringLiteral("true"));
        }
    }

    QByteArray m_bytes;
    int m_pos = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The settings library keeps caches that grow and shrink between runs, so a leak
    // check after each suspicious run would stop the world dozens of times a second.
    // Leaks are still reported once, at exit. A flag given by hand comes later and wins.
    static std::vector<char*> args(*argv, *argv + *argc);
    static char noLeakRuns[] = "-detect_leaks=0";
    args.insert(args.begin() + 1, noLeakRuns);
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();

    new QCoreApplication(*argc, *argv); // lives for the whole run
    // The store parses a private copy of the file in the temporary folder.
    qputenv("TMPDIR", workDir().path().toLocal8Bit());
    qInstallMessageHandler(quiet);
    if (!workDir().isValid())
        std::abort();
    return 0;
}

// One store serves many inputs: closing a file watcher costs the kernel milliseconds,
// far more than a run. It is renewed now and then, so its key set stays small.
Config& store()
{
    static Config* config = nullptr;
    static int uses = 0;
    if (!config || ++uses > 50 || config->keys().size() > 100) {
        delete config;
        // Starts from nothing: the file keeps every key it was ever written with.
        const QString path = workDir().filePath(QStringLiteral("gui.conf"));
        QFile::remove(path);
        config = new Config(path, fuzzDefaults());
        uses = 0;
    }
    return *config;
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

#include "DeviceSimulator.h"

#include <QJsonDocument>
#include <QUuid>

DeviceSimulator::DeviceSimulator(quint16 brokerPort, const QStringList& extraArgs)
    : m_port(brokerPort)
    , m_extraArgs(extraArgs)
{
    m_controlRoot = argValue(QStringLiteral("--control-root"),
        QStringLiteral("devicesim/") + QUuid::createUuid().toString(QUuid::Id128).left(12));
    m_rfidRoot = argValue(QStringLiteral("--rfid-root"), QStringLiteral("zent/rfid"));
    m_dispenserRoot = argValue(QStringLiteral("--dispenser-root"), QStringLiteral("zent/dispenser"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

DeviceSimulator::~DeviceSimulator()
{
    kill();
}

QString DeviceSimulator::programPath()
{
    const QString explicitPath = qEnvironmentVariable("DEVICESIM_PATH");
    if (!explicitPath.isEmpty())
        return explicitPath;
    return qEnvironmentVariable("LANE_BINARY_DIR") + QStringLiteral("/tools/devicesim/devicesim");
}

bool DeviceSimulator::start(int timeoutMs)
{
    if (isRunning())
        return true;
    m_lastError.clear();
    if (!m_probe.isConnected() && !m_probe.connectTo(QStringLiteral("127.0.0.1"), m_port, timeoutMs)) {
        m_lastError = QStringLiteral("cannot reach the broker");
        return false;
    }
    // Again on every start: a restarted broker has forgotten the probe's subscriptions.
    for (const QString& topic : { m_controlRoot + QStringLiteral("/status"), m_rfidRoot + QStringLiteral("/status"),
             m_dispenserRoot + QStringLiteral("/status"), m_controlRoot + QStringLiteral("/journal") }) {
        if (!m_probe.subscribe(topic)) {
            m_lastError = QStringLiteral("cannot subscribe to ") + topic;
            return false;
        }
    }
    // Only live messages count: a retained status may be left over from an earlier run.
    const int from = m_probe.count();
    m_startIndex = from;
    QStringList args { QStringLiteral("--port"), QString::number(m_port) };
    if (!m_extraArgs.contains(QStringLiteral("--control-root")))
        args << QStringLiteral("--control-root") << m_controlRoot;
    args << m_extraArgs;
    m_process.start(programPath(), args);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_lastError = QStringLiteral("cannot start ") + programPath() + QStringLiteral(": ") + m_process.errorString();
        return false;
    }
    const auto live = [](const char* key) {
        return [key](const MqttProbe::Message& m) { return !m.retained && m.json().value(key).toBool(); };
    };
    const bool up = m_probe.waitFor(m_controlRoot + QStringLiteral("/status"), live("ready"), timeoutMs, from) >= 0
        && m_probe.waitFor(m_rfidRoot + QStringLiteral("/status"), live("service"), timeoutMs, from) >= 0
        && m_probe.waitFor(m_dispenserRoot + QStringLiteral("/status"), live("service"), timeoutMs, from) >= 0;
    if (!up)
        m_lastError = QStringLiteral("the simulator did not come up: ") + output();
    return up;
}

void DeviceSimulator::stop()
{
    if (isRunning())
        m_process.terminate();
    if (isRunning() && !m_process.waitForFinished(5000))
        kill();
    output();
}

void DeviceSimulator::kill()
{
    if (isRunning())
        m_process.kill();
    m_process.waitForFinished(3000);
    output();
}

bool DeviceSimulator::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

std::optional<QJsonObject> DeviceSimulator::control(const QString& command, const QJsonObject& params, int timeoutMs)
{
    const std::optional<MqttProbe::Message> reply
        = m_probe.call(m_controlRoot + QLatin1Char('/'), command, QString::number(++m_nextId), params, timeoutMs);
    if (!reply) {
        m_lastError = QStringLiteral("no reply to control command ") + command;
        return std::nullopt;
    }
    const QJsonObject object = reply->json();
    if (!object.value(QStringLiteral("completed")).toBool()) {
        m_lastError = object.value(QStringLiteral("error")).toObject().value(QStringLiteral("what")).toString();
        return std::nullopt;
    }
    m_lastError.clear();
    return object.value(QStringLiteral("data")).toObject();
}

bool DeviceSimulator::setFault(const QString& op, QJsonObject fault)
{
    fault.insert(QStringLiteral("op"), op);
    return control(QStringLiteral("fault"), fault).has_value();
}

QJsonObject DeviceSimulator::state()
{
    return control(QStringLiteral("state/get")).value_or(QJsonObject());
}

QJsonArray DeviceSimulator::journal()
{
    return control(QStringLiteral("journal/get")).value_or(QJsonObject()).value(QStringLiteral("entries")).toArray();
}

QStringList DeviceSimulator::journalLines()
{
    QStringList lines;
    for (const QJsonValue& value : journal())
        lines.append(journalLine(value.toObject()));
    return lines;
}

bool DeviceSimulator::waitForRequest(const QString& line, int timeoutMs)
{
    return m_probe.waitFor(
               m_controlRoot + QStringLiteral("/journal"),
               [line](const MqttProbe::Message& m) { return journalLine(m.json()) == line; }, timeoutMs, m_startIndex)
        >= 0;
}

QString DeviceSimulator::journalLine(const QJsonObject& entry)
{
    QString line = entry.value(QStringLiteral("device")).toString() + QLatin1Char(' ')
        + entry.value(QStringLiteral("path")).toString();
    const QString id = entry.value(QStringLiteral("id")).toString();
    if (!id.isEmpty())
        line += QLatin1Char(' ') + id;
    return line;
}

QString DeviceSimulator::output()
{
    m_output += QString::fromUtf8(m_process.readAll());
    return m_output;
}

QString DeviceSimulator::argValue(const QString& name, const QString& fallback) const
{
    const int index = m_extraArgs.indexOf(name);
    return index >= 0 && index + 1 < m_extraArgs.size() ? m_extraArgs.at(index + 1) : fallback;
}

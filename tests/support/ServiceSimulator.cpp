#include "ServiceSimulator.h"

#include <QUuid>

namespace {

QString journalLine(const QJsonObject& entry)
{
    return entry.value(QString("device")).toString() + QLatin1Char(' ') + entry.value(QString("path")).toString();
}

} // namespace

ServiceSimulator::ServiceSimulator(quint16 brokerPort, const QStringList& extraArgs)
    : m_port(brokerPort)
    , m_extraArgs(extraArgs)
    , m_controlRoot(QString("servicesim/") + QUuid::createUuid().toString(QUuid::Id128).left(12))
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

ServiceSimulator::~ServiceSimulator()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool ServiceSimulator::start(int timeoutMs)
{
    if (!m_probe.connectTo(QString("127.0.0.1"), m_port, timeoutMs)
        || !m_probe.subscribe(m_controlRoot + QString("/#")))
        return false;
    const QString program = qEnvironmentVariable("LANE_BINARY_DIR") + QString("/tools/servicesim/servicesim");
    m_process.start(program,
        QStringList { QString("--port"), QString::number(m_port), QString("--control-root"), m_controlRoot }
            + m_extraArgs);
    return m_process.waitForStarted(timeoutMs)
        && m_probe.waitFor(
               m_controlRoot + QString("/status"),
               [](const MqttProbe::Message& m) { return m.json().value(QString("ready")).toBool(); }, timeoutMs)
        >= 0;
}

std::optional<QJsonObject> ServiceSimulator::control(const QString& command, const QJsonObject& params)
{
    const auto reply = m_probe.call(m_controlRoot + QLatin1Char('/'), command, QString::number(++m_nextId), params);
    if (!reply || !reply->json().value(QString("completed")).toBool())
        return std::nullopt;
    return reply->json().value(QString("data")).toObject();
}

bool ServiceSimulator::fault(const QString& op, const QString& mode, int times)
{
    return control(QString("fault"), { { QString("op"), op }, { QString("mode"), mode }, { QString("times"), times } })
        .has_value();
}

std::optional<QJsonObject> ServiceSimulator::waitForRequest(const QString& line, int timeoutMs)
{
    const int index = m_probe.waitFor(
        m_controlRoot + QString("/journal"),
        [line](const MqttProbe::Message& m) { return journalLine(m.json()) == line; }, timeoutMs, m_journalFrom);
    if (index >= 0)
        m_journalFrom = index + 1;
    return index < 0 ? std::nullopt : std::optional<QJsonObject>(m_probe.at(index).json());
}

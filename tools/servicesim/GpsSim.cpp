#include "GpsSim.h"

GpsSim::GpsSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal, int dataMs)
    : SimService(
        QStringLiteral("gps"), root, { QStringLiteral("/enable"), QStringLiteral("/disable") }, link, faults, journal)
{
    m_data.setInterval(dataMs);
    connect(&m_data, &QTimer::timeout, this, &GpsSim::publishData);
    if (dataMs > 0)
        m_data.start();
}

void GpsSim::publishRetained()
{
    publish(QStringLiteral("/info"),
        { { QStringLiteral("device"),
              QJsonObject { { "firmware", "7.03" }, { "manufacturer", "SimNav" }, { "model", "SN-1" },
                  { "imei", "356938035643809" }, { "assisted", true } } },
            { QStringLiteral("service"), QJsonObject { { "version", "0.8.0-sim" }, { "type", "gpsd" } } } },
        true);
    publish(QStringLiteral("/status"),
        { { QStringLiteral("service"), true }, { QStringLiteral("simulation"), true },
            { QStringLiteral("device"),
                QJsonObject {
                    { "fix", m_enabled ? m_fix : 0 }, { "state", m_enabled ? 1 : 0 }, { "error", m_error } } } },
        true);
}

void GpsSim::publishData()
{
    if (!m_enabled || isOffline())
        return;
    ++m_samples;
    const QList<QPair<const char*, double>> values {
        { "latitude", 41.2995 + m_samples * 1e-5 },
        { "longitude", 69.2401 },
        { "altitude", 455.5 },
        { "direction", 90.0 },
        { "groundSpeed", 0.5 },
        { "verticalSpeed", 0.0 },
        { "verticalAccuracy", 3.5 },
        { "horizontalAccuracy", 2.25 },
        { "magneticVariation", 4.75 },
    };
    QJsonObject data;
    for (const auto& value : values)
        data.insert(QLatin1String(value.first),
            m_numbers ? QJsonValue(value.second) : QJsonValue(QString::number(value.second, 'g', 10)));
    publish(QStringLiteral("/data"), data);
}

void GpsSim::handle(const QString& path, const QJsonObject&)
{
    m_enabled = path == QLatin1String("/enable");
    publishRetained();
}

bool GpsSim::control(const QJsonObject& params, QString* error)
{
    const int dataMs = params.value(QStringLiteral("dataMs")).toInt(m_data.interval());
    if (dataMs < 0) {
        *error = QStringLiteral("dataMs must not be negative (0 stops the telemetry)");
        return false;
    }
    m_data.stop();
    m_data.setInterval(dataMs);
    if (dataMs > 0)
        m_data.start();
    m_fix = params.value(QStringLiteral("fix")).toInt(m_fix);
    m_numbers = params.value(QStringLiteral("numbers")).toBool(m_numbers);
    m_error = params.value(QStringLiteral("error")).toString(m_error);
    return true;
}

QJsonObject GpsSim::toJson() const
{
    return { { QStringLiteral("enabled"), m_enabled }, { QStringLiteral("numbers"), m_numbers },
        { QStringLiteral("samples"), m_samples } };
}

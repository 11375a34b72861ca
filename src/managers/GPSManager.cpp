#include "GPSManager.h"

#include "MqttClient.h"
#include "ServiceMessage.h"

#include <QDebug>
#include <QJsonValue>

#include <cmath>

namespace manager {

namespace {
const QString Prefix = QStringLiteral("[GPSManager] ");

// A reading given as a JSON number or as the text of one; anything else is 0.
double reading(const QJsonValue& value)
{
    double number = 0.0;
    if (value.isDouble()) {
        number = value.toDouble();
    } else if (value.isString()) {
        bool ok = false;
        number = value.toString().trimmed().toDouble(&ok);
        if (!ok)
            number = 0.0;
    }
    return std::isfinite(number) ? number : 0.0;
}
} // namespace

GPSManager::GPSManager(MqttClient& mqtt, const QString& root, QObject* parent)
    : QObject(parent)
    , m_mqtt(mqtt)
    , m_root(root)
{
    qRegisterMetaType<Info>();
    qRegisterMetaType<Status>();
    qRegisterMetaType<Telemetry>();
    connect(&m_mqtt, &MqttClient::received, this, [this](const QByteArray& payload, const QByteArray& topic) {
        onMqttReceived(payload, QString::fromUtf8(topic));
    });
    m_mqtt.subscribe(m_root + QStringLiteral("/#"), 0);
}

GPSManager::~GPSManager() = default;

bool GPSManager::enable()
{
    return m_mqtt.publish(QByteArray(), m_root + QStringLiteral("/enable"), 0, false);
}

bool GPSManager::disable()
{
    return m_mqtt.publish(QByteArray(), m_root + QStringLiteral("/disable"), 0, false);
}

void GPSManager::onMqttReceived(const QByteArray& payload, const QString& topic)
{
    if (!topic.contains(m_root))
        return;
    QJsonObject message;
    if (!parseServiceMessage(payload, Prefix, false, true, message))
        return;
    if (topic == m_root + QStringLiteral("/info"))
        onInfoReceived(message);
    else if (topic == m_root + QStringLiteral("/status"))
        onStatusReceived(message);
    else if (topic == m_root + QStringLiteral("/data"))
        onTelemetryReceived(message);
}

void GPSManager::onInfoReceived(const QJsonObject& message)
{
    const QJsonObject device = message.value(QStringLiteral("device")).toObject();
    const QJsonObject service = message.value(QStringLiteral("service")).toObject();
    m_info.firmware = device.value(QStringLiteral("firmware")).toString();
    m_info.manufacturer = device.value(QStringLiteral("manufacturer")).toString();
    m_info.model = device.value(QStringLiteral("model")).toString();
    m_info.imei = device.value(QStringLiteral("imei")).toString();
    m_info.assisted = device.value(QStringLiteral("assisted")).toBool(false);
    m_info.serviceType = service.value(QStringLiteral("type")).toString();
    m_info.serviceVersion = service.value(QStringLiteral("version")).toString();
    emit infoChanged(m_info);
}

void GPSManager::onStatusReceived(const QJsonObject& message)
{
    if (!message.value(QStringLiteral("service")).toBool(false)) {
        m_status = Status { 0, -1, false, QStringLiteral("Manager is offline") };
    } else {
        const QJsonObject device = message.value(QStringLiteral("device")).toObject();
        m_status.fix = device.value(QStringLiteral("fix")).toInt(0);
        m_status.state = device.value(QStringLiteral("state")).toInt(0);
        m_status.error = device.value(QStringLiteral("error")).toString();
        m_status.simulation = message.value(QStringLiteral("simulation")).toBool(false);
    }
    emit statusChanged(m_status);
}

void GPSManager::onTelemetryReceived(const QJsonObject& message)
{
    Telemetry& t = m_telemetry;
    const auto get = [&message](const char* key) { return reading(message.value(QLatin1String(key))); };
    t.latitude = get("latitude");
    t.longitude = get("longitude");
    t.altitude = get("altitude");
    t.direction = get("direction");
    t.groundSpeed = get("groundSpeed");
    t.magneticVariation = get("magneticVariation");
    t.verticalSpeed = get("verticalSpeed");
    t.verticalAccuracy = get("verticalAccuracy");
    t.horizontalAccuracy = get("horizontalAccuracy");
    emit telemetryChanged(m_telemetry);
}

} // namespace manager

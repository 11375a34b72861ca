#include "UiMqttService.h"

#include "Config.h"
#include "MqttClient.h"
#include "PeerText.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Largest message body that is parsed at all: a configuration, at its largest.
const int kMaxPayloadBytes = SettingsValidator::kMaxConfigBytes;
// Unknown keys named in one warning; the rest are only counted.
const int kMaxKeysShown = 20;

} // namespace

const QString UiMqttService::kDefaultRoot = QStringLiteral("zent/ui");

UiMqttService::UiMqttService(manager::MqttClient& mqtt, Config& config, QObject* parent)
    : QObject(parent)
    , m_mqtt(mqtt)
    , m_config(config)
    , m_validator(config)
{
}

QString UiMqttService::root() const
{
    const QString root = m_config.get(QStringLiteral("mqtt/base")).toString();
    if (SettingsValidator::isValidRoot(root))
        return root;
    // An empty or wildcard root would leave the service deaf and without its will.
    if (root != m_reportedRoot || m_reportedRoot.isNull()) {
        m_reportedRoot = root.isNull() ? QStringLiteral("") : root;
        qCritical().noquote() << "[GUIManager] ERROR: Invalid MQTT base topic '" + PeerText::forLog(root) + "', using '"
                + kDefaultRoot + "'";
    }
    return kDefaultRoot;
}

void UiMqttService::configure()
{
    m_mqtt.setClientId(
        QStringLiteral("%1_%2").arg(QCoreApplication::applicationName()).arg(QCoreApplication::applicationPid()));
    m_mqtt.setWillTopic(root() + QStringLiteral("/status"));
    m_mqtt.setWillMessage("{\"service\": false}");
    m_mqtt.setHostname(m_config.get(QStringLiteral("mqtt/host")).toString());
    m_mqtt.setPort(m_config.get(QStringLiteral("mqtt/port")).toUInt());
    m_mqtt.setUsername(m_config.get(QStringLiteral("mqtt/username")).toString());
    m_mqtt.setPassword(m_config.get(QStringLiteral("mqtt/password")).toString());
    m_mqtt.connect();
}

void UiMqttService::subscribeToTopics()
{
    const QString base = root();
    for (const char* suffix : { "/info/get", "/status/get", "/config/get", "/config/set" })
        m_mqtt.subscribe(base + QLatin1String(suffix), 0);
}

void UiMqttService::publish(const QJsonObject& body, const QString& suffix)
{
    m_mqtt.publish(QJsonDocument(body).toJson(QJsonDocument::Indented), root() + suffix, 0, false);
}

void UiMqttService::publishInfo()
{
    publish(
        QJsonObject { { QStringLiteral("version"), QCoreApplication::applicationVersion() } }, QStringLiteral("/info"));
}

void UiMqttService::publishStatus()
{
    publish(QJsonObject { { QStringLiteral("technician"), m_technician ? m_technician() : false },
                { QStringLiteral("service"), true } },
        QStringLiteral("/status"));
}

void UiMqttService::publishConfig()
{
    publish(m_validator.publishable(), QStringLiteral("/config"));
}

void UiMqttService::onConnected()
{
    qInfo().noquote() << "[GUIManager] Connected to MQTT broker";
    subscribeToTopics();
    publishInfo();
    publishStatus();
    publishConfig();
    emit ready();
}

void UiMqttService::onReceived(const QByteArray& payload, const QByteArray& rawTopic)
{
    const QString topic = QString::fromUtf8(rawTopic);
    const QString base = root();
    if (!topic.startsWith(base + QLatin1Char('/')))
        return;
    qInfo().noquote() << "[GUIManager] Message received : " + PeerText::forLog(topic);
    // A body this large is no request of ours: it is not even parsed.
    if (payload.size() > kMaxPayloadBytes) {
        qWarning().noquote() << QStringLiteral("[GUIManager] WARN: Message ignored, larger than %1 bytes: %2")
                                    .arg(kMaxPayloadBytes)
                                    .arg(PeerText::forLog(topic));
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    qDebug().noquote() << "[GUIManager] Data : " + PeerText::forLog(Config::maskedPayload(payload));

    const QString suffix = topic.mid(base.size());
    if (suffix == QLatin1String("/info/get"))
        publishInfo();
    else if (suffix == QLatin1String("/status/get"))
        publishStatus();
    else if (suffix == QLatin1String("/config/get"))
        publishConfig();
    else if (suffix == QLatin1String("/config/set"))
        setConfig(document);
}

void UiMqttService::setConfig(const QJsonDocument& document)
{
    if (!document.isObject()) {
        qWarning().noquote() << "[GUIManager] WARN: Configuration not changed: the message is not a JSON object";
        return;
    }
    QJsonObject changes;
    QStringList unknown;
    QString error;
    if (!m_validator.check(document.object(), &changes, &unknown, &error)) {
        qWarning().noquote() << "[GUIManager] WARN: Configuration not changed: " + PeerText::forLog(error);
        return;
    }
    if (!unknown.isEmpty()) {
        const int shown = qMin(unknown.size(), kMaxKeysShown);
        qWarning().noquote() << "[GUIManager] WARN: Settings this terminal does not hold, ignored: "
                + PeerText::forLog(unknown.mid(0, shown).join(QStringLiteral(", ")))
                + (unknown.size() > shown ? QStringLiteral(" and %1 more").arg(unknown.size() - shown) : QString());
    }
    // One operation: one save, one change announcement, one publish of the configuration.
    m_config.fromJson(changes);
}

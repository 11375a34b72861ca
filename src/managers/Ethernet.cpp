#include "Ethernet.h"

#include "MqttClient.h"
#include "PeerText.h"
#include "ServiceMessage.h"
#include "ValueUpdate.h"

#include <QDebug>
#include <QJsonDocument>

namespace manager {

namespace {
const QString Prefix = QStringLiteral("[Network][Ethernet] ");
const QString Usb = QStringLiteral("usb0");
const QString Rule = QStringLiteral("-------------------------");
} // namespace

Ethernet::Ethernet(MqttClient& client, const QString& networkRoot, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_root(networkRoot + QStringLiteral("/ethernet"))
{
    connect(&m_client, &MqttClient::received, this, [this](const QByteArray& payload, const QByteArray& topic) {
        onMqttReceived(payload, QString::fromUtf8(topic));
    });
    // Queued: the client renews the subscriptions after this signal, and the answer must not come first.
    connect(&m_client, &MqttClient::connected, this, &Ethernet::reset, Qt::QueuedConnection);
    subscribe();
}

Ethernet::~Ethernet() = default;

void Ethernet::setMethod(const QString& method)
{
    if (method == m_method)
        return;
    qInfo().noquote().nospace() << Prefix << "Method changed : " << method;
    m_method = method;
    emit methodChanged();
}

bool Ethernet::save()
{
    const bool manual = m_method == QLatin1String("manual");
    const QJsonObject object {
        { QStringLiteral("interface"), m_interface },
        { QStringLiteral("method"), m_method },
        { QStringLiteral("address"), manual ? m_config.address() : QString() },
        { QStringLiteral("netmask"), manual ? m_config.mask() : QString() },
        { QStringLiteral("gateway"), manual ? m_config.gateway() : QString() },
        { QStringLiteral("dns0"), manual ? m_config.dns0() : QString() },
        { QStringLiteral("dns1"), manual ? m_config.dns1() : QString() },
    };
    // A configuration the broker never got must not be reported as being saved.
    if (!m_client.publish(
            QJsonDocument(object).toJson(QJsonDocument::Indented), m_root + QStringLiteral("/config/set"), 0, false)) {
        qCritical().noquote().nospace() << Prefix
                                        << "ERROR: Configuration not sent, no connection to the network service";
        return false;
    }
    qInfo().noquote().nospace() << Prefix << "Saving configuration";
    qInfo().noquote().nospace() << Prefix << Rule;
    qInfo().noquote().nospace() << Prefix << "Method  : " << PeerText::forLog(m_method);
    qInfo().noquote().nospace() << Prefix << "Address : " << PeerText::forLog(m_config.address());
    qInfo().noquote().nospace() << Prefix << "Netmask : " << PeerText::forLog(m_config.mask());
    qInfo().noquote().nospace() << Prefix << "Gateway : " << PeerText::forLog(m_config.gateway());
    qInfo().noquote().nospace() << Prefix << "DNS     : " << PeerText::forLog(m_config.dns0()) << ", "
                                << PeerText::forLog(m_config.dns1());
    qInfo().noquote().nospace() << Prefix << Rule;
    return true;
}

void Ethernet::reset()
{
    qInfo().noquote().nospace() << Prefix << "Refreshing data";
    m_client.publish("{}", m_root + QStringLiteral("/state/get"), 0, false);
    m_client.publish("{}", m_root + QStringLiteral("/config/get"), 0, false);
}

void Ethernet::subscribe()
{
    qInfo().noquote().nospace() << Prefix << "Subscribing to topics";
    m_client.subscribe(m_root + QStringLiteral("/state"), 0);
    m_client.subscribe(m_root + QStringLiteral("/config"), 0);
}

void Ethernet::onMqttReceived(const QByteArray& payload, const QString& topic)
{
    if (!topic.contains(m_root))
        return;
    QJsonObject message;
    if (!parseServiceMessage(payload, Prefix, true, false, message))
        return;
    if (topic == m_root + QStringLiteral("/state"))
        onStateReceived(message, topic);
    else if (topic == m_root + QStringLiteral("/config"))
        onConfigReceived(message, topic);
}

void Ethernet::onStateReceived(const QJsonObject& message, const QString& topic)
{
    qDebug().noquote().nospace() << Prefix << "Processing state topic " << PeerText::forLog(topic);
    const QString interface = message.value(QStringLiteral("interface")).toString();
    if (interface == Usb)
        return;
    if (assignIfChanged(m_interface, interface))
        emit interfaceChanged();
    if (assignIfChanged(m_type, message.value(QStringLiteral("typeStr")).toString()))
        emit typeChanged();
    if (assignIfChanged(m_state, message.value(QStringLiteral("stateStr")).toString()))
        emit stateChanged();
    if (assignIfChanged(m_reason, message.value(QStringLiteral("reasonStr")).toString()))
        emit reasonChanged();
    if (assignIfChanged(m_mac, message.value(QStringLiteral("mac")).toString()))
        emit macChanged();
    const QVariantMap ipv4 = message.value(QStringLiteral("ipv4")).toObject().toVariantMap();
    if (ipv4 != m_ipv4.toMap()) {
        m_ipv4.fromMap(ipv4);
        emit ipv4Changed();
    }
}

void Ethernet::onConfigReceived(const QJsonObject& message, const QString& topic)
{
    qDebug().noquote().nospace() << Prefix << "Processing config topic " << PeerText::forLog(topic);
    if (message.value(QStringLiteral("interface")).toString() == Usb)
        return;
    if (assignIfChanged(m_method, message.value(QStringLiteral("method")).toString()))
        emit methodChanged();
    const QVariantMap config = message.toVariantMap();
    if (config != m_config.toMap()) {
        m_config.fromMap(config);
        emit configChanged();
    }
}

} // namespace manager

#include "Network.h"

#include "Ethernet.h"
#include "MqttClient.h"
#include "PeerText.h"
#include "ServiceMessage.h"
#include "ValueUpdate.h"

#include <QDebug>

namespace manager {

namespace {
const QString Prefix = QStringLiteral("[Network] ");
}

Network::Network(MqttClient& client, const QString& root, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_root(root)
    , m_ethernet(new Ethernet(client, root, this))
{
    connect(&m_client, &MqttClient::received, this, [this](const QByteArray& payload, const QByteArray& topic) {
        onMqttReceived(payload, QString::fromUtf8(topic));
    });
    connect(&m_client, &MqttClient::connected, this, &Network::refresh);
    connect(&m_timer, &QTimer::timeout, this, &Network::refresh);
    subscribe();
}

Network::~Network() = default;

void Network::refresh()
{
    qInfo().noquote().nospace() << Prefix << "Refreshing data";
}

void Network::monitor(int msec)
{
    if (startMonitor(m_timer, msec, Prefix))
        refresh();
}

void Network::subscribe()
{
    qInfo().noquote().nospace() << Prefix << "Subscribing to topics";
    m_client.subscribe(m_root + QStringLiteral("/info"), 0);
    m_client.subscribe(m_root + QStringLiteral("/status"), 0);
}

void Network::onMqttReceived(const QByteArray& payload, const QString& topic)
{
    if (!topic.contains(m_root))
        return;
    QJsonObject message;
    if (!parseServiceMessage(payload, Prefix, true, false, message))
        return;
    if (topic == m_root + QStringLiteral("/info"))
        onInfoReceived(message, topic);
    else if (topic == m_root + QStringLiteral("/status"))
        onStatusReceived(message, topic);
}

void Network::onStatusReceived(const QJsonObject& message, const QString& topic)
{
    qDebug().noquote().nospace() << Prefix << "Processing status topic " << PeerText::forLog(topic);
    if (!message.value(QStringLiteral("service")).toBool(false)) {
        setStatus(QStringLiteral("offline"));
        return;
    }
    setStatus(QStringLiteral("online"));
    if (assignIfChanged(m_connectionState, message.value(QStringLiteral("stateStr")).toString()))
        emit connectionStateChanged();
    if (assignIfChanged(m_connectivity, message.value(QStringLiteral("connectivityStr")).toString()))
        emit connectivityChanged();
    if (assignIfChanged(m_hostname, message.value(QStringLiteral("hostname")).toString()))
        emit hostnameChanged();
    m_primaryConnection.fromMap(message.value(QStringLiteral("primaryConnection")).toObject().toVariantMap());
    emit primaryConnectionChanged();
}

void Network::onInfoReceived(const QJsonObject& message, const QString& topic)
{
    qDebug().noquote().nospace() << Prefix << "Processing info topic " << PeerText::forLog(topic);
    m_version = message.value(QStringLiteral("service")).toObject().value(QStringLiteral("version")).toString();
}

void Network::setStatus(const QString& status)
{
    if (status == m_status)
        return;
    qInfo().noquote().nospace() << Prefix << "Status changed : " << status;
    m_status = status;
}

} // namespace manager

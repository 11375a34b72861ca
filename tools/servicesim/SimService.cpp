#include "SimService.h"

#include "Journal.h"
#include "MqttLink.h"
#include "PublishFaults.h"

#include <QDebug>
#include <QJsonDocument>

namespace {

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const QJsonObject Down { { QStringLiteral("service"), false } };

} // namespace

SimService::SimService(const QString& name, const QString& root, const QStringList& paths, MqttLink& link,
    PublishFaults& faults, Journal& journal, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_root(root)
    , m_paths(paths)
    , m_link(link)
    , m_faults(faults)
    , m_journal(journal)
{
    m_link.setWill(m_root + QStringLiteral("/status"), compact(Down));
    for (const QString& path : m_paths)
        m_link.addSubscription(m_root + path);
    connect(&m_link, &MqttLink::messageReceived, this, &SimService::onMessage);
    connect(&m_link, &MqttLink::connected, this, &SimService::republish);
}

void SimService::setOffline(bool offline)
{
    m_offline = offline;
    republish();
}

void SimService::republish()
{
    if (m_offline)
        publish(QStringLiteral("/status"), Down, true);
    else
        publishRetained();
}

bool SimService::applyControl(const QJsonObject& params, QString* error)
{
    if (!control(params, error))
        return false;
    if (params.contains(QStringLiteral("offline")))
        setOffline(params.value(QStringLiteral("offline")).toBool());
    else
        republish();
    return true;
}

QJsonObject SimService::state() const
{
    QJsonObject object = toJson();
    object.insert(QStringLiteral("offline"), m_offline);
    return object;
}

void SimService::announceShutdown()
{
    m_link.publish(m_root + QStringLiteral("/status"), compact(Down), true);
}

void SimService::publish(const QString& path, const QJsonObject& object, bool retain)
{
    QByteArray payload = compact(object);
    if (const auto fault = m_faults.take(m_name + path)) {
        switch (*fault) {
        case PublishFaults::Silence:
            return;
        case PublishFaults::Empty:
            payload.clear();
            break;
        case PublishFaults::BadJson:
            payload = "{\"service\": tru";
            break;
        case PublishFaults::WrongTypes:
            payload = compact(PublishFaults::wrongTypes(object));
            break;
        case PublishFaults::ServiceFalse:
            payload = compact(Down);
            break;
        }
    }
    m_link.publish(m_root + path, payload, retain);
}

bool SimService::takes(const QString& path) const
{
    for (const QString& own : m_paths) {
        if (own.endsWith(QLatin1String("/#")) ? path.startsWith(own.chopped(1)) : path == own)
            return true;
    }
    return false;
}

void SimService::onMessage(const QString& topic, const QByteArray& payload)
{
    if (!topic.startsWith(m_root + QLatin1Char('/')))
        return;
    const QString path = topic.mid(m_root.size());
    if (!takes(path))
        return;
    m_journal.record(m_name, path, QString(), payload);
    if (m_offline)
        return;
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!payload.isEmpty() && !document.isObject())
        qWarning().noquote().nospace() << "[" << m_name << "] WARN: " << path << " payload is not a JSON object";
    handle(path, document.object());
}

#include "SimControl.h"

#include "Journal.h"
#include "MqttLink.h"
#include "PublishFaults.h"
#include "SimService.h"

#include <QDebug>
#include <QJsonDocument>

namespace {

const QString RequestMarker = QStringLiteral("/request/");

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray ready(bool ready)
{
    return compact({ { QStringLiteral("ready"), ready } });
}

} // namespace

SimControl::SimControl(const QString& root, MqttLink& link, const QList<SimService*>& services, PublishFaults& faults,
    Journal& journal, QObject* parent)
    : QObject(parent)
    , m_root(root)
    , m_link(link)
    , m_services(services)
    , m_faults(faults)
    , m_journal(journal)
{
    m_link.setWill(m_root + QStringLiteral("/status"), ready(false));
    m_link.addSubscription(m_root + QStringLiteral("/+/request/+"));
    m_link.addSubscription(m_root + QStringLiteral("/+/+/request/+"));
    connect(&m_link, &MqttLink::messageReceived, this, &SimControl::onMessage);
    connect(&m_link, &MqttLink::connected, this,
        [this] { m_link.publish(m_root + QStringLiteral("/status"), ready(true), true); });
    connect(&m_journal, &Journal::recorded, this,
        [this](const QJsonObject& entry) { m_link.publish(m_root + QStringLiteral("/journal"), compact(entry)); });
}

void SimControl::announceShutdown()
{
    m_link.publish(m_root + QStringLiteral("/status"), ready(false), true);
}

void SimControl::onMessage(const QString& topic, const QByteArray& payload)
{
    if (!topic.startsWith(m_root + QLatin1Char('/')))
        return;
    const QString rest = topic.mid(m_root.size() + 1);
    const int marker = rest.lastIndexOf(RequestMarker);
    if (marker <= 0)
        return;
    const QString command = rest.left(marker);
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    QJsonObject data;
    QString error;
    bool ok = payload.isEmpty() || document.isObject();
    if (!ok)
        error = QStringLiteral("control payload is not a JSON object");
    else
        ok = run(command, document.object(), &data, &error);
    if (ok)
        qInfo().noquote().nospace() << "[control] " << command << " " << QString::fromUtf8(payload);
    else
        qWarning().noquote().nospace() << "[control] WARN: " << command << " refused: " << error;
    QJsonObject reply { { QStringLiteral("completed"), ok } };
    if (ok)
        reply.insert(QStringLiteral("data"), data);
    else
        reply.insert(QStringLiteral("error"), QJsonObject { { QStringLiteral("what"), error } });
    m_link.publish(
        m_root + QLatin1Char('/') + command + QStringLiteral("/response/") + rest.mid(marker + 9), compact(reply));
}

bool SimControl::run(const QString& command, const QJsonObject& params, QJsonObject* data, QString* error)
{
    if (command == QLatin1String("journal/get")) {
        data->insert(QStringLiteral("entries"), m_journal.entries());
        return true;
    }
    if (command == QLatin1String("fault")) {
        if (!m_faults.apply(params, error))
            return false;
    } else if (command == QLatin1String("faults/clear")) {
        m_faults.clear();
    } else if (command == QLatin1String("journal/clear")) {
        m_journal.clear();
    } else if (command != QLatin1String("state/get")) {
        SimService* service = nullptr;
        for (SimService* candidate : qAsConst(m_services))
            service = candidate->name() == command ? candidate : service;
        if (!service) {
            *error = QStringLiteral("unknown command \"%1\"").arg(command);
            return false;
        }
        if (!service->applyControl(params, error))
            return false;
    }
    for (SimService* service : qAsConst(m_services))
        data->insert(service->name(), service->state());
    data->insert(QStringLiteral("faults"), m_faults.toJson());
    return true;
}

#include "SimControl.h"

#include "Journal.h"
#include "PublishFaults.h"
#include "SimService.h"

SimControl::SimControl(const QString& root, MqttLink& link, const QList<SimService*>& services, PublishFaults& faults,
    Journal& journal, QObject* parent)
    : ControlTopics(root, link, journal, parent)
    , m_services(services)
    , m_faults(faults)
{
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

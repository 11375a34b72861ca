#pragma once
// The service simulator's control commands (each service's settings, publish
// faults, the journal) on its own control topics.

#include "ControlTopics.h"

#include <QList>

class PublishFaults;
class SimService;

class SimControl : public ControlTopics
{
    Q_OBJECT

public:
    SimControl(const QString& root, MqttLink& link, const QList<SimService*>& services, PublishFaults& faults,
        Journal& journal, QObject* parent = nullptr);

protected:
    bool run(const QString& command, const QJsonObject& params, QJsonObject* data, QString* error) override;

private:
    QList<SimService*> m_services;
    PublishFaults& m_faults;
};

#pragma once
// The device simulator's control commands (cards, faults, the journal, the
// devices' settings) on its own control topics.

#include "ControlTopics.h"

class CardWorld;
class DispenserService;
class FaultPlan;
class ReaderService;

class ControlService : public ControlTopics
{
    Q_OBJECT

public:
    ControlService(const QString& root, MqttLink& link, CardWorld& world, ReaderService& reader,
        DispenserService& dispenser, FaultPlan& faults, Journal& journal, QObject* parent = nullptr);

protected:
    bool run(const QString& command, const QJsonObject& params, QJsonObject* data, QString* error) override;

private:
    QJsonObject snapshot() const;

    CardWorld& m_world;
    ReaderService& m_reader;
    DispenserService& m_dispenser;
    FaultPlan& m_faults;
};

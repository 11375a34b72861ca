#pragma once
// The simulated system-inspector service: info and status (retained), audio
// volume get and set, statistics; play and power requests are only journaled.

#include "SimService.h"

class InspectorSim : public SimService
{
    Q_OBJECT

public:
    InspectorSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal);

protected:
    void handle(const QString& path, const QJsonObject& payload) override;
    void publishRetained() override;
    // {"volume"?}
    bool control(const QJsonObject& params, QString* error) override;
    QJsonObject toJson() const override;

private:
    void publishAudio();

    int m_volume = 50;
};

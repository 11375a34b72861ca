#pragma once
// The simulated network service: status and info (retained) and the Ethernet
// part, which answers state/get and config/get, stores config/set and
// publishes the stored configuration again.

#include "SimService.h"

class NetworkSim : public SimService
{
    Q_OBJECT

public:
    NetworkSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal);

protected:
    void handle(const QString& path, const QJsonObject& payload) override;
    void publishRetained() override;
    // {"hostname"?, "state"?, "connectivity"?, "ethernetState"?}
    bool control(const QJsonObject& params, QString* error) override;
    QJsonObject toJson() const override;

private:
    QJsonObject ethernetState() const;

    QString m_hostname = QStringLiteral("lane-sim");
    // The texts the screens and the self-test know as healthy.
    QString m_state = QStringLiteral("Connected");
    QString m_connectivity = QStringLiteral("Full");
    QString m_ethernetState = QStringLiteral("Connected");
    QString m_method = QStringLiteral("auto");
    QJsonObject m_ipv4;
    QJsonObject m_config;
};

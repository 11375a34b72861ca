#pragma once
// The simulated GPS service: info and status (retained) and telemetry at a
// fixed period while the receiver is enabled, as texts or as JSON numbers.

#include "SimService.h"

#include <QTimer>

class GpsSim : public SimService
{
    Q_OBJECT

public:
    GpsSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal, int dataMs);

protected:
    void handle(const QString& path, const QJsonObject& payload) override;
    void publishRetained() override;
    // {"fix"?, "numbers"?, "dataMs"?, "error"?}
    bool control(const QJsonObject& params, QString* error) override;
    QJsonObject toJson() const override;

private:
    void publishData();

    bool m_enabled = true;
    bool m_numbers = false;
    int m_fix = 3;
    QString m_error;
    int m_samples = 0;
    QTimer m_data;
};

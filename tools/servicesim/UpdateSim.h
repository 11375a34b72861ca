#pragma once
// The simulated software-update service: status on request, a check that finds
// the version made available, a download with progress reports, and an
// installation that ends with a success or a failure code.

#include "SimService.h"

#include <QTimer>

class UpdateSim : public SimService
{
    Q_OBJECT

public:
    UpdateSim(const QString& root, MqttLink& link, PublishFaults& faults, Journal& journal);

protected:
    void handle(const QString& path, const QJsonObject& payload) override;
    void publishRetained() override;
    // {"version"?, "available"?, "download": "ok|fail"?, "install": "success|fail"?, "failCode"?, "stepMs"?}
    bool control(const QJsonObject& params, QString* error) override;
    QJsonObject toJson() const override;

private:
    void publishStatus();
    void progress(const QString& description, int percent, int code);
    void step();

    QString m_version = QStringLiteral("1.0.0");
    QString m_pending;
    QString m_state = QStringLiteral("Idle");
    QString m_available;
    QString m_downloading;
    bool m_downloadFails = false;
    bool m_installFails = false;
    int m_failCode = 102;
    int m_percent = 0;
    QTimer m_steps;
};

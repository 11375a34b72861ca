#pragma once
// The UI's own service on the MQTT broker: answers for its version, status and
// configuration, accepts checked configuration changes, announces itself and leaves a
// last will that marks it as gone.

#include "SettingsValidator.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class Config;

namespace manager {
class MqttClient;
}

class UiMqttService : public QObject
{
    Q_OBJECT
public:
    static const QString kDefaultRoot;

    UiMqttService(manager::MqttClient& mqtt, Config& config, QObject* parent = nullptr);

    // Whether a maintenance user is logged in, for the status.
    void setTechnician(const std::function<bool()>& technician) { m_technician = technician; }

    // The topic root in force: the setting when it is usable, else the default.
    QString root() const;

    // Client id, last will, broker and credentials from the settings, then connects.
    void configure();

    void subscribeToTopics();
    void publishInfo();
    void publishStatus();
    void publishConfig();

public slots:
    void onConnected();
    void onReceived(const QByteArray& payload, const QByteArray& topic);

signals:
    // After the announcements on a new connection.
    void ready();

private:
    void publish(const QJsonObject& body, const QString& suffix);
    void setConfig(const QJsonDocument& document);

    manager::MqttClient& m_mqtt;
    Config& m_config;
    SettingsValidator m_validator;
    std::function<bool()> m_technician;
    mutable QString m_reportedRoot;
};

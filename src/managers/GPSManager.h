#pragma once
// Client of the local GPS service: device information, fix status and
// telemetry, and switching the receiver on and off.

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QObject>
#include <QString>

namespace manager {

class MqttClient;

class GPSManager : public QObject
{
    Q_OBJECT
public:
    struct Info
    {
        QString firmware;
        QString manufacturer;
        QString model;
        QString imei;
        bool assisted = false;
        QString serviceType;
        QString serviceVersion;
    };

    struct Status
    {
        int fix = 0;
        int state = 0; // -1 while the service is offline
        bool simulation = false;
        QString error;
    };

    struct Telemetry
    {
        double latitude = 0.0;
        double longitude = 0.0;
        double altitude = 0.0;
        double direction = 0.0;
        double groundSpeed = 0.0;
        double verticalSpeed = 0.0;
        double verticalAccuracy = 0.0;
        double horizontalAccuracy = 0.0;
        double magneticVariation = 0.0;
        QDateTime timestamp;
    };

    GPSManager(MqttClient& mqtt, const QString& root, QObject* parent = nullptr);
    ~GPSManager() override;

    const Info& info() const { return m_info; }
    const Status& status() const { return m_status; }
    const Telemetry& telemetry() const { return m_telemetry; }

    // Each returns whether the request reached the broker connection.
    bool enable();
    bool disable();

signals:
    void infoChanged(manager::GPSManager::Info info);
    void statusChanged(manager::GPSManager::Status status);
    void telemetryChanged(manager::GPSManager::Telemetry data);

public slots:
    void onMqttReceived(const QByteArray& payload, const QString& topic);

private:
    void onInfoReceived(const QJsonObject& message);
    void onStatusReceived(const QJsonObject& message);
    void onTelemetryReceived(const QJsonObject& message);

    MqttClient& m_mqtt;
    const QString m_root;
    Info m_info;
    Status m_status;
    Telemetry m_telemetry;
};

} // namespace manager

Q_DECLARE_METATYPE(manager::GPSManager::Info)
Q_DECLARE_METATYPE(manager::GPSManager::Status)
Q_DECLARE_METATYPE(manager::GPSManager::Telemetry)

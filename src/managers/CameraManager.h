#pragma once
// The lane's cameras: builds the camera clients from the camera settings, routes
// their pushes by sender address and runs one camera cycle per vehicle.

#include "Deferred.h"
#include "HttpServer.h"
#include "VAXCamera.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class Config;

namespace manager {

class MqttClient;

class CameraManager : public QObject
{
    Q_OBJECT
public:
    static const QStringList CAMERA_TYPES;
    static constexpr int DataWaitMsec = 10000;

    CameraManager(Config& config, MqttClient& mqtt, QObject* parent = nullptr);
    // Ends the cameras first, so a cycle still running settles while the manager is whole.
    ~CameraManager() override;

    int port() const { return m_port; }
    void setPort(int port);
    const QString& transactionId() const { return m_transactionId; }
    // The cameras of the current settings, in role order.
    const QList<VAXCamera*>& cameras() const { return m_cameras; }
    // The camera whose pushes come from that address, else null.
    VAXCamera* cameraFor(const QHostAddress& peer) const;

    void initCameras();
    // Resolves with the reading map ("Front", "Rear", "Container1", "Container2"); never rejects.
    Deferred<QMap<QString, QString>> cameraProcess(const QString& id);
    Deferred<QList<VAXCamera::Result>> cameraTriggerReceived();
    QMap<QString, QString> parseCameraResults(const QList<VAXCamera::Result>& results) const;

    void subscribeToTopics();
    void onMqttMessageReceived(const QByteArray& payload, const QString& topic);

    // The fixed waits of a cycle; tests shorten them.
    void setDataWaitTimeout(int msec) { m_dataWaitMsec = msec; }
    void setTriggerTimeout(int msec);

signals:
    void camerasResultsChanged(QList<VAXCamera::Result> results);
    void portChanged(int port);

private slots:
    void onConfigChanged(const QVariantMap& changes);

private:
    void runCycle(const Deferred<QList<VAXCamera::Result>>& cycle);
    void onRequestReceived(const QHostAddress& peer, const HttpServer::Request& request);
    void removeCamera(VAXCamera* camera);

    Config& m_config;
    MqttClient& m_mqtt;
    int m_port = 0;
    // Routing table: IPv4 address in host order; cameras without one are not in it.
    QHash<quint32, VAXCamera*> m_table;
    QList<VAXCamera*> m_cameras;
    QString m_transactionId;
    int m_dataWaitMsec = DataWaitMsec;
    int m_triggerTimeoutMsec = VAXCamera::TriggerTimeoutMsec;
    HttpServer m_server;
};

} // namespace manager

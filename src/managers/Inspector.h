#pragma once
// Client of the local system-inspector service: service version and status,
// internal audio volume and playback, statistics requests, and power-off or
// reboot requests, at once or after a delay.

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

namespace manager {

class MqttClient;

class Inspector : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantMap info READ info NOTIFY infoChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QVariantMap memory READ memory NOTIFY memoryChanged)
    Q_PROPERTY(QVariantMap cpu READ cpu NOTIFY cpuChanged)
    Q_PROPERTY(QVariantMap disks READ disks NOTIFY disksChanged)
    Q_PROPERTY(int audioVolume READ audioVolume WRITE setAudioVolume NOTIFY audioVolumeChanged)
public:
    Inspector(MqttClient& client, const QString& root, QObject* parent = nullptr);
    ~Inspector() override;

    const QVariantMap& info() const { return m_info; }
    const QString& status() const { return m_status; }
    const QVariantMap& memory() const { return m_memory; }
    const QVariantMap& cpu() const { return m_cpu; }
    const QVariantMap& disks() const { return m_disks; }
    int audioVolume() const { return m_audioVolume; }

    // Delay between announcing a power request and sending it; tests shorten it.
    void setPowerDelay(int msec) { m_powerDelayMs = msec; }

signals:
    void infoChanged();
    void statusChanged();
    void memoryChanged();
    void cpuChanged();
    void disksChanged();
    void audioVolumeChanged();
    void systemRebootStarted();
    void systemShutdownStarted();
    // A power request that could not be handed to the broker; action is "reboot" or "shutdown".
    void systemPowerFailed(const QString& action);

public slots:
    void refresh();
    // Calls refresh() now and every msec; 0 stops.
    void monitor(int msec);
    void setAudioVolume(int value);
    void audioPlay(const QString& file);
    void systemReboot();
    void systemShutdown();
    void scheduleShutdown(int sec);
    void abortShutdown();
    void onMqttReceived(const QByteArray& payload, const QString& topic);

private:
    void subscribe();
    void setStatus(const QString& status);
    void onInfoReceived(const QJsonObject& message, const QString& topic);
    void onStatusReceived(const QJsonObject& message, const QString& topic);
    void onAudioReceived(const QJsonObject& message, const QString& topic);
    // Announces the request through started and sends it after the power delay; without a
    // connection, now or then, it reports the failure instead.
    void requestPower(const QString& action, void (Inspector::*started)());
    void powerFailed(const QString& action);

    MqttClient& m_client;
    const QString m_root;
    QVariantMap m_info;
    QString m_status;
    QVariantMap m_memory;
    QVariantMap m_cpu;
    QVariantMap m_disks;
    int m_audioVolume = 0;
    QTimer m_monitorTimer;
    QTimer m_shutdownTimer;
    int m_powerDelayMs = 2000;
};

} // namespace manager
